// dialog_texts_tests.cpp - the program's resources (dialog template,
// string table, icon, version block, manifest) and the code that reads
// them: resource strings, the mismatch question, message boxes, the
// chooser's filter rules and the information text, on the real dialog.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/info_text.h"
#include "app/texts.h"
#include "cli/cli_internal.h"
#include "common/platform.h"
#include "common/version.h"
#include "dialog_test_support.h"
#include "res/resource.h"
#include "stand_ins/recording_file_dialog.h"
#include "test_support.h"

namespace {

// --- The dialog template -------------------------------------------------

struct TemplateControl {
    DWORD style;
    DWORD extendedStyle;
    short x, y, width, height;
    WORD id;
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style;
    DWORD extendedStyle;
    short x, y, width, height;
    WORD menu;
    WORD windowClass;
    std::string title;
    WORD pointSize;
    std::string face;
    std::vector<TemplateControl> controls;
};

// Reads the 16-bit units of a DLGTEMPLATE resource (not the extended
// form), checking every read against the resource's size.
class TemplateReader {
public:
    TemplateReader(const BYTE* bytes, size_t byteCount) : start(bytes), size(byteCount), offset(0), failed(false) {}

    WORD Word()
    {
        if (offset + 2 > size) {
            failed = true;
            return 0;
        }
        WORD value = (WORD)(start[offset] | start[offset + 1] << 8);
        offset += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | (DWORD)Word() << 16;
    }
    // A NUL-terminated UTF-16 text of ASCII characters.
    std::string Text()
    {
        std::string text;
        for (WORD unit = Word(); unit != 0 && !failed; unit = Word())
            text += unit < 0x80 ? (char)unit : '?';
        return text;
    }
    // A name that is either an ordinal (0xFFFF, number) or a text; an
    // ordinal is given back as "#number".
    std::string NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0)
            return "";
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        offset -= 2;
        return Text();
    }
    void AlignToDword() { offset = (offset + 3) & ~(size_t)3; }

    const BYTE* start;
    size_t size;
    size_t offset;
    bool failed;
};

// The predefined control classes of dialog templates, by ordinal.
std::string ClassOfOrdinal(const std::string& name)
{
    static const char* const classes[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    if (name.size() > 1 && name[0] == '#') {
        int atom = std::stoi(name.substr(1));
        if (atom >= 0x80 && atom <= 0x85)
            return classes[atom - 0x80];
    }
    return name;
}

bool ReadMainTemplate(DialogTemplate* dialog)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5));  // RT_DIALOG
    if (!resource)
        return false;
    const BYTE* bytes = (const BYTE*)LockResource(LoadResource(module, resource));
    if (!bytes)
        return false;
    TemplateReader reader(bytes, SizeofResource(module, resource));
    dialog->style = reader.Dword();
    dialog->extendedStyle = reader.Dword();
    WORD count = reader.Word();
    dialog->x = (short)reader.Word();
    dialog->y = (short)reader.Word();
    dialog->width = (short)reader.Word();
    dialog->height = (short)reader.Word();
    dialog->menu = reader.Word();
    dialog->windowClass = reader.Word();
    dialog->title = reader.Text();
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = reader.Word();
        dialog->face = reader.Text();
    }
    for (WORD i = 0; i < count && !reader.failed; i++) {
        reader.AlignToDword();
        TemplateControl control;
        control.style = reader.Dword();
        control.extendedStyle = reader.Dword();
        control.x = (short)reader.Word();
        control.y = (short)reader.Word();
        control.width = (short)reader.Word();
        control.height = (short)reader.Word();
        control.id = reader.Word();
        control.className = ClassOfOrdinal(reader.NameOrOrdinal());
        control.text = reader.NameOrOrdinal();
        reader.offset += reader.Word();  // creation data
        dialog->controls.push_back(control);
    }
    return !reader.failed;
}

struct ExpectedControl {
    WORD id;
    const char* className;
    const char* text;
    short x, y, width, height;
    DWORD style;  // besides WS_CHILD and WS_VISIBLE, which all have
};

