// main_dialog_tests.cpp - the main window: the real dialog procedure on the
// real template, driven by the messages that a user's clicks, keys and
// dropped files send. The message box, the file chooser, the shell opener
// and the HTTP GET are stand-ins that record what they were asked and
// answer as each test scripts them; without a network the player list
// runs from 10 to 25. What the window writes is compared with what
// quillaro-cli, run in-process, writes for the same request.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "cli/cli.h"
#include "common/platform.h"
#include "rebuild/lzma_body.h"
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

Bytes LzmaOf(const Bytes& movie)
{
    uint32_t size = 0;
    unsigned char* encoded = LzmaEncodeMovie(movie.data(), (uint32_t)movie.size(), &size, nullptr);
    Bytes bytes = encoded ? FromBlock(encoded, size) : Bytes();
    MemFree(encoded);
    return bytes;
}
Bytes LzmaMovie() { return LzmaOf(MakeUncompressedMovie(13, 5000)); }

// A movie whose (Re)Compress and LZMA take long enough to be cancelled.
const uint32_t hugeBodyLength = 64 << 20;

// A projector of a Linux layout around a compressed movie.
Bytes LinuxProjector(const char* layout, const char* player, const Bytes& movie)
{
    return MakeLayoutProjector(layout, ReadWholeFile(FixturePath(player)), movie);
}

const char appInfoList[] =
    "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>\n"
    "  <key>CFBundleShortVersionString</key>\n  <string>32.0.0.465</string>\n</dict></plist>";

// The outputs quillaro-cli writes, for comparison.
const char* const commandLineFolder = "command-line";

class MovieFiles : public testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(MakeFolder(filesFolder));
        ASSERT_TRUE(MakeFolder(commandLineFolder));
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
        Write("v10.swf", MakeUncompressedMovie(10, 3000));
        Bytes linuxMovie = MakeCompressedMovie(15, PatternBytes(40000, 7, true));
        Write("linux-game", LinuxProjector("linux-x86_64", "linux-player-x86_64", linuxMovie));
        linuxMovie.resize(linuxMovie.size() / 2);  // the stream cut short
        Write("linux-damaged", LinuxProjector("linux-i386", "linux-player-i386", linuxMovie));
        ASSERT_TRUE(MakeAppFolder(std::string(filesFolder) + "/game.app", Movie15(), appInfoList));
        // Version 13: LZMA takes it.
        Write("huge.swf", MakeUncompressedMovie(13, hugeBodyLength));
    }

private:
    static void Write(const char* name, const Bytes& bytes)
    {
        WriteWholeFile(std::string(filesFolder) + "/" + name, bytes);
    }
};

testing::Environment* const movieFiles = testing::AddGlobalTestEnvironment(new MovieFiles);

// --- What quillaro-cli does ------------------------------------------------

// Runs one command line in-process; its standard output, or "exit N" and
// its errors when it did not end with one of `codes`.
std::string RunCommandLine(std::vector<std::string> words, std::vector<int> codes = {exitDone})
{
    words.insert(words.begin(), "quillaro-cli");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    FILE* out = fopen("cli-stdout.txt", "w+b");
    FILE* err = fopen("cli-stderr.txt", "w+b");
    if (!out || !err)
        return "cannot capture the output";
    int code = CliMain((int)words.size(), argv.data(), out, err);
    std::string printed = ReadStream(out);
    std::string errors = ReadStream(err);
    for (int expected : codes) {
        if (code == expected)
            return printed;
    }
    return "exit " + std::to_string(code) + ": " + errors;
}

// What "quillaro-cli COMMAND IN OUT OPTIONS" writes (extract-player takes
// no options), or empty when it wrote nothing.
Bytes CommandLineOutput(const std::string& command, const std::string& in,
                        const std::vector<std::string>& options)
{
    static int outputs = 0;
    std::string out = FullPath(std::string(commandLineFolder) + "\\out-" + std::to_string(++outputs));
    RemoveFile(out);  // left by an earlier run
    std::vector<std::string> words = {command, in, out};
    words.insert(words.end(), options.begin(), options.end());
    std::string result = RunCommandLine(words, {exitDone, exitSalvaged});
    EXPECT_EQ(std::string::npos, result.find("exit ")) << result;
    return ReadWholeFile(out);
}

