// main_dialog_win.cpp - the main window: opening a movie or projector of
// any layout, the Save choices and their rule, adding a player, Get
// player, the link label, dropped files, and the states of the controls
// while work runs (Save and Extract player are in save_actions_win.cpp).
// The controls hold the state of the choices; every fact about a file is
// read from disk again when an action needs it, but for what the reading
// of the open movie found (dialog_work.h).
#include "app/main_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "res/resource.h"
#include "app/dialog_work.h"
#include "app/info_text.h"
#include "app/player_picker.h"
#include "app/texts.h"

namespace {

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

char* GetControlText(HWND dialog, int id) { return GetItemText(Item(dialog, id)); }

void FocusItem(HWND dialog, int id)
{
    SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)Item(dialog, id), TRUE);
}

// Writes a path into a path box and selects all of it.
void ShowPath(HWND dialog, int id, const char* path)
{
    SetDlgItemTextA(dialog, id, path);
    SendDlgItemMessageA(dialog, id, EM_SETSEL, 0, -1);
}

// The option buttons and the actions they choose.
template <typename Action>
struct Choice {
    int id;
    Action action;
};
typedef Choice<MovieAction> MovieChoice;
typedef Choice<PlayerAction> PlayerChoice;

const MovieChoice movieChoices[] = {
    {IDC_MOVIE_KEEP, MovieAction::Keep},
    {IDC_MOVIE_DECOMPRESS, MovieAction::Decompress},
    {IDC_MOVIE_COMPRESS, MovieAction::Compress},
    {IDC_MOVIE_LZMA, MovieAction::CompressLzma},
};

const PlayerChoice playerChoices[] = {
    {IDC_PLAYER_KEEP, PlayerAction::Keep},
    {IDC_PLAYER_REMOVE, PlayerAction::Remove},
    {IDC_PLAYER_ADD, PlayerAction::AddReplace},
};

// The action of the checked button of a group; the first one's when none
// is checked.
template <typename Action, size_t count>
Action CheckedAction(HWND dialog, const Choice<Action> (&choices)[count])
{
    for (const Choice<Action>& choice : choices) {
        if (IsDlgButtonChecked(dialog, choice.id) == BST_CHECKED)
            return choice.action;
    }
    return choices[0].action;
}

// Checks button `id` of a group and unchecks the others.
template <typename Action, size_t count>
void CheckChoice(HWND dialog, const Choice<Action> (&choices)[count], int id)
{
    for (const Choice<Action>& choice : choices)
        CheckDlgButton(dialog, choice.id, choice.id == id ? BST_CHECKED : BST_UNCHECKED);
}

// Save is enabled exactly when one of the groups is not on Keep unchanged.
void ApplySaveRule(HWND dialog)
{
    BOOL bothKeep = IsDlgButtonChecked(dialog, IDC_MOVIE_KEEP) == BST_CHECKED &&
                    IsDlgButtonChecked(dialog, IDC_PLAYER_KEEP) == BST_CHECKED;
    EnableItem(dialog, IDC_SAVE, !bothKeep);
}

BOOL OnInitDialog(HWND dialog, const char* initialPath)
{
    BeginWindowWork(dialog);
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ShowWindow(Item(dialog, IDC_PROGRESS), SW_HIDE);
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);
    CheckChoice(dialog, movieChoices, IDC_MOVIE_KEEP);
    CheckChoice(dialog, playerChoices, IDC_PLAYER_KEEP);
    SetOptionButtonsState(dialog, optionsDisabled);
    EnableItem(dialog, IDC_EXTRACT, FALSE);
    EnableItem(dialog, IDC_SAVE, FALSE);
    FocusItem(dialog, IDC_OPEN);
    if (initialPath) {
        // Opened once the dialog is shown, by the Open handling.
        SetDlgItemTextA(dialog, IDC_MOVIEPATH, initialPath);
        PostMessageA(dialog, WM_COMMAND, IDC_OPEN, 0);
    }
    ShowWindow(Item(dialog, IDC_PLAYERLIST), SW_HIDE);
    DragAcceptFiles(dialog, TRUE);
    return TRUE;
}

// Opens `path` (a movie, a projector of any layout, a .app folder) as the
// movie file and starts reading the movie, or tells the user it holds no
// movie. Extract player is enabled for every player, a .app folder's too,
// which it then refuses with a message.
void OpenMovieFile(HWND dialog, const char* path)
{
    MovieInfo info;
    InspectMovie(path, &info);
    if (info.movieSize == 0) {
        ShowMessage(dialog, IDS_NOT_MOVIE, MB_ICONERROR);
        return;
    }
    ShowPath(dialog, IDC_MOVIEPATH, path);
    EnableItem(dialog, IDC_EXTRACT, info.layout != PlayerLayout::None);
    SetLastInfoLine(dialog, 0);
    StartReading(dialog, path);
    ShowInfo(dialog);
    SetOptionButtonsState(dialog, optionsEnabled);
    ApplySaveRule(dialog);
}

