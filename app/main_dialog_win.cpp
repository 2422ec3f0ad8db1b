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
    SetOptionButtonsState(dialog, IsLzmaMovie(info) ? optionsPlayerOnly : optionsEnabled);
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
        path = ChooseFile(dialog, movieFilter | projectorFilter, chooseToOpen);
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
    char* path = ChooseFile(dialog, projectorFilter, chooseToOpen);
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

// The window's words for each kind of failure: the string table's entries.
struct FailureMessage {
    FailureKind kind;
    UINT message;
};
const FailureMessage failureMessages[] = {
    {FailureKind::DamagedMovie, IDS_ERROR_DAMAGED},
    {FailureKind::ReadFailed, IDS_ERROR_READ},
    {FailureKind::OutOfMemory, IDS_ERROR_MEMORY},
    {FailureKind::CreateFailed, IDS_ERROR_CREATE},
    {FailureKind::WriteFailed, IDS_ERROR_WRITE},
    {FailureKind::NoMovie, IDS_ERROR_NO_MOVIE},
    {FailureKind::NoPlayer, IDS_ERROR_NO_MOVIE},
};

UINT ErrorMessageFor(const Failure& failure)
{
    for (const FailureMessage& entry : failureMessages) {
        if (entry.kind == failure.kind)
            return entry.message;
    }
    return IDS_ERROR_FAILED;
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
    MovieAction movieAction = CheckedAction(dialog, movieChoices);
    PlayerAction playerAction = CheckedAction(dialog, playerChoices);
    MovieInfo movie;
    InspectMovieFile(moviePath, &movie);

    RebuildMode mode = MakeRebuildMode(playerAction, movieAction);
    UINT mask = projectorFilter;
    bool proceed = true;
    if (id == IDC_SAVE) {
        proceed = PlayerPassesCheck(dialog, moviePath, playerPath, mode, movie);
        if (!SavedPlayerSource(mode, moviePath, playerPath, movie))
            mask = movieFilter;  // the output is a bare movie
    }
    char* outPath = proceed ? ChooseFile(dialog, mask, chooseToSave) : nullptr;
    if (outPath) {
        Failure result;
        if (id == IDC_SAVE) {
            ShowProgressBar(dialog, TRUE);
            BarProgress bar = {Item(dialog, IDC_PROGRESS), 0};
            Progress progress = {MoveProgressBar, &bar};
            result = RebuildMovieFile(&progress, moviePath, outPath, playerPath, mode);
            ShowProgressBar(dialog, FALSE);
        } else {
            result = ExtractPlayer(moviePath, outPath);
        }
        if (!Failed(result))
            ShowMessage(dialog, IDS_DONE, MB_ICONINFORMATION);
        else
            ShowMessage(dialog, ErrorMessageFor(result), MB_ICONERROR);
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

void OnClose(HWND dialog, int, LPARAM) { EndDialog(dialog, 0); }
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
        EnableItem(dialog, choice.id, state != optionsDisabled);
    if (state == optionsPlayerOnly)
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