const DWORD pushButton = BS_PUSHBUTTON | WS_TABSTOP;
const DWORD pathBox = ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
// The information box wraps its lines and scrolls what does not fit.
const DWORD infoBox = ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP;

// The movie group is wide enough for "Compress with LZMA"; what stands
// right of it is moved by as much.
const ExpectedControl expectedControls[] = {
    {IDC_OPEN, "BUTTON", "Open...", 187, 7, 50, 14, pushButton},
    {IDC_GETPLAYER, "BUTTON", "Get player...", 187, 27, 50, 14, pushButton},
    {IDC_PLAYERLIST, "COMBOBOX", "", 187, 27, 50, 14,
     CBS_DROPDOWNLIST | CBS_SORT | CBS_HASSTRINGS | CBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP},
    {IDC_MOVIEPATH, "EDIT", "", 7, 7, 175, 15, pathBox},
    {0xFFFF, "BUTTON", "Flash movie file", 7, 22, 90, 60, BS_GROUPBOX},
    {IDC_MOVIE_KEEP, "BUTTON", "Keep unchanged", 12, 32, 81, 8, BS_AUTORADIOBUTTON | WS_GROUP},
    {IDC_MOVIE_DECOMPRESS, "BUTTON", "Decompress", 12, 42, 81, 8, BS_AUTORADIOBUTTON | WS_TABSTOP},
    {IDC_MOVIE_COMPRESS, "BUTTON", "(Re)Compress", 12, 52, 81, 8, BS_AUTORADIOBUTTON | WS_TABSTOP},
    {IDC_MOVIE_LZMA, "BUTTON", "Compress with LZMA", 12, 62, 81, 8, BS_AUTORADIOBUTTON | WS_TABSTOP},
    {IDC_EXTRACT, "BUTTON", "Extract player...", 7, 86, 90, 14, pushButton},
    {0xFFFF, "BUTTON", "Flash Player file", 102, 22, 80, 60, BS_GROUPBOX},
    {IDC_PLAYER_KEEP, "BUTTON", "Keep unchanged", 107, 32, 71, 8, BS_AUTORADIOBUTTON | WS_GROUP},
    {IDC_PLAYER_REMOVE, "BUTTON", "Remove", 107, 42, 71, 8, BS_AUTORADIOBUTTON | WS_TABSTOP},
    {IDC_PLAYER_ADD, "BUTTON", "Add/replace from", 107, 52, 71, 8, BS_AUTORADIOBUTTON | WS_TABSTOP},
    {IDC_PLAYERPATH, "EDIT", "", 107, 62, 70, 15, pathBox},
    {IDC_SAVE, "BUTTON", "Save", 187, 52, 50, 14, pushButton},
    {IDCANCEL, "BUTTON", "Exit", 187, 69, 50, 14, pushButton},
    {IDC_LINK, "STATIC", QUILLARO_LINK_TEXT, 22, 106, 200, 8, SS_OWNERDRAW | SS_NOTIFY},
    {IDC_PROGRESS, "msctls_progress32", "", 17, 105, 211, 10, PBS_SMOOTH},
    {IDC_INFO, "EDIT", "", 17, 120, 210, 100, infoBox},
};
const size_t controlCount = sizeof expectedControls / sizeof expectedControls[0];

TEST(DialogTemplate, DialogHasItsTitleFontSizeAndStyles)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ReadMainTemplate(&dialog));
    EXPECT_EQ(dialog.style, (DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                                    DS_CENTER | DS_SETFONT));
    EXPECT_EQ(dialog.extendedStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.width, 244);
    EXPECT_EQ(dialog.height, 227);
    EXPECT_EQ(dialog.menu, 0) << "no menu";
    EXPECT_EQ(dialog.windowClass, 0) << "the default dialog class";
    EXPECT_EQ(dialog.title, QUILLARO_TITLE);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.face, "Ms Shell Dlg");
}

