// info_text_win.cpp - composes the information text from the movie path
// and the add/replace player path of the main dialog.
#include "app/info_text.h"

#include <cstring>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "res/resource.h"
#include "app/texts.h"

namespace {

// wsprintfA writes at most 1024 characters and the terminator.
const size_t lineLimit = 1024;
const size_t infoLines = 4;

struct InfoText {
    char text[infoLines * lineLimit + 1];
    size_t length;
};

// Appends string `id` formatted with `first` and `second` (a string with
// one placeholder ignores `second`). A string that cannot be loaded leaves
// its line out.
void AppendLine(InfoText* info, UINT id, unsigned long first, unsigned long second)
{
    char* format = LoadResString(id);
    if (!format)
        return;
    char line[lineLimit + 1];
    int length = wsprintfA(line, format, first, second);
    MemFree(format);
    if (length <= 0 || info->length + (size_t)length >= sizeof info->text)
        return;
    memcpy(info->text + info->length, line, (size_t)length + 1);
    info->length += (size_t)length;
}

void AppendVersionLine(InfoText* info, UINT id, PackedVersion version)
{
    AppendLine(info, id, VersionMajor(version), VersionMinor(version));
}

}  // namespace

void UpdateInfoText(HWND dialog)
{
    MovieInfo movie = {};
    PackedVersion currentPlayer = 0;
    PackedVersion newPlayer = 0;

    char* moviePath = GetItemText(GetDlgItem(dialog, IDC_MOVIEPATH));
    if (moviePath) {
        if (InspectMovieFile(moviePath, &movie) != 0)
            currentPlayer = GetPlayerVersion(moviePath);
        MemFree(moviePath);
    }
    // Read whatever player option is checked: the line tells the user what
    // Add/replace would bring.
    char* playerPath = GetItemText(GetDlgItem(dialog, IDC_PLAYERPATH));
    if (playerPath) {
        if (playerPath[0])
            newPlayer = GetPlayerVersion(playerPath);
        MemFree(playerPath);
    }

    InfoText info;
    info.text[0] = 0;
    info.length = 0;
    if (movie.movieSize != 0) {
        AppendLine(&info, IDS_INFO_MOVIE_VERSION, MovieVersion(movie.header), 0);
        AppendVersionLine(&info, IDS_INFO_REQUIRED, RequiredPlayerVersion(movie.header));
    }
    if (currentPlayer != 0)
        AppendVersionLine(&info, IDS_INFO_CURRENT_PLAYER, currentPlayer);
    if (newPlayer != 0)
        AppendVersionLine(&info, IDS_INFO_NEW_PLAYER, newPlayer);
    SetDlgItemTextA(dialog, IDC_INFO, info.text);
}
