// player_picker_win.cpp - the player picker: a sorted drop-down list of
// player majors that stands in for the Get player button while it is open.
#include "app/player_picker.h"

#include "common/platform.h"
#include "net/latest_version.h"
#include "res/resource.h"
#include "app/texts.h"

namespace {

const uint32_t firstListedMajor = 10;
// wsprintfA writes at most 1024 characters.
const int formatBufferSize = 1040;

// Adds "Player N" for N from 10 up to the newest major. Entry i is major
// i + 10: every listed major has two digits, so the sorted order of the
// texts is their numeric order.
void FillPlayerList(HWND list)
{
    char* format = LoadResString(IDS_PLAYER_ITEM);
    if (!format)
        return;
    char* address = LoadResString(IDS_LATEST_URL);
    uint32_t newestMajor = GetLatestPlayerMajor(address);
    MemFree(address);
    char entry[formatBufferSize];
    for (uint32_t major = firstListedMajor; major <= newestMajor; major++) {
        wsprintfA(entry, format, (unsigned long)major);
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)entry);
    }
    MemFree(format);
}

void SelectMajor(HWND list, uint32_t major)
{
    LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    uint32_t index = major - firstListedMajor;
    // -1 clears the selection; a major the list does not offer selects none.
    WPARAM selection = count > 0 && index < (uint32_t)count ? (WPARAM)index : (WPARAM)-1;
    SendMessageA(list, CB_SETCURSEL, selection, 0);
}

void OpenDownloadAddress(HWND dialog, HWND list)
{
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    char* format = LoadResString(IDS_PLAYER_URL);
    if (!format)
        return;
    unsigned long major = (unsigned long)index + firstListedMajor;
    char address[formatBufferSize];
    wsprintfA(address, format, major, major);
    OpenInShell(dialog, address);
    MemFree(format);
}

void ClosePicker(HWND dialog)
{
    HWND button = GetDlgItem(dialog, IDC_GETPLAYER);
    ShowWindow(GetDlgItem(dialog, IDC_PLAYERLIST), SW_HIDE);
    ShowWindow(button, SW_SHOW);
    SetFocus(button);
}

}  // namespace

void ShowPlayerPicker(HWND dialog, PackedVersion requiredVersion)
{
    uint32_t major = VersionMajor(requiredVersion);
    if (major < firstListedMajor)
        major = firstListedMajor;
    HWND list = GetDlgItem(dialog, IDC_PLAYERLIST);
    if (SendMessageA(list, CB_GETCOUNT, 0, 0) == 0)
        FillPlayerList(list);
    ShowWindow(GetDlgItem(dialog, IDC_GETPLAYER), SW_HIDE);
    ShowWindow(list, SW_SHOW);
    SelectMajor(list, major);
    SetDropDownHeight(list, 10);
    SetFocus(list);
    SendMessageA(list, CB_SHOWDROPDOWN, TRUE, 0);
}

void SetDropDownHeight(HWND combo, int items)
{
    RECT bounds;
    GetWindowRect(combo, &bounds);
    int width = bounds.right - bounds.left;
    POINT topLeft = {bounds.left, bounds.top};
    ScreenToClient(GetParent(combo), &topLeft);
    int itemHeight = (int)SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0);
    MoveWindow(combo, topLeft.x, topLeft.y, width, (items + 2) * itemHeight, TRUE);
    LONG_PTR style = GetWindowLongPtrA(combo, GWL_STYLE);
    SetWindowLongPtrA(combo, GWL_STYLE, style & ~(LONG_PTR)CBS_NOINTEGRALHEIGHT);
}

void OnPlayerListCommand(HWND dialog, UINT code)
{
    switch (code) {
    case CBN_CLOSEUP:
        ClosePicker(dialog);
        break;
    case CBN_SELENDOK:
        OpenDownloadAddress(dialog, GetDlgItem(dialog, IDC_PLAYERLIST));
        break;
    default:
        break;
    }
}