TEST(DialogTemplate, ControlsAreTheTwentyOfTheLayoutInOrder)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ReadMainTemplate(&dialog));
    ASSERT_EQ(dialog.controls.size(), controlCount);
    for (size_t i = 0; i < controlCount; i++) {
        const ExpectedControl& expected = expectedControls[i];
        const TemplateControl& control = dialog.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(expected.id));
        EXPECT_EQ(control.id, expected.id);
        EXPECT_EQ(lstrcmpiA(control.className.c_str(), expected.className), 0) << control.className;
        EXPECT_EQ(control.text, expected.text);
        EXPECT_EQ(control.x, expected.x);
        EXPECT_EQ(control.y, expected.y);
        EXPECT_EQ(control.width, expected.width);
        EXPECT_EQ(control.height, expected.height);
        EXPECT_EQ(control.style, WS_CHILD | WS_VISIBLE | expected.style);
        EXPECT_EQ(control.extendedStyle, 0u);
    }
}

TEST(DialogTemplate, LinkLabelHoldsANoticeAndAWebAddress)
{
    std::string text = QUILLARO_LINK_TEXT;
    size_t bar = text.find('|');
    ASSERT_NE(bar, std::string::npos);
    EXPECT_GT(bar, 0u) << "a notice comes first";
    std::string address = text.substr(text.find_first_not_of(' ', bar + 1));
    EXPECT_EQ(address, QUILLARO_HOME_PAGE);
    EXPECT_EQ(address.rfind("https://", 0), 0u);
}

TEST(DialogTemplate, CreatedDialogShowsEveryControlInTemplateOrder)
{
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    EXPECT_EQ(WindowText(dialog.window), QUILLARO_TITLE);
    size_t index = 0;
    for (HWND control = GetWindow(dialog.window, GW_CHILD); control;
         control = GetWindow(control, GW_HWNDNEXT), index++) {
        ASSERT_LT(index, controlCount) << "more controls than the template has";
        const ExpectedControl& expected = expectedControls[index];
        SCOPED_TRACE("control " + std::to_string(index + 1) + ", id " + std::to_string(expected.id));
        EXPECT_EQ((WORD)GetDlgCtrlID(control), expected.id);
        char className[64] = "";
        GetClassNameA(control, className, sizeof className);
        EXPECT_EQ(lstrcmpiA(className, expected.className), 0) << className;
        if (expected.id != IDC_PLAYERLIST) {  // a drop-down list shows its selection
            EXPECT_EQ(WindowText(control), expected.text);
        }
        EXPECT_TRUE(GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE)
            << "every control is visible until the dialog procedure hides one";
    }
    EXPECT_EQ(index, controlCount);
}

// --- Icon, version block and manifest ------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

TEST(ProgramResources, IconIsOne32By32ImageIn16Colours)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(IDI_MAIN), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    ASSERT_GE(SizeofResource(module, group), 6 + sizeof(GroupIconEntry));
    const WORD* header = (const WORD*)LockResource(LoadResource(module, group));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header[1], 1) << "an icon";
    ASSERT_EQ(header[2], 1) << "one image";
    GroupIconEntry entry;
    memcpy(&entry, header + 3, sizeof entry);
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.colourCount, 16);
    EXPECT_EQ(entry.bitCount, 4);
    HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(SizeofResource(module, image), entry.bytesInResource);

    HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 32, 32, 0);
    ASSERT_NE(icon, nullptr) << "the system can make an icon of it";
    DestroyIcon(icon);
}

TEST(ProgramResources, VersionBlockSaysTheProjectVersionInUsEnglishWithCodePage1252)
{
    char program[MAX_PATH] = "";
    ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(program, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(program, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void**)&fixed, &length));
    ASSERT_GE(length, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (QUILLARO_VERSION_MAJOR << 16u) + QUILLARO_VERSION_MINOR);
    EXPECT_EQ(fixed->dwFileVersionLS, QUILLARO_VERSION_PATCH << 16u);
    EXPECT_EQ(fixed->dwProductVersionMS, (QUILLARO_VERSION_MAJOR << 16u) + QUILLARO_VERSION_MINOR);
    EXPECT_EQ(fixed->dwProductVersionLS, QUILLARO_VERSION_PATCH << 16u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1252);

    char* productVersion = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductVersion",
                               (void**)&productVersion, &length));
    EXPECT_STREQ(productVersion, QUILLARO_VERSION_QUAD);
}

