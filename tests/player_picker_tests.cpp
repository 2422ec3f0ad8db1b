// player_picker_tests.cpp - the player picker on the real dialog template,
// driven by the messages a user's keys send. There is no network here: the
// HTTP GET is a stand-in that answers nothing, so the newest major is 25.
// The shell opener records the addresses instead of opening them.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/player_picker.h"
#include "app/texts.h"
#include "common/platform.h"
#include "net/latest_version.h"
#include "res/resource.h"
#include "stand_ins/recording_shell_open.h"
#include "stand_ins/scripted_http_get.h"

namespace {

// Does what the main dialog does for the picker: hides the list and the
// progress bar at once and hands every command of the list to the picker.
INT_PTR CALLBACK PickerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowWindow(GetDlgItem(dialog, IDC_PLAYERLIST), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_HIDE);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_PLAYERLIST)
            return FALSE;
        OnPlayerListCommand(dialog, HIWORD(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

PackedVersion Version(uint32_t major, uint32_t minor)
{
    return major << 16 | minor;
}

std::string ListEntry(HWND list, int index)
{
    char text[64] = "";
    if (SendMessageA(list, CB_GETLBTEXTLEN, index, 0) < (LRESULT)sizeof text)
        SendMessageA(list, CB_GETLBTEXT, index, (LPARAM)text);
    return text;
}

// One dialog serves every test: hiding a shown window costs Wine two
// seconds without a window manager. Each test leaves the picker closed.
class PlayerPicker : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&classes);
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                    PickerDialogProc, 0);
        creationError = GetLastError();
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
        list = GetDlgItem(dialog, IDC_PLAYERLIST);
        button = GetDlgItem(dialog, IDC_GETPLAYER);
    }

    static void TearDownTestSuite()
    {
        if (dialog)
            DestroyWindow(dialog);
        dialog = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(nullptr, dialog) << "the dialog was not made, error " << creationError;
        ASSERT_FALSE(IsWindowVisible(list));
        recordedShellOpen = RecordedShellOpen();
    }

    // A test that stopped half-way leaves the picker closed all the same.
    void TearDown() override
    {
        if (SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0))
            PressKey(VK_ESCAPE);
    }

    // What the user's keys do on the opened list; the combobox sends the
    // dialog its notifications.
    void PressKey(WPARAM key) { SendMessageA(list, WM_KEYDOWN, key, 0); }

    void ExpectOpen(const char* name)
    {
        EXPECT_TRUE(IsWindowVisible(list)) << name;
        EXPECT_FALSE(IsWindowVisible(button)) << name;
        EXPECT_EQ(list, GetFocus()) << name;
        EXPECT_TRUE(SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0)) << name;
    }

    void ExpectClosed(const char* name)
    {
        EXPECT_FALSE(IsWindowVisible(list)) << name;
        EXPECT_TRUE(IsWindowVisible(button)) << name;
        EXPECT_EQ(button, GetFocus()) << name;
    }

    static HWND dialog;
    static DWORD creationError;
    static HWND list;
    static HWND button;
};

HWND PlayerPicker::dialog = nullptr;
DWORD PlayerPicker::creationError = 0;
HWND PlayerPicker::list = nullptr;
HWND PlayerPicker::button = nullptr;

TEST_F(PlayerPicker, ListsMajorsTenToTwentyFiveWithoutNetwork)
{
    ShowPlayerPicker(dialog, 0);
    ASSERT_EQ(16, SendMessageA(list, CB_GETCOUNT, 0, 0));
    for (int index = 0; index < 16; index++)
        EXPECT_EQ("Player " + std::to_string(index + 10), ListEntry(list, index));
    // Only the first request of the process reaches HttpGet, and it asks
    // for the address in the string table.
    EXPECT_EQ(1, scriptedHttpGet.calls);
    char* address = LoadResString(IDS_LATEST_URL);
    ASSERT_NE(nullptr, address);
    EXPECT_EQ(address, scriptedHttpGet.lastUrl);
    MemFree(address);
    EXPECT_EQ(latestMajorFloor, GetLatestPlayerMajor(nullptr));
    EXPECT_EQ(latestMajorFloor, GetLatestPlayerMajor(nullptr));
    EXPECT_EQ(1, scriptedHttpGet.calls);
}