// The value of `key` in one line of JSON as written ("null", a number, or
// a string with its quotes).
std::string JsonValue(const std::string& json, const std::string& key)
{
    std::string marker = "\"" + key + "\":";
    size_t start = json.find(marker);
    if (start == std::string::npos)
        return "";
    start += marker.size();
    if (json[start] == '"')
        return json.substr(start, json.find('"', start + 1) + 1 - start);
    return json.substr(start, json.find_first_of(",}", start) - start);
}

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

    // Handles the window's messages until `done` holds, or a minute passed.
    template <typename Condition>
    static bool PumpUntil(Condition done, DWORD timeoutMs = 60000)
    {
        DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > timeoutMs)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            PumpDialogMessages(dialog);
        }
        return true;
    }

    // Until the work that a click started has ended, and any that its end
    // started (a salvage): Save reads "Save" again.
    static void WaitForWork()
    {
        ASSERT_TRUE(PumpUntil([] { return Text(IDC_SAVE) == "Save"; })) << "the work did not end";
    }

    // Until the reading of the open movie has ended.
    static void WaitForReading()
    {
        ASSERT_TRUE(PumpUntil([] {
            return Text(IDC_INFO).find("Movie: being read") == std::string::npos;
        })) << "the reading of the movie did not end";
    }

    // The lines of the information text.
    static std::vector<std::string> InfoLines()
    {
        std::vector<std::string> lines;
        std::string text = Text(IDC_INFO);
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

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
        {IDC_MOVIE_COMPRESS, true}, {IDC_MOVIE_KEEP, false},    {IDC_MOVIE_LZMA, true},
        {IDC_MOVIE_DECOMPRESS, true}, {IDC_MOVIE_KEEP, false},
    };
    for (const Step& step : steps) {
        Click(step.click);
        EXPECT_EQ(step.saveEnabled, Enabled(IDC_SAVE)) << "after a click on " << step.click;
    }
    EXPECT_EQ("", ShownMessages());
}

const int optionButtons[] = {IDC_MOVIE_KEEP,  IDC_MOVIE_DECOMPRESS, IDC_MOVIE_COMPRESS,
                             IDC_MOVIE_LZMA,  IDC_PLAYER_KEEP,      IDC_PLAYER_REMOVE,
                             IDC_PLAYER_ADD};

TEST_F(MainDialog, LzmaMovieOpensWithEveryChoice)
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
        OpenWithButton(FilePath(test.file));
        for (int id : optionButtons)
            EXPECT_TRUE(Enabled(id)) << id;
        EXPECT_TRUE(Checked(IDC_MOVIE_DECOMPRESS)) << "the choices carry over";
        EXPECT_TRUE(Enabled(IDC_SAVE));
        EXPECT_EQ(test.extractEnabled, Enabled(IDC_EXTRACT));
        EXPECT_EQ("", ShownMessages());
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
        WaitForWork();

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
    // A damaged movie asks first: see DamagedMovieAsksWhetherToSaveWhatCanBeRead.
    const FailureCase cases[] = {
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
        WaitForWork();

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
    const int focusedControls[] = {IDC_MOVIE_DECOMPRESS, IDC_OPEN, IDC_GETPLAYER, IDC_EXTRACT};
    for (int focused : focusedControls) {
        SCOPED_TRACE(focused);
        OpenWithButton(FilePath("big.exe"));
        ChooseOptions(IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP);
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)Item(focused), TRUE);
        ASSERT_EQ(Item(focused), GetFocus());
        // Work that runs disables the choices, Open, Get player and Extract
        // player. Save is pressed as the keyboard's Enter would, without
        // taking the focus.
        recordedFileDialog.answer = OutputPath("out.exe");
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE, BN_CLICKED), (LPARAM)Item(IDC_SAVE));
        EXPECT_EQ("Cancel", Text(IDC_SAVE));
        EXPECT_FALSE(Enabled(focused));
        EXPECT_TRUE(FocusIsOnAnEnabledControl());
        // Passing the focus on clicked nothing on the way.
        EXPECT_TRUE(Checked(IDC_MOVIE_DECOMPRESS));
        EXPECT_TRUE(Checked(IDC_PLAYER_KEEP));
        WaitForWork();
        EXPECT_EQ(Message(IDS_DONE, MB_ICONINFORMATION), ShownMessages());
        EXPECT_TRUE(Enabled(focused));
        ClearRecords();
    }
}

