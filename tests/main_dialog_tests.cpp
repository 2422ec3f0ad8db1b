// main_dialog_tests.cpp - the main window: the real dialog procedure on the
// real template, driven by the messages that a user's clicks, keys and
// dropped files send. The message box, the file chooser, the shell opener
// and the HTTP GET are stand-ins that record what they were asked and
// answer as each test scripts them; without a network the player list
// runs from 10 to 25.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "common/platform.h"
#include "dialog_test_support.h"
#include "res/resource.h"
#include "stand_ins/recording_file_dialog.h"
#include "stand_ins/recording_shell_open.h"
#include "stand_ins/scripted_http_get.h"
#include "stand_ins/scripted_message_box.h"
#include "test_support.h"

namespace {

// --- Files -----------------------------------------------------------------

// The movies and projectors that the tests open, made once per run in the
// scratch folder from the project's test players.
const char* const filesFolder = "files";

std::string FilePath(const std::string& name)
{
    return FullPath(std::string(filesFolder) + "\\" + name);
}

// A test player program, by its fixture name.
std::string PlayerPath(const char* name)
{
    return FullPath(FixturePath(name));
}

Bytes PlayerBytes(const char* name)
{
    return ReadWholeFile(FixturePath(name));
}

// Version 11 needs player 10.2, version 15 needs 11.2, version 10 needs 10.0.
Bytes Movie15() { return MakeUncompressedMovie(15, 3000); }
Bytes BigMovieBody() { return PatternBytes(2 << 20, 4, true); }
Bytes LzmaMovie() { return MakeMovie("ZWS", 13, 5000, PatternBytes(500, 3, false)); }

class MovieFiles : public testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(MakeFolder(filesFolder));
        Bytes oldPlayer = PlayerBytes("player-10.0.exe");
        Bytes player112 = PlayerBytes("player-11.2.exe");
        Bytes newPlayer = PlayerBytes("player-32.0.exe");
        Bytes unversioned = PlayerBytes("player.exe");
        ASSERT_FALSE(oldPlayer.empty() || player112.empty() || newPlayer.empty() ||
                     unversioned.empty());
        Write("v11-old-player.exe", MakeProjector(oldPlayer, MakeUncompressedMovie(11, 3000)));
        Write("v15-old-player.exe", MakeProjector(oldPlayer, Movie15()));
        Write("v15-new-player.exe", MakeProjector(newPlayer, Movie15()));
        Write("v10-unversioned-player.exe",
              MakeProjector(unversioned, MakeUncompressedMovie(10, 3000)));
        Write("v15.swf", Movie15());
        Write("lzma.swf", LzmaMovie());
        Write("lzma.exe", MakeProjector(newPlayer, LzmaMovie()));
        Write("notes.txt", Bytes(40, 'x'));
        Write("big.exe", MakeProjector(player112, MakeCompressedMovie(10, BigMovieBody())));
        Bytes damaged = MakeCompressedMovie(10, PatternBytes(50000, 5, true));
        damaged.back() ^= 0xFF;  // the stream's checksum
        Write("damaged.exe", MakeProjector(player112, damaged));
    }

private:
    static void Write(const char* name, const Bytes& bytes)
    {
        WriteWholeFile(std::string(filesFolder) + "/" + name, bytes);
    }
};

testing::Environment* const movieFiles = testing::AddGlobalTestEnvironment(new MovieFiles);

// --- What the dialog did ---------------------------------------------------

void ClearRecords()
{
    recordedFileDialog = RecordedFileDialog();
    recordedShellOpen = RecordedShellOpen();
    scriptedMessageBox.shown.clear();
    scriptedMessageBox.answer = IDOK;
    scriptedMessageBox.whileShown = nullptr;
}

// The messages shown, as "id type" each ("text" for a formatted text).
std::string ShownMessages()
{
    std::string summary;
    for (const ShownMessage& message : scriptedMessageBox.shown) {
        if (!summary.empty())
            summary += ", ";
        summary += (message.id ? std::to_string(message.id) : std::string("text")) + " type " +
                   std::to_string(message.type);
    }
    return summary;
}

std::string Message(UINT id, UINT type)
{
    return std::to_string(id) + " type " + std::to_string(type);
}

const std::vector<std::string> movieFilterFirst = {"Macromedia/Adobe Flash movie (*.swf)", "*.swf",
                                                   "All Files (*.*)", "*.*"};
const std::vector<std::string> projectorFilterFirst = {"Projector (*.exe)", "*.exe",
                                                       "All Files (*.*)", "*.*"};

// The progress bar's messages, recorded by a subclass of the control.
struct BarEvent {
    enum Kind { Position, Shown, Hidden } kind;
    WPARAM position;
    bool barVisible;
    bool linkVisible;
};
std::vector<BarEvent> barEvents;
WNDPROC barProcedure = nullptr;

