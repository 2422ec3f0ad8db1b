// main_dialog_win.cpp - the main window: opening a movie or projector,
// the Save choices and their rule, adding a player, Save with the version
// check, Extract player, Get player, the link label and dropped files.
// The controls hold the whole state; every fact about a file is read from
// disk again when an action needs it.
#include "app/main_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "rebuild/rebuild.h"
#include "res/resource.h"
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

// The index of the checked button of the group starting at `firstId`;
// 0 when none is checked.
uint16_t CheckedIndex(HWND dialog, int firstId)
{
    for (int i = 0; i < 3; i++) {
        if (IsDlgButtonChecked(dialog, firstId + i) == BST_CHECKED)
            return (uint16_t)i;
    }
    return 0;
}

// Save is enabled exactly when one of the groups is not on Keep unchanged.
void ApplySaveRule(HWND dialog)
{
    BOOL bothKeep = IsDlgButtonChecked(dialog, IDC_MOVIE_KEEP) == BST_CHECKED &&
                    IsDlgButtonChecked(dialog, IDC_PLAYER_KEEP) == BST_CHECKED;
    EnableItem(dialog, IDC_SAVE, !bothKeep);
}

bool IsLzmaMovie(const MovieInfo& info)
{
    return MovieSignature(info.header) == signatureLzma;
}

BOOL OnInitDialog(HWND dialog, const char* initialPath)
{
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ShowWindow(Item(dialog, IDC_PROGRESS), SW_HIDE);
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);
    CheckRadioButton(dialog, IDC_MOVIE_KEEP, IDC_MOVIE_COMPRESS, IDC_MOVIE_KEEP);
    CheckRadioButton(dialog, IDC_PLAYER_KEEP, IDC_PLAYER_ADD, IDC_PLAYER_KEEP);
    SetOptionButtonsState(dialog, 0);
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

// Opens `path` as the movie file, or tells the user it holds no movie.
void OpenMovieFile(HWND dialog, const char* path)
{
    MovieInfo info;
    InspectMovieFile(path, &info);
    if (info.movieSize == 0) {
        ShowMessage(dialog, IDS_NOT_MOVIE, MB_ICONERROR);
        return;
    }
    ShowPath(dialog, IDC_MOVIEPATH, path);
    EnableItem(dialog, IDC_EXTRACT, info.playerSize != 0);
    UpdateInfoText(dialog);
    SetOptionButtonsState(dialog, IsLzmaMovie(info) ? 2 : 1);
    ApplySaveRule(dialog);
    if (IsLzmaMovie(info))
        ShowMessage(dialog, IDS_LZMA_UNSUPPORTED, MB_ICONINFORMATION);
}

// A click asks for the file; the command posted at start (lParam 0)
// takes the path that start-up wrote into the path box.
void OnOpen(HWND dialog, LPARAM lParam)
{
    char* path;
    if (lParam != 0) {
        path = ChooseFile(dialog, 3, 0);
    } else {
        path = GetControlText(dialog, IDC_MOVIEPATH);
        SetDlgItemTextA(dialog, IDC_MOVIEPATH, "");
    }
    if (path)
        OpenMovieFile(dialog, path);
    MemFree(path);
}

void OnDropFiles(HWND dialog, HDROP drop)
{
    if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
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
    InspectMovieFile(path, &info);
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
    CheckRadioButton(dialog, IDC_PLAYER_KEEP, IDC_PLAYER_ADD, IDC_PLAYER_KEEP);
    FocusItem(dialog, IDC_PLAYER_KEEP);
}