// --- Every file the command line opens ------------------------------------

const std::vector<std::string> allFilesOnly = {"All Files (*.*)", "*.*"};

// The window writes what quillaro-cli writes for the same request: LZMA
// both ways, Linux projectors in their layout, a player of the other
// platform, a .app folder's movie.
TEST_F(MainDialog, SavesEqualWhatTheCommandLineWrites)
{
    const std::string player32 = PlayerPath("player-32.0.exe");
    const std::string linuxPlayer = PlayerPath("linux-player-i386");
    struct OutputCase {
        const char* name;
        const char* file;
        int action;
        int movieOption;
        int playerOption;
        std::string addPlayer;
        std::vector<std::string> commandLine;  // the options of save, or {"extract-player"}
        std::vector<std::string> filter;       // what the output chooser offers
    };
    const OutputCase cases[] = {
        {"an LZMA movie decompressed", "lzma.swf", IDC_SAVE, IDC_MOVIE_DECOMPRESS,
         IDC_PLAYER_KEEP, "", {"--movie", "decompress"}, movieFilterFirst},
        {"an LZMA projector recompressed with zlib", "lzma.exe", IDC_SAVE, IDC_MOVIE_COMPRESS,
         IDC_PLAYER_KEEP, "", {"--movie", "compress"}, projectorFilterFirst},
        {"a movie compressed with LZMA", "v15.swf", IDC_SAVE, IDC_MOVIE_LZMA, IDC_PLAYER_KEEP, "",
         {"--movie", "lzma"}, movieFilterFirst},
        {"an LZMA projector compressed with LZMA again, without its player", "lzma.exe", IDC_SAVE,
         IDC_MOVIE_LZMA, IDC_PLAYER_REMOVE, "", {"--movie", "lzma", "--player", "remove"},
         movieFilterFirst},
        {"a Linux x86-64 projector decompressed in its layout", "linux-game", IDC_SAVE,
         IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, "", {"--movie", "decompress"}, allFilesOnly},
        {"a Linux projector saved with a Windows player", "linux-game", IDC_SAVE, IDC_MOVIE_KEEP,
         IDC_PLAYER_ADD, player32, {"--player", "replace=" + player32}, projectorFilterFirst},
        {"a bare movie given a Linux i386 player, whose version is not checked", "v15.swf",
         IDC_SAVE, IDC_MOVIE_COMPRESS, IDC_PLAYER_ADD, linuxPlayer,
         {"--movie", "compress", "--player", "replace=" + linuxPlayer}, allFilesOnly},
        {"the player of a Linux projector extracted", "linux-game", IDC_EXTRACT, IDC_MOVIE_KEEP,
         IDC_PLAYER_KEEP, "", {"extract-player"}, allFilesOnly},
        {"a .app folder's movie saved without its player", "game.app", IDC_SAVE, IDC_MOVIE_LZMA,
         IDC_PLAYER_REMOVE, "", {"--movie", "lzma", "--player", "remove"}, movieFilterFirst},
    };
    int output = 0;
    for (const OutputCase& test : cases) {
        SCOPED_TRACE(test.name);
        // A .app folder comes as a user brings it: dropped on the window.
        if (std::string(test.file) == "game.app")
            Drop({FilePath(test.file)});
        else
            OpenWithButton(FilePath(test.file));
        ASSERT_EQ(FilePath(test.file), Text(IDC_MOVIEPATH));
        ChooseOptions(test.movieOption, test.playerOption, test.addPlayer);
        std::string outPath = OutputPath("out-" + std::to_string(++output));
        recordedFileDialog.answer = outPath;
        Click(test.action);
        WaitForWork();

        EXPECT_EQ(test.filter, recordedFileDialog.filter);
        EXPECT_EQ(Message(IDS_DONE, MB_ICONINFORMATION), ShownMessages());
        bool extract = test.commandLine[0] == "extract-player";
        Bytes expected = CommandLineOutput(extract ? "extract-player" : "save", FilePath(test.file),
                                           extract ? std::vector<std::string>() : test.commandLine);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(expected == ReadWholeFile(outPath)) << "the outputs differ";
        ClearRecords();
    }
}