LRESULT CALLBACK RecordingBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool linkVisible = IsWindowVisible(GetDlgItem(GetParent(bar), IDC_LINK)) != FALSE;
    if (message == PBM_SETPOS) {
        barEvents.push_back(
            {BarEvent::Position, wParam, IsWindowVisible(bar) != FALSE, linkVisible});
    } else if (message == WM_SHOWWINDOW) {
        WPARAM position = (WPARAM)CallWindowProcA(barProcedure, bar, PBM_GETPOS, 0, 0);
        barEvents.push_back({wParam ? BarEvent::Shown : BarEvent::Hidden, position,
                             IsWindowVisible(bar) != FALSE, linkVisible});
    }
    return CallWindowProcA(barProcedure, bar, message, wParam, lParam);
}

// What the bar went through: "set 0" for a reset, "move" for a run of
// positions above 0 shown in the label's place, "show at N", "hide at N".
std::string BarHistory()
{
    std::string history;
    std::string last;
    for (const BarEvent& event : barEvents) {
        std::string word;
        if (event.kind == BarEvent::Position && event.position == 0)
            word = "set 0";
        else if (event.kind == BarEvent::Position)
            word = event.barVisible && !event.linkVisible ? "move" : "move out of sight";
        else if (event.kind == BarEvent::Shown)
            word = "show at " + std::to_string(event.position) +
                   (event.linkVisible ? " beside the label" : "");
        else
            word = "hide at " + std::to_string(event.position);
        if (word == last && word.compare(0, 4, "move") == 0)
            continue;
        history += (history.empty() ? "" : ", ") + word;
        last = word;
    }
    return history;
}

// Handles what is queued for the dialog, as its message loop would.
void PumpDialogMessages(HWND dialog)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// A dropped list of files, as the shell hands it over (ANSI names).
HDROP MakeDrop(const std::vector<std::string>& paths)
{
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& path : paths)
        size += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    DROPFILES* header = (DROPFILES*)GlobalLock(memory);
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* name = (char*)(header + 1);
    for (const std::string& path : paths) {
        memcpy(name, path.c_str(), path.size() + 1);
        name += path.size() + 1;
    }
    GlobalUnlock(memory);
    return (HDROP)memory;
}

void InitControlClasses()
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
}

// --- The shared dialog -----------------------------------------------------

