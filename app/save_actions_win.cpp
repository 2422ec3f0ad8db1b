// save_actions_win.cpp - Save and Extract player: the refusals and the
// version check before anything is written, the output's name, the work
// on its worker, and what the window tells when it ends (a damaged movie
// asks whether to save what can be read).
#include "app/main_dialog.h"

#include <commctrl.h>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "rebuild/lzma_body.h"
#include "res/resource.h"
#include "app/dialog_work.h"
#include "app/player_picker.h"
#include "app/texts.h"

namespace {

// The window's words for each kind of failure: the string table's entries.
// A cancelled work shows no message but a line of the information text.
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
    {FailureKind::FolderPlayer, IDS_FOLDER_PLAYER_SAVE},
    {FailureKind::ThreadFailed, IDS_ERROR_THREAD},
};

UINT ErrorMessageFor(const Failure& failure)
{
    for (const FailureMessage& entry : failureMessages) {
        if (entry.kind == failure.kind)
            return entry.message;
    }
    return IDS_ERROR_FAILED;
}

bool IsLinux(PlayerLayout layout)
{
    return layout == PlayerLayout::LinuxI386 || layout == PlayerLayout::LinuxX86_64;
}

// Shows a formatted text (null: nothing) and releases it.
int ShowText(HWND dialog, char* text, UINT type)
{
    int answer = text ? ShowMessage(dialog, (UINT_PTR)text, type) : 0;
    MemFree(text);
    return answer;
}

// The file whose player a Save puts in front of the movie, and its layout
// (None when the output is a bare movie).
const char* SavedPlayer(const WorkRequest& request, const MovieInfo& movie, PlayerLayout* layout)
{
    const char* source = SavedPlayerSource(request.mode, request.moviePath.c_str(),
                                           request.playerPath.c_str(), movie);
    *layout = movie.layout;
    if (source && source != request.moviePath.c_str()) {
        MovieInfo player;
        InspectMovie(source, &player);
        *layout = player.layout;
    }
    if (!source)
        *layout = PlayerLayout::None;
    return source;
}

// What is refused before anything is asked: a .app folder's player, which
// is never written, and LZMA for a movie that no LZMA-reading player plays.
bool PassesRefusals(HWND dialog, const WorkRequest& request, const MovieInfo& movie)
{
    bool save = request.command == IDC_SAVE;
    if (movie.layout == PlayerLayout::MacApp &&
        (!save || PlayerActionOf(request.mode) == PlayerAction::Keep)) {
        ShowMessage(dialog, save ? IDS_FOLDER_PLAYER_SAVE : IDS_FOLDER_PLAYER_EXTRACT, MB_ICONERROR);
        return false;
    }
    uint32_t version = MovieVersion(movie.header);
    if (save && MovieActionOf(request.mode) == MovieAction::CompressLzma &&
        movie.movieSize != 0 && !LzmaAllowsVersion(version)) {
        ShowText(dialog, FormatResString(IDS_LZMA_TOO_OLD, (unsigned long)version), MB_ICONERROR);
        return false;
    }
    return true;
}

// The version rule before Save: false when the player that the output
// would hold is older than the movie needs (after asking the user
// whether to get a suitable player). A Linux player carries no version:
// the information text says so, and it is not refused.
bool PlayerPassesCheck(HWND dialog, const WorkRequest& request, const MovieInfo& movie)
{
    PlayerLayout layout;
    const char* playerSource = SavedPlayer(request, movie, &layout);
    if (!playerSource || IsLinux(layout))
        return true;
    PackedVersion player = PlayerVersionOf(playerSource, layout);
    PackedVersion required = RequiredPlayerVersion(movie.header);
    if (PlayerIsNewEnough(player, required))
        return true;
    char* text = FormatMismatchMessage(IDS_VERSION_MISMATCH, MovieVersion(movie.header), player,
                                       required);
    if (ShowText(dialog, text, MB_YESNO | MB_ICONWARNING) == IDYES)
        ShowPlayerPicker(dialog, required);
    return false;
}

// The chooser's filters for an output of `layout`: a Linux program has no
// extension of its own, so it is offered "All Files" alone.
UINT OutputFilters(PlayerLayout layout)
{
    if (layout == PlayerLayout::None)
        return movieFilter;
    return IsLinux(layout) ? 0 : projectorFilter;
}

std::string TakeString(char* text)
{
    std::string copy = text ? text : "";
    MemFree(text);
    return copy;
}