// An LZMA movie of the corpus decompresses to exactly its uncompressed form.
TEST_F(MainDialog, CorpusLzmaMoviesDecompressToTheirUncompressedForm)
{
    if (!HaveCorpus())
        GTEST_SKIP() << "no corpus";
    int tried = 0;
    for (const ManifestRow& row : ReadManifest()) {
        if (row.signature != "ZWS" || row.fwsSha256 == "-" || row.declaredLength.size() > 6 ||
            tried == 4)
            continue;
        SCOPED_TRACE(row.file);
        tried++;
        OpenWithButton(FullPath(CorpusPath(row.file)));
        ChooseOptions(IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP);
        std::string outPath = OutputPath("movie-" + std::to_string(tried) + ".swf");
        recordedFileDialog.answer = outPath;
        Click(IDC_SAVE);
        WaitForWork();
        EXPECT_EQ(row.fwsSha256, Sha256Hex(ReadWholeFile(outPath)));
        ClearRecords();
    }
    EXPECT_EQ(4, tried);
}

// Refused before the output is asked for, with nothing written: LZMA for a
// movie older than version 13, and the player of a .app folder.
TEST_F(MainDialog, RefusalsComeBeforeTheOutputIsAsked)
{
    struct RefusalCase {
        const char* name;
        const char* file;
        int action;
        int movieOption;
        int playerOption;
        UINT message;        // the string shown; 0: a formatted text
        const char* saying;  // with a formatted text, a part of it
    };
    const RefusalCase cases[] = {
        {"LZMA for a version 10 movie", "v10.swf", IDC_SAVE, IDC_MOVIE_LZMA, IDC_PLAYER_KEEP, 0,
         "This movie is version 10. LZMA needs Flash Player 11 and a movie of version 13 or newer"},
        {"a .app folder's player kept", "game.app", IDC_SAVE, IDC_MOVIE_DECOMPRESS,
         IDC_PLAYER_KEEP, IDS_FOLDER_PLAYER_SAVE, nullptr},
        {"a .app folder's player extracted", "game.app", IDC_EXTRACT, IDC_MOVIE_KEEP,
         IDC_PLAYER_REMOVE, IDS_FOLDER_PLAYER_EXTRACT, nullptr},
    };
    for (const RefusalCase& test : cases) {
        SCOPED_TRACE(test.name);
        Drop({FilePath(test.file)});
        ChooseOptions(test.movieOption, test.playerOption);
        recordedFileDialog.answer = OutputPath("out");
        Click(test.action);
        ASSERT_EQ(1u, scriptedMessageBox.shown.size()) << ShownMessages();
        EXPECT_EQ(test.message, scriptedMessageBox.shown[0].id);
        EXPECT_EQ((UINT)MB_ICONERROR, scriptedMessageBox.shown[0].type);
        if (test.saying) {
            EXPECT_NE(std::string::npos, scriptedMessageBox.shown[0].text.find(test.saying))
                << scriptedMessageBox.shown[0].text;
        }
        EXPECT_EQ(0, recordedFileDialog.calls) << "no output name is asked for";
        EXPECT_EQ("Save", Text(IDC_SAVE));
        EXPECT_TRUE(ListFolder(folder).empty());
        ClearRecords();
    }
}