// One shown dialog serves these tests: hiding a shown window costs Wine two
// seconds without a window manager. Each test opens the file it needs and
// picks its options; the checks carry over from test to test as they do
// from file to file.
class MainDialog : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitControlClasses();
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                    MainDlgProc, 0);
        if (!dialog)
            return;
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
        PumpDialogMessages(dialog);
        barProcedure = (WNDPROC)SetWindowLongPtrA(Item(IDC_PROGRESS), GWLP_WNDPROC,
                                                  (LONG_PTR)RecordingBarProc);
    }

    static void TearDownTestSuite()
    {
        if (dialog)
            DestroyWindow(dialog);
        dialog = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(nullptr, dialog);
        ClearRecords();
        barEvents.clear();
        if (!IsChild(dialog, GetFocus()))
            SetFocus(Item(IDC_OPEN));
        folder = FullPath(testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(MakeFolder(folder));
        for (const std::string& name : ListFolder(folder))
            RemoveFile(folder + "\\" + name);
    }

    // A test that stopped half-way leaves the picker closed all the same.
    void TearDown() override
    {
        if (IsWindowVisible(Item(IDC_PLAYERLIST)))
            CloseThePicker();
        ClearRecords();
    }

    static HWND Item(int id) { return GetDlgItem(dialog, id); }
    static bool Checked(int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    static bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }
    static std::string Text(int id) { return WindowText(Item(id)); }

    static testing::AssertionResult FocusIsOnAnEnabledControl()
    {
        HWND focus = GetFocus();
        if (!focus || !IsChild(dialog, focus))
            return testing::AssertionFailure() << "no control of the dialog has the focus";
        if (!IsWindowEnabled(focus))
            return testing::AssertionFailure()
                   << "the focus rests on disabled control " << GetDlgCtrlID(focus);
        return testing::AssertionSuccess();
    }

    // A click on a button, which a user can only give an enabled, visible one.
    void Click(int id)
    {
        HWND button = Item(id);
        ASSERT_TRUE(IsWindowEnabled(button) && IsWindowVisible(button))
            << "control " << id << " cannot be clicked";
        SendMessageA(button, BM_CLICK, 0, 0);
        EXPECT_TRUE(FocusIsOnAnEnabledControl()) << "after a click on " << id;
    }

    void Drop(const std::vector<std::string>& paths)
    {
        SendMessageA(dialog, WM_DROPFILES, (WPARAM)MakeDrop(paths), 0);
        EXPECT_TRUE(FocusIsOnAnEnabledControl()) << "after a drop";
    }

    // Open... with the chooser answering `path`.
    void OpenWithButton(const std::string& path)
    {
        recordedFileDialog.answer = path;
        Click(IDC_OPEN);
        recordedFileDialog.answer.clear();
        ASSERT_EQ(path, Text(IDC_MOVIEPATH)) << "the file did not open";
    }

    // Checks the two options; `addPlayer` is what the chooser gives for
    // Add/replace from.
    void ChooseOptions(int movieOption, int playerOption, const std::string& addPlayer = "")
    {
        Click(movieOption);
        recordedFileDialog.answer = addPlayer;
        Click(playerOption);
        ASSERT_TRUE(Checked(movieOption) && Checked(playerOption));
        ClearRecords();
    }

    void CloseThePicker()
    {
        SendMessageA(Item(IDC_PLAYERLIST), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_FALSE(IsWindowVisible(Item(IDC_PLAYERLIST)));
        EXPECT_TRUE(IsWindowVisible(Item(IDC_GETPLAYER)));
    }

    std::string OutputPath(const std::string& name) const { return folder + "\\" + name; }

    static HWND dialog;
    std::string folder;  // the test's own output folder, emptied first
};

HWND MainDialog::dialog = nullptr;

TEST_F(MainDialog, ResultsOfTheDialogProcedure)
{
    OpenWithButton(FilePath("v15.swf"));
    ClearRecords();
    HWND link = Item(IDC_LINK);
    HDC context = GetDC(link);
    DRAWITEMSTRUCT label = {};
    label.CtlType = ODT_STATIC;
    label.CtlID = IDC_LINK;
    label.hwndItem = link;
    label.hDC = context;
    GetClientRect(link, &label.rcItem);
    DRAWITEMSTRUCT other = label;
    other.CtlID = IDC_INFO;
    other.hwndItem = Item(IDC_INFO);
    HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
    HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    const LPARAM overClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);

    struct ResultCase {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        INT_PTR result;
        LONG_PTR messageResult;  // DWLP_MSGRESULT afterwards
        HCURSOR cursor;
    };
    const ResultCase cases[] = {
        {"IDOK", WM_COMMAND, IDOK, 0, TRUE, 0, arrow},
        {"the movie path box", WM_COMMAND, IDC_MOVIEPATH, 0, TRUE, 0, arrow},
        {"the player path box", WM_COMMAND, IDC_PLAYERPATH, 0, TRUE, 0, arrow},
        {"the information box", WM_COMMAND, IDC_INFO, 0, TRUE, 0, arrow},
        {"the progress bar", WM_COMMAND, IDC_PROGRESS, 0, TRUE, 0, arrow},
        {"a notification of a box", WM_COMMAND, MAKEWPARAM(IDC_MOVIEPATH, EN_SETFOCUS),
         (LPARAM)Item(IDC_MOVIEPATH), FALSE, 0, arrow},
        {"a notification of the player list", WM_COMMAND, MAKEWPARAM(IDC_PLAYERLIST, CBN_SELCHANGE),
         (LPARAM)Item(IDC_PLAYERLIST), TRUE, 0, arrow},
        {"the cursor over the label", WM_SETCURSOR, (WPARAM)link, overClient, TRUE, TRUE, hand},
        {"the cursor over a button", WM_SETCURSOR, (WPARAM)Item(IDC_OPEN), overClient, FALSE, 0,
         arrow},
        {"the cursor over the dialog", WM_SETCURSOR, (WPARAM)dialog, overClient, FALSE, 0, arrow},
        {"drawing the label", WM_DRAWITEM, IDC_LINK, (LPARAM)&label, TRUE, 0, arrow},
        {"drawing another control", WM_DRAWITEM, IDC_INFO, (LPARAM)&other, FALSE, 0, arrow},
        {"drawing without a structure", WM_DRAWITEM, IDC_LINK, 0, FALSE, 0, arrow},
        {"another message", WM_MOUSEMOVE, 0, 0, FALSE, 0, arrow},
    };
    for (const ResultCase& test : cases) {
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
        SetCursor(arrow);
        EXPECT_EQ(test.result, MainDlgProc(dialog, test.message, test.wParam, test.lParam))
            << test.name;
        EXPECT_EQ(test.messageResult, GetWindowLongPtrA(dialog, DWLP_MSGRESULT)) << test.name;
        EXPECT_EQ(test.cursor, GetCursor()) << test.name;
    }
    ReleaseDC(link, context);
    // None of them did anything.
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(FilePath("v15.swf"), Text(IDC_MOVIEPATH));
    EXPECT_EQ("", ShownMessages());
    EXPECT_EQ(0, recordedFileDialog.calls);
    EXPECT_TRUE(recordedShellOpen.targets.empty());
}