void OnAddReplace(HWND dialog)
{
    char* path = ChooseFile(dialog, 2, 0);
    if (!path) {
        ResetPlayerChoice(dialog);
        SendMessageA(dialog, WM_COMMAND, IDC_PLAYER_KEEP, (LPARAM)Item(dialog, IDC_PLAYER_KEEP));
        return;
    }
    MovieInfo info;
    if (InspectMovieFile(path, &info) != 0) {
        ShowPath(dialog, IDC_PLAYERPATH, path);
        UpdateInfoText(dialog);
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

// The version rule before Save: false when the player that the output
// would hold is older than the movie needs (after asking the user
// whether to get a suitable player).
bool PlayerPassesCheck(HWND dialog, const char* moviePath, const char* playerPath,
                       RebuildMode mode, const MovieInfo& movie)
{
    const char* playerSource = SavedPlayerSource(mode, moviePath, playerPath, movie);
    if (!playerSource)
        return true;
    PackedVersion player = GetPlayerVersion(playerSource);
    PackedVersion required = RequiredPlayerVersion(movie.header);
    if (PlayerIsNewEnough(player, required))
        return true;
    char* text = FormatMismatchMessage(IDS_VERSION_MISMATCH, MovieVersion(movie.header), player,
                                       required);
    if (text && ShowMessage(dialog, (UINT_PTR)text, MB_YESNO | MB_ICONWARNING) == IDYES)
        ShowPlayerPicker(dialog, required);
    MemFree(text);
    return false;
}

// The progress bar of a Save: moved to the percentage of each report, and
// its window repainted at once, as no message loop runs meanwhile.
struct BarProgress {
    HWND bar;
    uint32_t shown;  // the position last set
};

void MoveProgressBar(void* context, uint64_t done, uint64_t total)
{
    BarProgress* progress = (BarProgress*)context;
    uint32_t position = ProgressPercent(done, total);
    if (position == progress->shown)
        return;
    progress->shown = position;
    SendMessageA(progress->bar, PBM_SETPOS, (WPARAM)position, 0);
    UpdateWindow(GetParent(progress->bar));
}

UINT ErrorMessageFor(RebuildError error)
{
    switch (error) {
    case RebuildError::DamagedMovie: return IDS_ERROR_DAMAGED;
    case RebuildError::ReadFailed: return IDS_ERROR_READ;
    case RebuildError::OutOfMemory: return IDS_ERROR_MEMORY;
    case RebuildError::CreateFailed: return IDS_ERROR_CREATE;
    case RebuildError::WriteFailed: return IDS_ERROR_WRITE;
    case RebuildError::NoMovie:
    case RebuildError::NoPlayer: return IDS_ERROR_NO_MOVIE;
    default: return IDS_ERROR_FAILED;
    }
}

// Save (IDC_SAVE) or Extract player (IDC_EXTRACT), from the two path
// boxes and the checked options.
void OnSaveOrExtract(HWND dialog, int id)
{
    char* moviePath = GetControlText(dialog, IDC_MOVIEPATH);
    if (!moviePath)
        return;
    char* playerText = GetControlText(dialog, IDC_PLAYERPATH);
    const char* playerPath = playerText ? playerText : "";
    MovieAction movieAction = (MovieAction)CheckedIndex(dialog, IDC_MOVIE_KEEP);
    PlayerAction playerAction = (PlayerAction)CheckedIndex(dialog, IDC_PLAYER_KEEP);
    MovieInfo movie;
    InspectMovieFile(moviePath, &movie);

    RebuildMode mode = MakeRebuildMode(playerAction, movieAction);
    UINT mask = 2;  // the projector filter first
    bool proceed = true;
    if (id == IDC_SAVE) {
        proceed = PlayerPassesCheck(dialog, moviePath, playerPath, mode, movie);
        if (!SavedPlayerSource(mode, moviePath, playerPath, movie))
            mask = 1;  // the output is a bare movie
    }
    char* outPath = proceed ? ChooseFile(dialog, mask, 1) : nullptr;
    if (outPath) {
        RebuildError error = RebuildError::None;
        bool written;
        if (id == IDC_SAVE) {
            ShowProgressBar(dialog, TRUE);
            BarProgress bar = {Item(dialog, IDC_PROGRESS), 0};
            Progress progress = {MoveProgressBar, &bar};
            written = RebuildMovieFile(&progress, moviePath, outPath, playerPath, mode, &error);
            ShowProgressBar(dialog, FALSE);
        } else {
            written = ExtractPlayer(moviePath, outPath, &error);
        }
        if (written)
            ShowMessage(dialog, IDS_DONE, MB_ICONINFORMATION);
        else
            ShowMessage(dialog, ErrorMessageFor(error), MB_ICONERROR);
    }
    MemFree(outPath);
    MemFree(playerText);
    MemFree(moviePath);
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

INT_PTR OnCommand(HWND dialog, int id, int code, LPARAM lParam)
{
    if (id == IDC_PLAYERLIST) {
        OnPlayerListCommand(dialog, code);
        return TRUE;
    }
    if (code != 0)
        return FALSE;
    switch (id) {
    case IDCANCEL: EndDialog(dialog, 0); break;
    case IDC_OPEN: OnOpen(dialog, lParam); break;
    case IDC_GETPLAYER: OnGetPlayer(dialog); break;
    case IDC_MOVIE_KEEP:
    case IDC_MOVIE_DECOMPRESS:
    case IDC_MOVIE_COMPRESS:
    case IDC_PLAYER_KEEP:
    case IDC_PLAYER_REMOVE:
    case IDC_PLAYER_ADD: OnOptionButton(dialog, id); break;
    case IDC_EXTRACT:
    case IDC_SAVE: OnSaveOrExtract(dialog, id); break;
    case IDC_LINK: OnLink(dialog); break;
    default: break;
    }
    return TRUE;
}

}  // namespace

void SetOptionButtonsState(HWND dialog, int state)
{
    for (int i = 0; i < 3; i++) {
        EnableItem(dialog, IDC_MOVIE_KEEP + i, state == 1);
        EnableItem(dialog, IDC_PLAYER_KEEP + i, state != 0);
    }
    if (state == 2)
        CheckRadioButton(dialog, IDC_MOVIE_KEEP, IDC_MOVIE_COMPRESS, IDC_MOVIE_KEEP);
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
    default: return FALSE;
    }
}