TEST_F(PlayerPicker, PreselectsTheMajorTheMovieNeeds)
{
    struct PreselectCase {
        const char* name;
        PackedVersion required;
        LRESULT selected;
    };
    // In this order on one dialog: every opening sets the selection anew.
    const PreselectCase cases[] = {
        {"no movie", 0, 0},
        {"11.2", Version(11, 2), 1},
        {"9.0", Version(9, 0), 0},
        {"25.0, the newest listed", Version(25, 0), 15},
        {"29.0, beyond the list", Version(29, 0), CB_ERR},
        {"10.3", Version(10, 3), 0},
        {"65535.0", Version(65535, 0), CB_ERR},
        {"11.2 again", Version(11, 2), 1},
    };
    for (const PreselectCase& test : cases) {
        ShowPlayerPicker(dialog, test.required);
        EXPECT_EQ(test.selected, SendMessageA(list, CB_GETCURSEL, 0, 0)) << test.name;
        ExpectOpen(test.name);
        PressKey(VK_ESCAPE);
        ExpectClosed(test.name);
    }
    EXPECT_TRUE(recordedShellOpen.targets.empty());
    // The list was filled once and asked the network once.
    EXPECT_EQ(16, SendMessageA(list, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(1, scriptedHttpGet.calls);
}

TEST_F(PlayerPicker, ConfirmingAnEntryOpensItsDownloadAddress)
{
    ShowPlayerPicker(dialog, Version(11, 2));
    PressKey(VK_RETURN);
    ASSERT_EQ(1u, recordedShellOpen.targets.size());
    EXPECT_EQ("https://fpdownload.macromedia.com/pub/flashplayer/updaters/11/flashplayer_11_sa.exe",
              recordedShellOpen.targets[0]);
    EXPECT_EQ(dialog, recordedShellOpen.lastWindow);
    ExpectClosed("after Enter");

    // The user moves one entry down before confirming.
    ShowPlayerPicker(dialog, Version(24, 0));
    PressKey(VK_DOWN);
    PressKey(VK_RETURN);
    ASSERT_EQ(2u, recordedShellOpen.targets.size());
    EXPECT_EQ("https://fpdownload.macromedia.com/pub/flashplayer/updaters/25/flashplayer_25_sa.exe",
              recordedShellOpen.targets[1]);
}

TEST_F(PlayerPicker, ConfirmingWithNothingSelectedOpensNothing)
{
    ShowPlayerPicker(dialog, Version(29, 0));
    ASSERT_EQ(CB_ERR, SendMessageA(list, CB_GETCURSEL, 0, 0));
    PressKey(VK_RETURN);
    ExpectClosed("after Enter");
    // The notification alone, as another order of events may bring it.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PLAYERLIST, CBN_SELENDOK), (LPARAM)list);
    EXPECT_TRUE(recordedShellOpen.targets.empty());
}

TEST_F(PlayerPicker, ClosingTheDropDownBringsGetPlayerBack)
{
    ShowPlayerPicker(dialog, 0);
    ExpectOpen("opened");
    SendMessageA(list, CB_SHOWDROPDOWN, FALSE, 0);
    ExpectClosed("closed");
    EXPECT_TRUE(recordedShellOpen.targets.empty());
    // Other notifications leave the picker as it is.
    ShowPlayerPicker(dialog, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PLAYERLIST, CBN_SELENDCANCEL), (LPARAM)list);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PLAYERLIST, CBN_SELCHANGE), (LPARAM)list);
    ExpectOpen("after other notifications");
    PressKey(VK_ESCAPE);
}

TEST_F(PlayerPicker, TheDroppedListHasRoomForTenEntriesInTheButtonsPlace)
{
    RECT buttonRect;
    GetWindowRect(button, &buttonRect);
    ShowPlayerPicker(dialog, 0);
    RECT field;
    GetWindowRect(list, &field);
    EXPECT_EQ(buttonRect.left, field.left);
    EXPECT_EQ(buttonRect.top, field.top);
    EXPECT_EQ(buttonRect.right, field.right);

    COMBOBOXINFO parts;
    memset(&parts, 0, sizeof parts);
    parts.cbSize = sizeof parts;
    ASSERT_TRUE(GetComboBoxInfo(list, &parts));
    ASSERT_TRUE(IsWindowVisible(parts.hwndList));
    RECT dropped;
    GetClientRect(parts.hwndList, &dropped);
    LRESULT itemHeight = SendMessageA(list, CB_GETITEMHEIGHT, 0, 0);
    ASSERT_GT(itemHeight, 0);
    EXPECT_EQ(10, (dropped.bottom - dropped.top) / itemHeight);
    EXPECT_EQ(0, GetWindowLongPtrA(list, GWL_STYLE) & CBS_NOINTEGRALHEIGHT);
    PressKey(VK_ESCAPE);
}

// Handles the window messages that arrive within `milliseconds`.
void PumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(20);
    } while (GetTickCount() - start < milliseconds);
}

bool FileExists(const char* path)
{
    FILE* file = fopen(path, "r");
    if (file)
        fclose(file);
    return file != nullptr;
}

// Not a test: holds the picker open for tools/screenshot-picker, which
// names the two files that it and this program signal each other with.
// Skipped otherwise.
TEST_F(PlayerPicker, HoldOpenForScreenshot)
{
    const char* readyFile = getenv("QUILLARO_PICKER_READY");
    const char* doneFile = getenv("QUILLARO_PICKER_DONE");
    if (!readyFile || !doneFile)
        GTEST_SKIP() << "only for tools/screenshot-picker";
    // The dialog settles first, as it has when a user presses Get player:
    // Wine without a window manager raises a new window a moment after
    // showing it, which would put it over the dropped list.
    PumpMessages(1000);
    ShowPlayerPicker(dialog, Version(11, 2));
    PumpMessages(1000);
    FILE* ready = fopen(readyFile, "w");
    ASSERT_NE(nullptr, ready);
    fclose(ready);
    DWORD start = GetTickCount();
    while (!FileExists(doneFile) && GetTickCount() - start < 60000)
        PumpMessages(50);
    ExpectOpen("held open");
}

}  // namespace