TEST_F(MainDialog, SaveIsEnabledWhenEitherGroupIsNotOnKeep)
{
    OpenWithButton(FilePath("v15-new-player.exe"));
    ChooseOptions(IDC_MOVIE_KEEP, IDC_PLAYER_KEEP);
    EXPECT_FALSE(Enabled(IDC_SAVE));
    struct Step {
        int click;
        bool saveEnabled;
    };
    const Step steps[] = {
        {IDC_PLAYER_REMOVE, true},  {IDC_PLAYER_KEEP, false},    {IDC_MOVIE_DECOMPRESS, true},
        {IDC_PLAYER_REMOVE, true},  {IDC_MOVIE_KEEP, true},      {IDC_PLAYER_KEEP, false},
        {IDC_MOVIE_COMPRESS, true}, {IDC_MOVIE_KEEP, false},
    };
    for (const Step& step : steps) {
        Click(step.click);
        EXPECT_EQ(step.saveEnabled, Enabled(IDC_SAVE)) << "after a click on " << step.click;
    }
    EXPECT_EQ("", ShownMessages());
}

TEST_F(MainDialog, LzmaMovieLeavesOnlyKeepInTheMovieGroup)
{
    struct LzmaCase {
        const char* file;
        bool extractEnabled;
    };
    const LzmaCase cases[] = {{"lzma.swf", false}, {"lzma.exe", true}};
    for (const LzmaCase& test : cases) {
        SCOPED_TRACE(test.file);
        OpenWithButton(FilePath("v15-new-player.exe"));
        ChooseOptions(IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP);
        ASSERT_TRUE(Enabled(IDC_SAVE));
        OpenWithButton(FilePath(test.file));
        for (int id = IDC_MOVIE_KEEP; id <= IDC_MOVIE_COMPRESS; id++)
            EXPECT_FALSE(Enabled(id)) << id;
        for (int id = IDC_PLAYER_KEEP; id <= IDC_PLAYER_ADD; id++)
            EXPECT_TRUE(Enabled(id)) << id;
        EXPECT_TRUE(Checked(IDC_MOVIE_KEEP));
        EXPECT_FALSE(Checked(IDC_MOVIE_DECOMPRESS));
        EXPECT_TRUE(Checked(IDC_PLAYER_KEEP));
        EXPECT_FALSE(Enabled(IDC_SAVE));
        EXPECT_EQ(test.extractEnabled, Enabled(IDC_EXTRACT));
        EXPECT_EQ(Message(IDS_LZMA_UNSUPPORTED, MB_ICONINFORMATION), ShownMessages());
        ClearRecords();
    }
}

TEST_F(MainDialog, AddReplaceTakesOnlyAFileWithAPlayer)
{
    OpenWithButton(FilePath("v15.swf"));
    ChooseOptions(IDC_MOVIE_KEEP, IDC_PLAYER_KEEP);
    const std::string player112 = PlayerPath("player-11.2.exe");
    const std::string projector = FilePath("v15-new-player.exe");
    struct AddCase {
        const char* name;
        int movieOption;
        std::string chosen;    // what the chooser gives; empty: cancelled
        int checked;           // the player option afterwards
        std::string playerPath;
        const char* infoLine;  // a line the information shows; null: unchanged
        std::string messages;
        bool saveEnabled;
    };
    const AddCase cases[] = {
        {"a player", IDC_MOVIE_KEEP, player112, IDC_PLAYER_ADD, player112,
         "Add/replace Flash Player version: 11.2", "", true},
        {"a bare movie", IDC_MOVIE_KEEP, FilePath("v15.swf"), IDC_PLAYER_KEEP, player112, nullptr,
         Message(IDS_NOT_PROJECTOR, MB_ICONERROR), false},
        {"a file that is not there", IDC_MOVIE_DECOMPRESS, FilePath("missing.exe"), IDC_PLAYER_KEEP,
         player112, nullptr, Message(IDS_NOT_PROJECTOR, MB_ICONERROR), true},
        {"cancelled, movie decompressed", IDC_MOVIE_DECOMPRESS, "", IDC_PLAYER_KEEP, player112,
         nullptr, "", true},
        {"cancelled, movie kept", IDC_MOVIE_KEEP, "", IDC_PLAYER_KEEP, player112, nullptr, "",
         false},
        {"a projector's player", IDC_MOVIE_KEEP, projector, IDC_PLAYER_ADD, projector,
         "Add/replace Flash Player version: 32.0", "", true},
    };
    for (const AddCase& test : cases) {
        SCOPED_TRACE(test.name);
        Click(test.movieOption);
        std::string infoBefore = Text(IDC_INFO);
        ClearRecords();
        recordedFileDialog.answer = test.chosen;
        Click(IDC_PLAYER_ADD);
        EXPECT_EQ(1, recordedFileDialog.calls);
        EXPECT_EQ(0, recordedFileDialog.save);
        EXPECT_EQ(projectorFilterFirst, recordedFileDialog.filter);
        EXPECT_TRUE(Checked(test.checked));
        if (test.checked == IDC_PLAYER_KEEP) {
            EXPECT_FALSE(Checked(IDC_PLAYER_ADD));
            EXPECT_EQ(Item(IDC_PLAYER_KEEP), GetFocus());
        }
        EXPECT_EQ(test.playerPath, Text(IDC_PLAYERPATH));
        if (test.infoLine)
            EXPECT_NE(std::string::npos, Text(IDC_INFO).find(test.infoLine)) << Text(IDC_INFO);
        else
            EXPECT_EQ(infoBefore, Text(IDC_INFO));
        EXPECT_EQ(test.messages, ShownMessages());
        EXPECT_EQ(test.saveEnabled, Enabled(IDC_SAVE));
    }
}

