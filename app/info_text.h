// info_text.h - the information text under the main dialog's controls.
#pragma once

#include <windows.h>

#include <cstdint>

#include "rebuild/movie_check.h"

// How far the reading of the open movie on its worker has come.
enum class FindingsState {
    Reading,     // the worker still decodes it
    Read,        // `check` (and, with `factsRead`, the facts) hold what it found
    Unreadable,  // the file could not be read, or memory ran out
};

// What the reading of the open movie found: its verdict, and the facts the
// window shows when the movie decoded (as info --facts has them).
struct MovieFindings {
    FindingsState state;
    MovieCheck check;
    bool hasStage;
    int64_t stageWidthTwips;
    int64_t stageHeightTwips;
    bool hasFrames;
    uint16_t frameRate;  // 8.8 fixed point
    uint16_t frameCount;
    int actionScript;    // the virtual machine: 2 for ActionScript 3, 1 for 1 or 2
};

// Rebuilds the text of IDC_INFO from the files named in IDC_MOVIEPATH and
// IDC_PLAYERPATH: the movie's version and the player version it needs, the
// version of the player in the movie's file; with `findings`, then what
// the movie is and holds (its layout and compression at once, the rest as
// `findings` has it); then the version of the player to add, and last the
// string `lastLine` (0: none), scrolled into sight. Every file is read anew; a line whose facts
// are missing is left out, and with nothing to show the box is cleared.
void UpdateInfoText(HWND dialog, const MovieFindings* findings = nullptr, UINT lastLine = 0);

// What is wrong with a damaged movie, in the words of "quillaro-cli
// check", as a MemAlloc text the caller frees; null for no damage, or
// when a string cannot be loaded.
char* DamageWords(const MovieCheck& check);
