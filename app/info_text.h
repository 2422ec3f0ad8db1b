// info_text.h - the information text under the main dialog's controls.
#pragma once

#include <windows.h>

// Rebuilds the text of IDC_INFO from the files named in IDC_MOVIEPATH and
// IDC_PLAYERPATH: the movie's version and the player version it needs, the
// version of the player in the movie's file, and the version of the player
// to add. Every file is read anew; a line whose facts are missing is left
// out, and with nothing to show the box is cleared.
void UpdateInfoText(HWND dialog);