// Every output chooser here is cancelled, so that nothing is written and
// nothing follows it.
TEST_F(MainDialog, SaveChecksThePlayerVersionBeforeAskingForTheOutput)
{
    struct CheckCase {
        const char* name;
        const char* file;
        int action;
        int movieOption;
        int playerOption;
        const char* addPlayer;  // the test player chosen for Add/replace from
        const char* question;   // how the question begins; null: none is asked
        int answer;
        const char* extension;  // the output chooser's default; null: not asked
        int pickerMajor;        // the entry the picker opens at; 0: stays closed
    };
    const CheckCase cases[] = {
        {"Extract, never checked", "v15-old-player.exe", IDC_EXTRACT, IDC_MOVIE_KEEP,
         IDC_PLAYER_KEEP, nullptr, nullptr, IDOK, "exe", 0},
        {"Keep, the projector's player new enough", "v15-new-player.exe", IDC_SAVE,
         IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, nullptr, nullptr, IDOK, "exe", 0},
        {"Keep, the projector's player too old, No", "v11-old-player.exe", IDC_SAVE,
         IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, nullptr,
         "Current Flash file version: 11\r\nSelected Flash Player version: 10.0\r\n"
         "Required Flash Player version: 10.2\r\n\r\n",
         IDNO, nullptr, 0},
        {"Keep, the projector's player too old, Yes", "v15-old-player.exe", IDC_SAVE,
         IDC_MOVIE_COMPRESS, IDC_PLAYER_KEEP, nullptr,
         "Current Flash file version: 15\r\nSelected Flash Player version: 10.0\r\n"
         "Required Flash Player version: 11.2\r\n\r\n",
         IDYES, nullptr, 11},
        {"Keep, the projector's player without a version", "v10-unversioned-player.exe", IDC_SAVE,
         IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, nullptr,
         "Current Flash file version: 10\r\nSelected Flash Player version: 0.0\r\n"
         "Required Flash Player version: 10.0\r\n\r\n",
         IDNO, nullptr, 0},
        {"Remove, never checked", "v15-old-player.exe", IDC_SAVE, IDC_MOVIE_KEEP,
         IDC_PLAYER_REMOVE, nullptr, nullptr, IDOK, "swf", 0},
        {"Keep on a bare movie, nothing to check", "v15.swf", IDC_SAVE, IDC_MOVIE_DECOMPRESS,
         IDC_PLAYER_KEEP, nullptr, nullptr, IDOK, "swf", 0},
        {"Add/replace, the new player just new enough", "v15-old-player.exe", IDC_SAVE,
         IDC_MOVIE_KEEP, IDC_PLAYER_ADD, "player-11.2.exe", nullptr, IDOK, "exe", 0},
        {"Add/replace, the new player too old", "v15-new-player.exe", IDC_SAVE, IDC_MOVIE_KEEP,
         IDC_PLAYER_ADD, "player-10.0.exe",
         "Current Flash file version: 15\r\nSelected Flash Player version: 10.0\r\n"
         "Required Flash Player version: 11.2\r\n\r\n",
         IDNO, nullptr, 0},
    };
    const std::string questionEnd =
        "Would you like to download appropriate version of the Flash Player?";
    for (const CheckCase& test : cases) {
        SCOPED_TRACE(test.name);
        OpenWithButton(FilePath(test.file));
        ChooseOptions(test.movieOption, test.playerOption,
                      test.addPlayer ? PlayerPath(test.addPlayer) : "");
        scriptedMessageBox.answer = test.answer;
        Click(test.action);

        if (test.question) {
            ASSERT_EQ("text type 52", ShownMessages());
            const std::string& text = scriptedMessageBox.shown[0].text;
            EXPECT_EQ(0u, text.find(test.question)) << text;
            EXPECT_EQ(text.size() - questionEnd.size(), text.rfind(questionEnd)) << text;
        } else {
            EXPECT_EQ("", ShownMessages());
        }
        if (test.extension) {
            EXPECT_EQ(1, recordedFileDialog.calls);
            EXPECT_EQ(1, recordedFileDialog.save);
            EXPECT_EQ(dialog, recordedFileDialog.owner);
            bool movieFirst = std::string(test.extension) == "swf";
            EXPECT_EQ(movieFirst ? movieFilterFirst : projectorFilterFirst,
                      recordedFileDialog.filter);
            EXPECT_EQ(test.extension, recordedFileDialog.defaultExtension);
        } else {
            EXPECT_EQ(0, recordedFileDialog.calls) << "no output name is asked for";
        }
        HWND list = Item(IDC_PLAYERLIST);
        if (test.pickerMajor) {
            EXPECT_TRUE(IsWindowVisible(list));
            EXPECT_FALSE(IsWindowVisible(Item(IDC_GETPLAYER)));
            EXPECT_EQ(test.pickerMajor - 10, SendMessageA(list, CB_GETCURSEL, 0, 0));
            EXPECT_TRUE(SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0));
            CloseThePicker();
        } else {
            EXPECT_FALSE(IsWindowVisible(list));
        }
        EXPECT_TRUE(ListFolder(folder).empty());
        EXPECT_TRUE(recordedShellOpen.targets.empty());
        ClearRecords();
    }
}