std::wstring ManifestSetting(const wchar_t* settingsNamespace, const wchar_t* name)
{
    wchar_t value[64] = L"";
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, nullptr, settingsNamespace, name, value, 64, &written))
        return L"(not set)";
    return value;
}

TEST(ProgramResources, ManifestAsksForUtf8LongPathsPerMonitorDpiAndNoElevation)
{
    // The settings as the system read them from the manifest.
    EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2019/WindowsSettings", L"activeCodePage"),
              L"UTF-8");
    EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"longPathAware"),
              L"true");
    EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
              L"true/pm");
    EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              L"PerMonitorV2");

    // The execution level has no query of its own: read it from the text.
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(resource, nullptr);
    std::string manifest((const char*)LockResource(LoadResource(module, resource)),
                         SizeofResource(module, resource));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
}

TEST(ProgramResources, ManifestTakesEffect)
{
    // Per-monitor DPI awareness.
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()),
              DPI_AWARENESS_PER_MONITOR_AWARE);
    EXPECT_TRUE(IsProcessDPIAware());

    // Version 6 of the common controls: the manifest's dependency redirects
    // comctl32.dll to the side-by-side assembly, and that one is loaded.
    ACTCTX_SECTION_KEYED_DATA redirection = {};
    redirection.cbSize = sizeof redirection;
    EXPECT_TRUE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                         "comctl32.dll", &redirection));
    InitCommonControls();
    char controls[MAX_PATH] = "";
    GetModuleFileNameA(GetModuleHandleA("comctl32.dll"), controls, sizeof controls);
    CharLowerA(controls);
    EXPECT_NE(strstr(controls, "\\winsxs\\"), nullptr) << controls;
    EXPECT_NE(strstr(controls, "common-controls_6595b64144ccf1df_6.0."), nullptr) << controls;

    // UTF-8 for every ANSI call.
    EXPECT_EQ(GetACP(), 65001u);
}

// --- Resource strings ----------------------------------------------------

const char* const expectedStrings[] = {
    "",
    "Macromedia/Adobe Flash movie (*.swf)|*.swf|",
    "Projector (*.exe)|*.exe|",
    "All Files (*.*)|*.*|",
    "Current Flash file version: %lu\r\nSelected Flash Player version: %lu.%lu\r\n"
    "Required Flash Player version: %lu.%lu\r\n\r\n"
    "Flash Player version must be equal or higher than required to play this Flash file.\r\n"
    "An older Flash Player can't be merged with a newer Flash file.\r\n\r\n"
    "Would you like to download appropriate version of the Flash Player?",
    "This file not a Flash Player Projector.",
    "This file not a Flash file or missing Flash movie overlay in Flash Player Projector.",
    "Operation completed successfully.",
    "",  // was the refusal of LZMA movies, which now convert
    "Flash movie version: %lu\r\n",
    "Required minimum Flash Player version: %lu.%lu\r\n",
    "Current Flash Player version: %lu.%lu\r\n",
    "Add/replace Flash Player version: %lu.%lu",
    "Player %lu",
    "https://fpdownload.macromedia.com/pub/flashplayer/updaters/%lu/flashplayer_%lu_sa.exe",
    "https://fpdownload.macromedia.com/pub/flashplayer/update/current/sau/currentmajor.xml",
};