// Below the versions the window tells what the movie is and holds, as
// "quillaro-cli info --facts" and "check" tell it.
TEST_F(MainDialog, InformationTellsWhatTheMovieHolds)
{
    struct FactsCase {
        std::string path;
        const char* before;  // the line above "Layout: "
        const char* layout;
        const char* compression;
    };
    std::vector<FactsCase> cases = {
        {FilePath("linux-game"), "Current Flash Player version: unknown (Linux player)",
         "Linux projector (x86-64)", "zlib"},
        {FilePath("linux-damaged"), "Current Flash Player version: unknown (Linux player)",
         "Linux projector (i386)", "zlib"},
        {FilePath("damaged.exe"), "Current Flash Player version: 11.2", "Windows projector", "zlib"},
        {FilePath("game.app"), "Current Flash Player version: 32.0", "macOS application", "none"},
        {FilePath("lzma.swf"), "Required minimum Flash Player version: 11.0", "bare movie", "LZMA"},
    };
    // A fractional stage, a fractional frame rate, LZMA, ActionScript 3,
    // a length shorter than the header.
    const char* const corpusMovies[][2] = {
        {"ruffle-from_shumway-gradientTransform.swf", "zlib"},
        {"ruffle-DefineShape.swf", "none"},
        {"ruffle-avm2-rng.swf", "LZMA"},
        {"ruffle-swf-swf_length_zero.swf", "none"},
    };
    for (const auto& movie : corpusMovies) {
        if (HaveCorpus())
            cases.push_back({FullPath(CorpusPath(std::string("swf/") + movie[0])), nullptr,
                             "bare movie", movie[1]});
    }
    for (const FactsCase& test : cases) {
        SCOPED_TRACE(test.path);
        Drop({test.path});
        WaitForReading();
        std::string facts = RunCommandLine({"info", "--facts", "--json", test.path},
                                           {exitDone, exitFailed});
        std::string check = RunCommandLine({"check", "--json", test.path}, {exitDone, exitFailed});
        std::vector<std::string> expected = {std::string("Layout: ") + test.layout,
                                             std::string("Compression: ") + test.compression};
        std::string width = JsonValue(facts, "stage_width");
        if (width != "null")
            expected.push_back("Stage: " + width + " x " + JsonValue(facts, "stage_height") +
                               " pixels");
        if (JsonValue(facts, "frame_rate") != "null")
            expected.push_back("Frames: " + JsonValue(facts, "frame_count") + " at " +
                               JsonValue(facts, "frame_rate") + " per second");
        std::string avm = JsonValue(facts, "avm");
        if (avm != "null")
            expected.push_back(avm == "2" ? "ActionScript: 3" : "ActionScript: 1 or 2");
        std::string problem = JsonValue(check, "problem");
        expected.push_back(problem == "null" ? "Movie: intact"
                                             : "Movie: damaged - " +
                                                   problem.substr(1, problem.size() - 2));

        std::vector<std::string> lines = InfoLines();
        size_t layout = 0;
        while (layout < lines.size() && lines[layout].rfind("Layout: ", 0) != 0)
            layout++;
        ASSERT_LT(layout, lines.size()) << Text(IDC_INFO);
        if (test.before) {
            EXPECT_EQ(test.before, lines[layout - 1]);
        }
        std::vector<std::string> shown(lines.begin() + (long)layout,
                                       lines.begin() + (long)std::min(lines.size(),
                                                                      layout + expected.size()));
        EXPECT_EQ(expected, shown) << Text(IDC_INFO);
        ClearRecords();
    }
}