TEST_F(MainDialog, SaveAndExtractWriteTheOutputAndSaySo)
{
    Bytes body = BigMovieBody();
    struct WriteCase {
        const char* name;
        const char* file;
        int action;
        int movieOption;
        int playerOption;
        const char* addPlayer;
        Bytes expected;
        const char* barHistory;
    };
    const WriteCase cases[] = {
        {"Save decompressed", "big.exe", IDC_SAVE, IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, nullptr,
         MakeProjector(PlayerBytes("player-11.2.exe"),
                       MakeMovie("FWS", 10, (uint32_t)body.size() + 8, body)),
         "set 0, show at 0, move, set 0, hide at 0"},
        {"Save without the player", "v15-new-player.exe", IDC_SAVE, IDC_MOVIE_KEEP,
         IDC_PLAYER_REMOVE, nullptr, Movie15(), "set 0, show at 0, set 0, hide at 0"},
        {"Save with a player added", "v15.swf", IDC_SAVE, IDC_MOVIE_KEEP, IDC_PLAYER_ADD,
         "player-32.0.exe", MakeProjector(PlayerBytes("player-32.0.exe"), Movie15()),
         "set 0, show at 0, set 0, hide at 0"},
        {"Extract player", "big.exe", IDC_EXTRACT, IDC_MOVIE_DECOMPRESS, IDC_PLAYER_REMOVE, nullptr,
         PlayerBytes("player-11.2.exe"), ""},
    };
    HWND bar = Item(IDC_PROGRESS);
    int output = 0;
    for (const WriteCase& test : cases) {
        SCOPED_TRACE(test.name);
        OpenWithButton(FilePath(test.file));
        ChooseOptions(test.movieOption, test.playerOption,
                      test.addPlayer ? PlayerPath(test.addPlayer) : "");
        barEvents.clear();
        std::string outPath = OutputPath("out-" + std::to_string(++output) + ".bin");
        recordedFileDialog.answer = outPath;
        bool barVisibleAtMessage = true;
        scriptedMessageBox.whileShown = [&](HWND) {
            barVisibleAtMessage = IsWindowVisible(bar) != FALSE;
        };
        Click(test.action);

        EXPECT_EQ(test.expected, ReadWholeFile(outPath));
        EXPECT_EQ(Message(IDS_DONE, MB_ICONINFORMATION), ShownMessages());
        EXPECT_FALSE(barVisibleAtMessage);
        EXPECT_EQ(test.barHistory, BarHistory());
        EXPECT_FALSE(IsWindowVisible(bar));
        EXPECT_TRUE(IsWindowVisible(Item(IDC_LINK)));
        EXPECT_EQ(0, SendMessageA(bar, PBM_GETPOS, 0, 0));
        ClearRecords();
    }
}

TEST_F(MainDialog, FailingSaveOrExtractSaysWhyAndWritesNothing)
{
    struct FailureCase {
        const char* name;
        const char* file;
        int action;
        int movieOption;
        int playerOption;
        const char* output;  // in the test's folder
        UINT message;
    };
    const FailureCase cases[] = {
        {"a damaged compressed movie", "damaged.exe", IDC_SAVE, IDC_MOVIE_DECOMPRESS,
         IDC_PLAYER_KEEP, "out.exe", IDS_ERROR_DAMAGED},
        {"Save into a folder that is not there", "v15-new-player.exe", IDC_SAVE, IDC_MOVIE_KEEP,
         IDC_PLAYER_REMOVE, "missing\\out.swf", IDS_ERROR_CREATE},
        {"Extract into a folder that is not there", "v15-new-player.exe", IDC_EXTRACT,
         IDC_MOVIE_KEEP, IDC_PLAYER_KEEP, "missing\\player.exe", IDS_ERROR_CREATE},
    };
    HWND bar = Item(IDC_PROGRESS);
    for (const FailureCase& test : cases) {
        SCOPED_TRACE(test.name);
        OpenWithButton(FilePath(test.file));
        ChooseOptions(test.movieOption, test.playerOption);
        recordedFileDialog.answer = OutputPath(test.output);
        bool barVisibleAtMessage = true;
        scriptedMessageBox.whileShown = [&](HWND) {
            barVisibleAtMessage = IsWindowVisible(bar) != FALSE;
        };
        Click(test.action);

        ASSERT_EQ(Message(test.message, MB_ICONERROR), ShownMessages());
        EXPECT_FALSE(scriptedMessageBox.shown[0].text.empty()) << "the string table has the text";
        EXPECT_FALSE(barVisibleAtMessage);
        EXPECT_FALSE(IsWindowVisible(bar));
        EXPECT_TRUE(IsWindowVisible(Item(IDC_LINK)));
        EXPECT_TRUE(ListFolder(folder).empty()) << "nothing is written, not even a part";
        ClearRecords();
    }
}