// Exact sizes: "Player %lu" (13) takes 11 bytes, the empty entry 0 one.
TEST(LoadResString, EveryEntryOfTheFirstBlockIsItsTextInABlockOfExactSize)
{
    for (UINT id = 0; id < sizeof expectedStrings / sizeof expectedStrings[0]; id++) {
        SCOPED_TRACE("string " + std::to_string(id));
        char* text = LoadResString(id);
        ASSERT_NE(text, nullptr) << "an empty entry still gives a text";
        EXPECT_EQ(LocalSize(text), strlen(expectedStrings[id]) + 1);
        EXPECT_STREQ(text, expectedStrings[id]);
        MemFree(text);
    }
}

TEST(LoadResString, IdInABlockThatDoesNotExistGivesNull)
{
    EXPECT_EQ(LoadResString(4000), nullptr);
    EXPECT_EQ(LoadResString(0xFFF0), nullptr);
}

// --- The mismatch question -----------------------------------------------

TEST(FormatMismatchMessage, NamesTheMovieThePlayerAndTheRequiredVersion)
{
    std::string text = TakeText(FormatMismatchMessage(IDS_VERSION_MISMATCH, 10, 0x000A0000, 0x000B0001));
    EXPECT_EQ(text.substr(0, text.find("\r\n\r\n") + 4),
              "Current Flash file version: 10\r\n"
              "Selected Flash Player version: 10.0\r\n"
              "Required Flash Player version: 11.1\r\n\r\n");
    EXPECT_NE(text.find("\r\nWould you like to download appropriate version of the Flash Player?"),
              std::string::npos);

    // Both halves of a version are shown whole, up to 65535.
    text = TakeText(FormatMismatchMessage(IDS_VERSION_MISMATCH, 255, 0xFFFF0000, 0x0000FFFF));
    EXPECT_EQ(text.rfind("Current Flash file version: 255\r\nSelected Flash Player version: 65535.0\r\n"
                         "Required Flash Player version: 0.65535\r\n",
                         0),
              0u);
}

TEST(FormatMismatchMessage, MissingStringGivesNull)
{
    EXPECT_EQ(FormatMismatchMessage(4000, 10, 0x000A0000, 0x000B0001), nullptr);
}

// --- The file chooser's filters ------------------------------------------

struct ChooserCase {
    UINT mask;
    std::vector<std::string> filter;
    const char* defaultExtension;  // null for none
};

const char movieFilter[] = "Macromedia/Adobe Flash movie (*.swf)";
const char projectorFilter[] = "Projector (*.exe)";
const char allFilter[] = "All Files (*.*)";

TEST(ChooseFile, OffersTheFiltersOfItsMaskAndTheFirstPatternsExtension)
{
    const ChooserCase cases[] = {
        {3, {movieFilter, "*.swf", projectorFilter, "*.exe", allFilter, "*.*"}, "swf"},
        {2, {projectorFilter, "*.exe", allFilter, "*.*"}, "exe"},
        {1, {movieFilter, "*.swf", allFilter, "*.*"}, "swf"},
        // "All Files" alone: a wildcard after the "." gives no extension.
        {0, {allFilter, "*.*"}, nullptr},
    };
    HWND owner = (HWND)(UINT_PTR)0x1234;
    for (const ChooserCase& item : cases) {
        for (int save = 0; save <= 1; save++) {
            SCOPED_TRACE("mask " + std::to_string(item.mask) + (save ? ", save" : ", open"));
            recordedFileDialog = RecordedFileDialog();
            recordedFileDialog.answer = "C:\\movies\\chosen.swf";
            std::string chosen = TakeText(ChooseFile(owner, item.mask, save));
            ASSERT_EQ(recordedFileDialog.calls, 1);
            EXPECT_EQ(recordedFileDialog.owner, owner);
            EXPECT_EQ(recordedFileDialog.save, save);
            EXPECT_EQ(recordedFileDialog.filter, item.filter);
            EXPECT_TRUE(recordedFileDialog.filterTerminated);
            EXPECT_EQ(recordedFileDialog.hasDefaultExtension, item.defaultExtension != nullptr);
            if (item.defaultExtension) {
                EXPECT_EQ(recordedFileDialog.defaultExtension, item.defaultExtension);
            }
            EXPECT_EQ(chosen, "C:\\movies\\chosen.swf") << "the chooser's answer is handed on";
        }
    }
}