// A Save that must decode a damaged movie asks whether to save what can be
// read; Yes writes what "save --salvage" writes, No nothing. Keep
// unchanged copies the stored movie and asks nothing.
TEST_F(MainDialog, DamagedMovieAsksWhetherToSaveWhatCanBeRead)
{
    struct DamagedCase {
        const char* name;
        const char* file;
        int movieOption;
        int playerOption;
        int answer;  // to the question; 0: none is asked
        std::vector<std::string> commandLine;  // what writes the same; empty: nothing is written
    };
    const DamagedCase cases[] = {
        {"Decompress, No", "damaged.exe", IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, IDNO, {}},
        {"Decompress, Yes", "damaged.exe", IDC_MOVIE_DECOMPRESS, IDC_PLAYER_KEEP, IDYES,
         {"--movie", "decompress", "--salvage"}},
        {"(Re)Compress without the player, Yes", "damaged.exe", IDC_MOVIE_COMPRESS,
         IDC_PLAYER_REMOVE, IDYES, {"--movie", "decompress", "--salvage", "--player", "remove"}},
        {"a Linux projector cut short, Yes", "linux-damaged", IDC_MOVIE_LZMA, IDC_PLAYER_KEEP,
         IDYES, {"--movie", "decompress", "--salvage"}},
        {"Keep unchanged", "damaged.exe", IDC_MOVIE_KEEP, IDC_PLAYER_REMOVE, 0,
         {"--player", "remove"}},
    };
    int output = 0;
    for (const DamagedCase& test : cases) {
        SCOPED_TRACE(test.name);
        OpenWithButton(FilePath(test.file));
        ChooseOptions(test.movieOption, test.playerOption);
        std::string outPath = OutputPath("out-" + std::to_string(++output));
        recordedFileDialog.answer = outPath;
        scriptedMessageBox.answer = test.answer;
        Click(IDC_SAVE);
        WaitForWork();

        const std::vector<ShownMessage>& shown = scriptedMessageBox.shown;
        size_t told = test.answer ? 1 : 0;
        ASSERT_EQ(test.answer == IDNO ? 1u : told + 1, shown.size()) << ShownMessages();
        if (test.answer) {
            EXPECT_EQ((UINT)IDS_DAMAGED_QUESTION, shown[0].id);
            EXPECT_EQ((UINT)(MB_YESNO | MB_ICONWARNING), shown[0].type);
            EXPECT_EQ(0u, shown[0].text.find("This movie is damaged")) << shown[0].text;
        }
        if (test.commandLine.empty()) {
            EXPECT_TRUE(ListFolder(folder).empty());
        } else {
            EXPECT_EQ((UINT)MB_ICONINFORMATION, shown[told].type);
            EXPECT_EQ(0u, shown[told].text.find("Operation completed")) << shown[told].text;
            Bytes expected = CommandLineOutput("save", FilePath(test.file), test.commandLine);
            ASSERT_FALSE(expected.empty());
            EXPECT_TRUE(expected == ReadWholeFile(outPath)) << "the outputs differ";
        }
        ClearRecords();
    }
}

// Cancel stops a long conversion within a second of the press and leaves
// the folder as it was; the information text says so.
TEST_F(MainDialog, CancelStopsTheWorkPromptlyAndWritesNothing)
{
    const int conversions[] = {IDC_MOVIE_COMPRESS, IDC_MOVIE_LZMA};
    for (int conversion : conversions) {
        SCOPED_TRACE(conversion);
        OpenWithButton(FilePath("huge.swf"));
        ChooseOptions(conversion, IDC_PLAYER_KEEP);
        recordedFileDialog.answer = OutputPath("huge-out.swf");
        Click(IDC_SAVE);
        EXPECT_EQ("Cancel", Text(IDC_SAVE));
        for (int id : {IDC_OPEN, IDC_GETPLAYER, IDC_EXTRACT, IDC_MOVIE_KEEP, IDC_PLAYER_ADD})
            EXPECT_FALSE(Enabled(id)) << id;
        // The window's thread is free meanwhile: the bar moves.
        ASSERT_TRUE(PumpUntil([] { return SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0) > 0; }));
        DWORD pressed = GetTickCount();
        Click(IDC_SAVE);
        WaitForWork();
        DWORD took = GetTickCount() - pressed;
        RecordProperty(conversion == IDC_MOVIE_LZMA ? "lzma_cancel_ms" : "zlib_cancel_ms", (int)took);
        EXPECT_LT(took, 1000u) << "the work stopped " << took << " ms after Cancel";
        EXPECT_TRUE(ListFolder(folder).empty()) << "no output, no temporary file";
        EXPECT_EQ("Cancelled: nothing was written.", InfoLines().back());
        EXPECT_EQ("", ShownMessages());
        EXPECT_TRUE(Enabled(IDC_OPEN) && Enabled(IDC_MOVIE_KEEP) && Enabled(IDC_GETPLAYER));
        EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS)));
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
        {"a Linux projector", "linux-game", true, ""},
        {"a .app folder", "game.app", true, ""},
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
        for (int id : optionButtons)
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