// The request of a click on Save or Extract player, from the two path
// boxes and the checked options, once it passed every check and the user
// named the output; false when there is nothing to do.
bool PrepareRequest(HWND dialog, int id, WorkRequest* request)
{
    request->command = id;
    request->moviePath = TakeString(GetItemText(GetDlgItem(dialog, IDC_MOVIEPATH)));
    request->playerPath = TakeString(GetItemText(GetDlgItem(dialog, IDC_PLAYERPATH)));
    request->mode = CheckedRebuildMode(dialog);
    request->salvage = false;
    MovieInfo movie;
    InspectMovie(request->moviePath.c_str(), &movie);
    if (!PassesRefusals(dialog, *request, movie))
        return false;
    if (id == IDC_SAVE && !PlayerPassesCheck(dialog, *request, movie))
        return false;
    PlayerLayout layout = movie.layout;
    if (id == IDC_SAVE)
        SavedPlayer(*request, movie, &layout);
    char* outPath = ChooseFile(dialog, OutputFilters(layout), chooseToSave);
    request->outPath = TakeString(outPath);
    return outPath != nullptr;
}

// Starts the work with the controls in their working states; a Save shows
// the progress bar.
void BeginWork(HWND dialog, const WorkRequest& request)
{
    bool save = request.command == IDC_SAVE;
    SetLastInfoLine(dialog, 0);
    ShowInfo(dialog);
    ShowWorking(dialog, true);
    if (save)
        ShowProgressBar(dialog, TRUE);
    if (StartWork(dialog, request))
        return;
    if (save)
        ShowProgressBar(dialog, FALSE);
    ShowWorking(dialog, false);
    ShowMessage(dialog, IDS_ERROR_THREAD, MB_ICONERROR);
}

// A Save that met a damaged movie asks whether to save what can be read:
// the movie decompressed as far as it decodes, the player as chosen.
void AskToSalvage(HWND dialog, const WorkRequest& request)
{
    if (ShowMessage(dialog, IDS_DAMAGED_QUESTION, MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    WorkRequest salvage = request;
    salvage.salvage = true;
    salvage.mode = MakeRebuildMode(PlayerActionOf(request.mode), MovieAction::Decompress);
    BeginWork(dialog, salvage);
}

void TellDone(HWND dialog, const WorkOutcome& outcome)
{
    if (outcome.details.damage == Damage::None) {
        ShowMessage(dialog, IDS_DONE, MB_ICONINFORMATION);
        return;
    }
    MovieInfo movie;
    InspectMovie(outcome.request.moviePath.c_str(), &movie);
    ShowText(dialog,
             FormatResString(IDS_SALVAGED, (unsigned long)outcome.details.salvagedLength,
                             (unsigned long)movie.fileLength),
             MB_ICONINFORMATION);
}

void TellOutcome(HWND dialog, const WorkOutcome& outcome)
{
    const Failure& result = outcome.result;
    if (result.kind == FailureKind::Cancelled) {
        SetLastInfoLine(dialog, IDS_INFO_CANCELLED);
        ShowInfo(dialog);
    } else if (result.kind == FailureKind::DamagedMovie && outcome.request.command == IDC_SAVE &&
               !outcome.request.salvage) {
        AskToSalvage(dialog, outcome.request);
    } else if (Failed(result)) {
        ShowMessage(dialog, ErrorMessageFor(result), MB_ICONERROR);
    } else {
        TellDone(dialog, outcome);
    }
}

}  // namespace

void OnSaveOrExtract(HWND dialog, int id)
{
    if (id == IDC_SAVE && WorkRunning(dialog)) {
        CancelWork(dialog);
        return;
    }
    WorkRequest request;
    if (PrepareRequest(dialog, id, &request))
        BeginWork(dialog, request);
}

void OnWorkProgress(HWND dialog, WPARAM number, LPARAM percent)
{
    if (IsRunningWork(dialog, number))
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, (WPARAM)percent, 0);
}

void OnWorkEnded(HWND dialog, WPARAM number)
{
    WorkOutcome outcome;
    if (!TakeEndedWork(dialog, number, &outcome))
        return;
    if (outcome.request.command == IDC_SAVE)
        ShowProgressBar(dialog, FALSE);
    ShowWorking(dialog, false);
    if (CloseRequested(dialog))
        EndDialog(dialog, 0);
    else
        TellOutcome(dialog, outcome);
}