void OnReadingEnded(HWND dialog, WPARAM number)
{
    if (TakeEndedReading(dialog, number))
        ShowInfo(dialog);
}

// A click asks for the file; the command posted at start (lParam 0)
// takes the path that start-up wrote into the path box.
void OnOpen(HWND dialog, LPARAM lParam)
{
    char* path;
    if (lParam != 0) {
        path = ChooseFile(dialog, movieFilter | projectorFilter, chooseToOpen);
    } else {
        path = GetControlText(dialog, IDC_MOVIEPATH);
        SetDlgItemTextA(dialog, IDC_MOVIEPATH, "");
    }
    if (path)
        OpenMovieFile(dialog, path);
    MemFree(path);
}

// A file dropped while work runs is not opened: Open is disabled then.
void OnDropFiles(HWND dialog, HDROP drop)
{
    if (!WorkRunning(dialog) && DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        UINT length = DragQueryFileA(drop, 0, nullptr, 0);
        char* name = (char*)MemAlloc((size_t)length + 1);
        if (name && DragQueryFileA(drop, 0, name, length + 1) == length) {
            char* path = GetFullPath(name);
            if (path)
                OpenMovieFile(dialog, path);
            MemFree(path);
        }
        MemFree(name);
    }
    DragFinish(drop);
}

PackedVersion RequiredVersionOfPath(const char* path)
{
    MovieInfo info;
    InspectMovie(path, &info);
    return info.movieSize != 0 ? RequiredPlayerVersion(info.header) : 0;
}

void OnGetPlayer(HWND dialog)
{
    char* moviePath = GetControlText(dialog, IDC_MOVIEPATH);
    PackedVersion required = moviePath ? RequiredVersionOfPath(moviePath) : 0;
    MemFree(moviePath);
    ShowPlayerPicker(dialog, required);
}

// Puts the player group back on Keep unchanged, with the focus.
void ResetPlayerChoice(HWND dialog)
{
    CheckChoice(dialog, playerChoices, IDC_PLAYER_KEEP);
    FocusItem(dialog, IDC_PLAYER_KEEP);
}

// Takes a Windows or Linux player program or projector, whose player the
// output then holds in its layout.
void OnAddReplace(HWND dialog)
{
    char* path = ChooseFile(dialog, projectorFilter, chooseToOpen);
    if (!path) {
        ResetPlayerChoice(dialog);
        SendMessageA(dialog, WM_COMMAND, IDC_PLAYER_KEEP, (LPARAM)Item(dialog, IDC_PLAYER_KEEP));
        return;
    }
    MovieInfo info;
    InspectMovie(path, &info);
    if (info.playerSize != 0) {
        ShowPath(dialog, IDC_PLAYERPATH, path);
        ShowInfo(dialog);
    } else {
        ResetPlayerChoice(dialog);
        ApplySaveRule(dialog);
        ShowMessage(dialog, IDS_NOT_PROJECTOR, MB_ICONERROR);
    }
    MemFree(path);
}

void OnOptionButton(HWND dialog, int id)
{
    if (id == IDC_PLAYER_ADD && IsDlgButtonChecked(dialog, IDC_PLAYER_ADD) != BST_CHECKED)
        return;
    ApplySaveRule(dialog);
    if (id == IDC_PLAYER_ADD)
        OnAddReplace(dialog);
}

// The link label's text is a notice, "|", and the address to open.
void OnLink(HWND dialog)
{
    char* text = GetControlText(dialog, IDC_LINK);
    if (!text)
        return;
    const char* address = text;
    while (*address && *address != '|')
        address++;
    if (*address == '|') {
        for (address++; *address == ' '; address++) {
        }
        if (*address)
            OpenInShell(dialog, address);
    }
    MemFree(text);
}