TEST_F(MainDialog, LinkLabelOpensTheAddressAfterTheFirstBar)
{
    struct LinkCase {
        const char* text;
        const char* opened;  // null: nothing
    };
    const LinkCase cases[] = {
        {QUILLARO_LINK_TEXT, QUILLARO_HOME_PAGE},
        {"Notice|   http://example.org/a|b", "http://example.org/a|b"},
        {"Notice without an address", nullptr},
        {"Notice|   ", nullptr},
    };
    HWND link = Item(IDC_LINK);
    for (const LinkCase& test : cases) {
        SCOPED_TRACE(test.text);
        SetWindowTextA(link, test.text);
        recordedShellOpen = RecordedShellOpen();
        // The label notifies its parent of the press of the mouse button.
        SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageA(link, WM_LBUTTONUP, 0, 0);
        if (test.opened) {
            ASSERT_EQ(1u, recordedShellOpen.targets.size());
            EXPECT_EQ(test.opened, recordedShellOpen.targets[0]);
            EXPECT_EQ(dialog, recordedShellOpen.lastWindow);
        } else {
            EXPECT_TRUE(recordedShellOpen.targets.empty());
        }
    }
    SetWindowTextA(link, QUILLARO_LINK_TEXT);
}

TEST_F(MainDialog, DroppingOneFileOpensIt)
{
    const std::string projector = FilePath("v15-new-player.exe");
    struct DropCase {
        const char* name;
        std::vector<std::string> files;
        std::string path;  // IDC_MOVIEPATH afterwards
        bool extractEnabled;
        std::string messages;
    };
    const DropCase cases[] = {
        {"a bare movie", {FilePath("v15.swf")}, FilePath("v15.swf"), false, ""},
        {"two files", {FilePath("v15.swf"), FilePath("lzma.swf")}, projector, true, ""},
        {"a file without a movie", {FilePath("notes.txt")}, projector, true,
         Message(IDS_NOT_MOVIE, MB_ICONERROR)},
    };
    for (const DropCase& test : cases) {
        SCOPED_TRACE(test.name);
        OpenWithButton(projector);
        ChooseOptions(IDC_MOVIE_DECOMPRESS, IDC_PLAYER_REMOVE);
        Drop(test.files);
        EXPECT_EQ(test.path, Text(IDC_MOVIEPATH));
        EXPECT_EQ(test.extractEnabled, Enabled(IDC_EXTRACT));
        EXPECT_EQ(test.messages, ShownMessages());
        // The options carry over to the next file.
        EXPECT_TRUE(Checked(IDC_MOVIE_DECOMPRESS));
        EXPECT_TRUE(Checked(IDC_PLAYER_REMOVE));
        EXPECT_TRUE(Enabled(IDC_SAVE));
        ClearRecords();
    }
}

TEST_F(MainDialog, FocusMovesOnFromAControlThatIsDisabled)
{
    const int focusedControls[] = {IDC_SAVE, IDC_MOVIE_DECOMPRESS};
    for (int focused : focusedControls) {
        SCOPED_TRACE(focused);
        OpenWithButton(FilePath("v15-new-player.exe"));
        ChooseOptions(IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP);
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)Item(focused), TRUE);
        ASSERT_EQ(Item(focused), GetFocus());
        // An LZMA movie disables the movie group and, with it on Keep, Save.
        Drop({FilePath("lzma.swf")});
        EXPECT_EQ(FilePath("lzma.swf"), Text(IDC_MOVIEPATH));
        EXPECT_FALSE(Enabled(focused));
        EXPECT_TRUE(FocusIsOnAnEnabledControl());
        // Passing the focus on clicked nothing on the way.
        EXPECT_TRUE(Checked(IDC_MOVIE_KEEP));
        EXPECT_TRUE(Checked(IDC_PLAYER_KEEP));
        EXPECT_EQ(Message(IDS_LZMA_UNSUPPORTED, MB_ICONINFORMATION), ShownMessages());
        ClearRecords();
    }
}

// --- Start and end ---------------------------------------------------------