// Closing the window while work runs cancels the work: the dialog ends
// once it has stopped, with nothing written. Destroying the window stops
// it at once.
const char* const closingFolder = "closing";
std::string closingOutput;
bool closingWorkStarted = false;

LRESULT CALLBACK RecordDialogCreation(int code, WPARAM wParam, LPARAM lParam)
{
    // The dialog is the first window made; others (the system's own) may follow.
    if (code == HCBT_CREATEWND && !modalDialog &&
        !(((CBT_CREATEWNDA*)lParam)->lpcs->style & WS_CHILD))
        modalDialog = (HWND)wParam;
    return CallNextHookEx(creationHook, code, wParam, lParam);
}

// Starts (Re)Compress of the open movie into `outPath`; true when it runs.
bool StartLongSave(HWND dialog, const std::string& outPath)
{
    SendMessageA(GetDlgItem(dialog, IDC_MOVIE_COMPRESS), BM_CLICK, 0, 0);
    recordedFileDialog.answer = outPath;
    SendMessageA(GetDlgItem(dialog, IDC_SAVE), BM_CLICK, 0, 0);
    return WindowText(GetDlgItem(dialog, IDC_SAVE)) == "Cancel";
}

void CALLBACK CloseDuringWork(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    closingWorkStarted = StartLongSave(modalDialog, closingOutput);
    PostMessageA(modalDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

TEST(MainDialogEnd, ClosingOrDestroyingWhileWorkRunsCancelsItAndWritesNothing)
{
    InitControlClasses();
    ClearRecords();
    ASSERT_TRUE(MakeFolder(closingFolder));
    closingOutput = FullPath(std::string(closingFolder) + "\\out.swf");
    std::string path = FilePath("huge.swf");

    // Closed: the modal dialog, opened on the movie, is closed while it
    // saves, once its message loop runs.
    modalDialog = nullptr;
    creationHook = SetWindowsHookExA(WH_CBT, RecordDialogCreation, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, creationHook);
    UINT_PTR close = SetTimer(nullptr, 0, 500, CloseDuringWork);
    UINT_PTR stuck = SetTimer(nullptr, 0, 30000, EndStuckDialog);
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN),
                                     nullptr, MainDlgProc, (LPARAM)path.c_str());
    KillTimer(nullptr, stuck);
    KillTimer(nullptr, close);
    UnhookWindowsHookEx(creationHook);
    EXPECT_TRUE(closingWorkStarted);
    EXPECT_EQ(0, result);
    EXPECT_TRUE(ListFolder(closingFolder).empty()) << "no output, no temporary file";

    // Destroyed.
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN),
                                     nullptr, MainDlgProc, (LPARAM)path.c_str());
    ASSERT_NE(nullptr, dialog);
    PumpDialogMessages(dialog);
    ASSERT_EQ(path, WindowText(GetDlgItem(dialog, IDC_MOVIEPATH)));
    EXPECT_TRUE(StartLongSave(dialog, closingOutput));
    DestroyWindow(dialog);
    EXPECT_TRUE(ListFolder(closingFolder).empty()) << "no output, no temporary file";
    EXPECT_EQ("", ShownMessages());
    ClearRecords();
}

}  // namespace