TEST(ChooseFile, CancelledChooserGivesNull)
{
    recordedFileDialog = RecordedFileDialog();
    EXPECT_EQ(ChooseFile(nullptr, 3, 0), nullptr);
    EXPECT_EQ(recordedFileDialog.calls, 1);
}

// --- Window texts and message boxes --------------------------------------

TEST(GetItemText, GivesTheWholeTextOrAnAllocatedEmptyOne)
{
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    HWND path = GetDlgItem(dialog.window, IDC_MOVIEPATH);
    char* empty = GetItemText(path);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(LocalSize(empty), 1u);
    EXPECT_STREQ(empty, "");
    MemFree(empty);

    std::string longPath = "C:\\" + std::string(300, 'm') + "\\movie.swf";
    SetWindowTextA(path, longPath.c_str());
    EXPECT_EQ(TakeText(GetItemText(path)), longPath);
    EXPECT_EQ(TakeText(GetItemText(dialog.window)), QUILLARO_TITLE);
}

TEST(GetItemText, NonAsciiPathComesBackWholeInTheAnsiCodePage)
{
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    HWND path = GetDlgItem(dialog.window, IDC_MOVIEPATH);
    const wchar_t wide[] = L"C:\\Filme\\\x00FC\x00E4\x6587\\Spiel.swf";
    SetWindowTextW(path, wide);
    char expected[128] = "";
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, expected, sizeof expected, nullptr, nullptr), 0);
    EXPECT_EQ(TakeText(GetItemText(path)), expected);
}