// Dialogs of their own, never shown, so that they go without delay.
TEST(MainDialogStart, InitialPathIsOpenedOnceTheMessageLoopRuns)
{
    InitControlClasses();
    struct StartCase {
        const char* name;
        const char* file;  // null: no initial path
        bool opens;
        std::string messages;
    };
    const StartCase cases[] = {
        {"no initial path", nullptr, false, ""},
        {"a projector", "v15-new-player.exe", true, ""},
        {"a text file", "notes.txt", false, Message(IDS_NOT_MOVIE, MB_ICONERROR)},
    };
    for (const StartCase& test : cases) {
        SCOPED_TRACE(test.name);
        ClearRecords();
        std::string path = test.file ? FilePath(test.file) : "";
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN),
                                         nullptr, MainDlgProc,
                                         test.file ? (LPARAM)path.c_str() : 0);
        ASSERT_NE(nullptr, dialog);
        auto item = [dialog](int id) { return GetDlgItem(dialog, id); };
        // Nothing is opened before the dialog's message loop runs.
        EXPECT_EQ(path, WindowText(item(IDC_MOVIEPATH)));
        EXPECT_FALSE(IsWindowEnabled(item(IDC_EXTRACT)));
        EXPECT_EQ("", ShownMessages());

        PumpDialogMessages(dialog);
        EXPECT_EQ(test.messages, ShownMessages());
        EXPECT_EQ(test.opens ? path : "", WindowText(item(IDC_MOVIEPATH)));
        if (test.opens) {
            DWORD start = 1, end = 0;
            SendMessageA(item(IDC_MOVIEPATH), EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
            EXPECT_EQ(0u, start);
            EXPECT_EQ(path.size(), end) << "the whole path is selected";
        }
        for (int id = IDC_MOVIE_KEEP; id <= IDC_PLAYER_ADD; id++)
            EXPECT_EQ(test.opens, IsWindowEnabled(item(id)) != FALSE) << id;
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_MOVIE_KEEP));
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_PLAYER_KEEP));
        EXPECT_EQ(test.opens, IsWindowEnabled(item(IDC_EXTRACT)) != FALSE);
        EXPECT_FALSE(IsWindowEnabled(item(IDC_SAVE)));
        EXPECT_EQ(test.opens, !WindowText(item(IDC_INFO)).empty());

        // The overlapping pairs show one each, and the bar runs 0 to 100.
        EXPECT_TRUE(GetWindowLongA(item(IDC_GETPLAYER), GWL_STYLE) & WS_VISIBLE);
        EXPECT_FALSE(GetWindowLongA(item(IDC_PLAYERLIST), GWL_STYLE) & WS_VISIBLE);
        EXPECT_TRUE(GetWindowLongA(item(IDC_LINK), GWL_STYLE) & WS_VISIBLE);
        EXPECT_FALSE(GetWindowLongA(item(IDC_PROGRESS), GWL_STYLE) & WS_VISIBLE);
        PBRANGE range = {-1, -1};
        SendMessageA(item(IDC_PROGRESS), PBM_GETRANGE, 0, (LPARAM)&range);
        EXPECT_EQ(0, range.iLow);
        EXPECT_EQ(100, range.iHigh);
        EXPECT_NE(0, SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
        EXPECT_NE(0, SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
        EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES)
            << "files may be dropped";
        DestroyWindow(dialog);
    }
    ClearRecords();
}

// What ends the modal dialog of the next test: a message posted to the
// dialog, or to its Exit button, as soon as the window is made.
struct EndCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    bool toExitButton;
};
const EndCase* endCase = nullptr;
HHOOK creationHook = nullptr;
HWND modalDialog = nullptr;

LRESULT CALLBACK PostOnCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        HWND window = (HWND)wParam;
        const CREATESTRUCTA* creation = ((CBT_CREATEWNDA*)lParam)->lpcs;
        bool child = (creation->style & WS_CHILD) != 0;
        if (!child)
            modalDialog = window;
        bool exitButton = child && creation->hMenu == (HMENU)(INT_PTR)IDCANCEL;
        if (endCase->toExitButton ? exitButton : !child)
            PostMessageA(window, endCase->message, endCase->wParam, 0);
    }
    return CallNextHookEx(creationHook, code, wParam, lParam);
}

// Ends a dialog that would not end, so that the test fails instead of hanging.
void CALLBACK EndStuckDialog(HWND, UINT, UINT_PTR, DWORD)
{
    EndDialog(modalDialog, 99);
}

TEST(MainDialogEnd, ExitEscapeAndTheCloseBoxEndTheDialogWithZero)
{
    InitControlClasses();
    const EndCase cases[] = {
        {"Escape", WM_KEYDOWN, VK_ESCAPE, false},
        {"the close box", WM_SYSCOMMAND, SC_CLOSE, false},
        {"Exit", BM_CLICK, 0, true},
    };
    for (const EndCase& test : cases) {
        SCOPED_TRACE(test.name);
        ClearRecords();
        endCase = &test;
        modalDialog = nullptr;
        creationHook = SetWindowsHookExA(WH_CBT, PostOnCreation, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, creationHook);
        UINT_PTR timer = SetTimer(nullptr, 0, 10000, EndStuckDialog);
        INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN),
                                         nullptr, MainDlgProc, 0);
        KillTimer(nullptr, timer);
        UnhookWindowsHookEx(creationHook);
        EXPECT_NE(nullptr, modalDialog);
        EXPECT_EQ(0, result);
        EXPECT_FALSE(IsWindow(modalDialog));
        EXPECT_EQ("", ShownMessages());
    }
}

}  // namespace