INT_PTR OnSetCursor(HWND dialog, WPARAM wParam)
{
    if ((HWND)wParam != Item(dialog, IDC_LINK))
        return FALSE;
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

// The link label is drawn as blue text on the dialog's own background.
INT_PTR OnDrawItem(const DRAWITEMSTRUCT* item)
{
    if (!item || item->CtlID != IDC_LINK)
        return FALSE;
    char* text = GetItemText(item->hwndItem);
    if (!text)
        return FALSE;
    RECT area = item->rcItem;
    SetTextColor(item->hDC, RGB(0, 0, 255));
    SetBkMode(item->hDC, TRANSPARENT);
    DrawTextA(item->hDC, text, -1, &area, DT_SINGLELINE);
    MemFree(text);
    return TRUE;
}

// Closing while work runs cancels it; the window closes once it has ended.
void OnClose(HWND dialog, int, LPARAM)
{
    if (!WorkRunning(dialog)) {
        EndDialog(dialog, 0);
        return;
    }
    RequestClose(dialog);
    CancelWork(dialog);
}

void OnOpenCommand(HWND dialog, int, LPARAM lParam) { OnOpen(dialog, lParam); }
void OnGetPlayerCommand(HWND dialog, int, LPARAM) { OnGetPlayer(dialog); }
void OnOptionCommand(HWND dialog, int id, LPARAM) { OnOptionButton(dialog, id); }
void OnSaveCommand(HWND dialog, int id, LPARAM) { OnSaveOrExtract(dialog, id); }
void OnLinkCommand(HWND dialog, int, LPARAM) { OnLink(dialog); }

// What each button (and the window's close command) does.
struct ButtonAction {
    int id;
    void (*handle)(HWND dialog, int id, LPARAM lParam);
};
const ButtonAction buttonActions[] = {
    {IDCANCEL, OnClose},
    {IDC_OPEN, OnOpenCommand},
    {IDC_GETPLAYER, OnGetPlayerCommand},
    {IDC_MOVIE_KEEP, OnOptionCommand},
    {IDC_MOVIE_DECOMPRESS, OnOptionCommand},
    {IDC_MOVIE_COMPRESS, OnOptionCommand},
    {IDC_MOVIE_LZMA, OnOptionCommand},
    {IDC_PLAYER_KEEP, OnOptionCommand},
    {IDC_PLAYER_REMOVE, OnOptionCommand},
    {IDC_PLAYER_ADD, OnOptionCommand},
    {IDC_EXTRACT, OnSaveCommand},
    {IDC_SAVE, OnSaveCommand},
    {IDC_LINK, OnLinkCommand},
};

INT_PTR OnCommand(HWND dialog, int id, int code, LPARAM lParam)
{
    if (id == IDC_PLAYERLIST) {
        OnPlayerListCommand(dialog, code);
        return TRUE;
    }
    if (code != 0)
        return FALSE;
    for (const ButtonAction& action : buttonActions) {
        if (action.id == id) {
            action.handle(dialog, id, lParam);
            break;
        }
    }
    return TRUE;
}

}  // namespace

void SetOptionButtonsState(HWND dialog, int state)
{
    for (const MovieChoice& choice : movieChoices)
        EnableItem(dialog, choice.id, state == optionsEnabled);
    for (const PlayerChoice& choice : playerChoices)
        EnableItem(dialog, choice.id, state == optionsEnabled);
}

RebuildMode CheckedRebuildMode(HWND dialog)
{
    return MakeRebuildMode(CheckedAction(dialog, playerChoices), CheckedAction(dialog, movieChoices));
}

void ShowWorking(HWND dialog, bool working)
{
    char* label = LoadResString(working ? IDS_BUTTON_CANCEL : IDS_BUTTON_SAVE);
    if (label)
        SetDlgItemTextA(dialog, IDC_SAVE, label);
    MemFree(label);
    EnableItem(dialog, IDC_OPEN, !working);
    EnableItem(dialog, IDC_GETPLAYER, !working);
    SetOptionButtonsState(dialog, working ? optionsDisabled : optionsEnabled);
    BOOL extract = FALSE;
    char* moviePath = working ? nullptr : GetControlText(dialog, IDC_MOVIEPATH);
    if (moviePath) {
        MovieInfo info;
        InspectMovie(moviePath, &info);
        extract = info.layout != PlayerLayout::None;
    }
    MemFree(moviePath);
    EnableItem(dialog, IDC_EXTRACT, extract);
    if (!working)
        ApplySaveRule(dialog);
}

void ShowInfo(HWND dialog)
{
    UpdateInfoText(dialog, FindingsOf(dialog), LastInfoLineOf(dialog));
}

void ShowProgressBar(HWND dialog, BOOL show)
{
    ShowWindow(Item(dialog, IDC_LINK), show ? SW_HIDE : SW_SHOW);
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    ShowWindow(Item(dialog, IDC_PROGRESS), show ? SW_SHOW : SW_HIDE);
    UpdateWindow(dialog);
}

BOOL EnableItem(HWND dialog, int id, BOOL enable)
{
    HWND item = Item(dialog, id);
    if (!enable && GetFocus() == item)
        SendMessageA(dialog, WM_NEXTDLGCTL, 0, 0);
    return EnableWindow(item, enable);
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog, (const char*)lParam);
    case WM_SETCURSOR: return OnSetCursor(dialog, wParam);
    case WM_DRAWITEM: return OnDrawItem((const DRAWITEMSTRUCT*)lParam);
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam), lParam);
    case WM_DROPFILES: OnDropFiles(dialog, (HDROP)wParam); return TRUE;
    case workProgressMessage: OnWorkProgress(dialog, wParam, lParam); return TRUE;
    case workEndedMessage: OnWorkEnded(dialog, wParam); return TRUE;
    case readingEndedMessage: OnReadingEnded(dialog, wParam); return TRUE;
    case WM_DESTROY: EndWindowWork(dialog); return FALSE;
    default: return FALSE;
    }
}