TEST(ShowMessage, StringIdShowsItsTextCaptionedWithTheDialogsTitle)
{
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    std::string caption, text;
    WindowRobot robot(dialog.window, [&](HWND box) {
        if (!box)
            return;
        caption = WindowText(box);
        text = WindowText(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    int result = ShowMessage(dialog.window, IDS_DONE, MB_OK | MB_ICONINFORMATION);
    robot.Join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(caption, QUILLARO_TITLE);
    EXPECT_EQ(text, "Operation completed successfully.");
}

TEST(ShowMessage, TextIsShownUnchangedAndTheAnswerReturned)
{
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    char* question = FormatMismatchMessage(IDS_VERSION_MISMATCH, 10, 0x00090000, 0x000A0000);
    ASSERT_NE(question, nullptr);
    std::string text;
    WindowRobot robot(dialog.window, [&](HWND box) {
        if (!box)
            return;
        text = WindowText(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDNO, 0);
    });
    int result = ShowMessage(dialog.window, (UINT_PTR)question, MB_YESNO | MB_ICONWARNING);
    robot.Join();
    EXPECT_EQ(result, IDNO);
    EXPECT_EQ(text, question);
    MemFree(question);
}

// --- The information text ------------------------------------------------

struct InfoCase {
    const char* name;
    Bytes movieFile;            // written as the movie path's file; none when empty
    const char* playerFixture;  // the add/replace player; none when null
    const char* expected;
};

TEST(UpdateInfoText, ShowsTheVersionsOfTheMovieAndBothPlayers)
{
    Bytes player10 = ReadWholeFile(FixturePath("player-10.0.exe"));
    Bytes unversioned = ReadWholeFile(FixturePath("player.exe"));
    ASSERT_FALSE(player10.empty());
    ASSERT_FALSE(unversioned.empty());
    const InfoCase cases[] = {
        {"projector of a version 10 movie, player 10.0.45.2",
         MakeProjector(player10, MakeUncompressedMovie(10, 64)), nullptr,
         "Flash movie version: 10\r\nRequired minimum Flash Player version: 10.0\r\n"
         "Current Flash Player version: 10.0\r\n"},
        {"bare version 9 movie, add/replace player 9.0", MakeUncompressedMovie(9, 64), "player-9.0.exe",
         "Flash movie version: 9\r\nRequired minimum Flash Player version: 9.0\r\n"
         "Add/replace Flash Player version: 9.0"},
        {"compressed version 16 movie in a projector, add/replace player 11.2",
         MakeProjector(player10, MakeCompressedMovie(16, PatternBytes(100, 1, true))), "player-11.2.exe",
         "Flash movie version: 16\r\nRequired minimum Flash Player version: 11.3\r\n"
         "Current Flash Player version: 10.0\r\nAdd/replace Flash Player version: 11.2"},
        {"projector whose player has no version", MakeProjector(unversioned, MakeUncompressedMovie(8, 16)),
         nullptr, "Flash movie version: 8\r\nRequired minimum Flash Player version: 8.0\r\n"},
        {"player program without a movie", player10, nullptr, "Current Flash Player version: 10.0\r\n"},
        {"no movie, add/replace player only", Bytes(), "player-11.2.exe",
         "Add/replace Flash Player version: 11.2"},
        {"both boxes empty", Bytes(), nullptr, ""},
    };
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    int number = 0;
    for (const InfoCase& item : cases) {
        SCOPED_TRACE(item.name);
        std::string moviePath;
        if (!item.movieFile.empty()) {
            moviePath = FullPath("info-" + std::to_string(++number) + ".exe");
            WriteWholeFile(moviePath, item.movieFile);
        }
        std::string playerPath = item.playerFixture ? FullPath(FixturePath(item.playerFixture)) : "";
        SetDlgItemTextA(dialog.window, IDC_MOVIEPATH, moviePath.c_str());
        SetDlgItemTextA(dialog.window, IDC_PLAYERPATH, playerPath.c_str());
        SetDlgItemTextA(dialog.window, IDC_INFO, "left over from before");
        UpdateInfoText(dialog.window);
        EXPECT_EQ(WindowText(GetDlgItem(dialog.window, IDC_INFO)), item.expected);
    }
}

// The window tells what is wrong with a damaged movie in the words of
// "quillaro-cli check", from its own string table.
TEST(DamageWords, AreTheWordsOfTheCommandLinesCheck)
{
    struct DamageCase {
        Damage damage;
        const char* signature;
        uint32_t declaredLength;
        uint64_t streamOffset;
        uint64_t decodedLength;
    };
    const DamageCase cases[] = {
        {Damage::DataError, "CWS", 5000, 1234, 300},
        {Damage::DataError, "ZWS", 4000000000u, 3999999999u, 8},
        {Damage::CutShort, "ZWS", 311040, 0, 120136},
        {Damage::BadChecksum, "CWS", 900, 630, 900},
        {Damage::DeclaredTooShort, "CWS", 7, 0, 8},
        {Damage::BadProperties, "ZWS", 1000, 0, 8},
    };
    for (const DamageCase& test : cases) {
        MovieCheck check = {};
        check.health = MovieHealth::Damaged;
        check.info.header = (uint32_t)test.signature[0] | (uint32_t)test.signature[1] << 8 |
                            (uint32_t)test.signature[2] << 16 | 15u << 24;
        check.info.fileLength = test.declaredLength;
        check.damage = test.damage;
        check.streamOffset = test.streamOffset;
        check.decodedLength = test.decodedLength;
        std::string expected = DamageText(test.damage, check.info.header, test.declaredLength,
                                          test.streamOffset, test.decodedLength);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(TakeText(DamageWords(check)), expected);
    }
    MovieCheck intact = {};
    EXPECT_EQ(DamageWords(intact), nullptr);
}

TEST(UpdateInfoText, MissingFilesLeaveTheirLinesOut)
{
    TemplateDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    SetDlgItemTextA(dialog.window, IDC_MOVIEPATH, FullPath("no such movie.swf").c_str());
    SetDlgItemTextA(dialog.window, IDC_PLAYERPATH, FullPath("no such player.exe").c_str());
    SetDlgItemTextA(dialog.window, IDC_INFO, "left over from before");
    UpdateInfoText(dialog.window);
    EXPECT_EQ(WindowText(GetDlgItem(dialog.window, IDC_INFO)), "");
}

}  // namespace
