// player_picker.h - the drop-down list of stand-alone players that opens in
// the place of the Get player button and sends the chosen player's
// download address to the browser.
#pragma once

#include <windows.h>

#include "movie/player_version.h"

// Fills the list of the dialog's IDC_PLAYERLIST once (majors 10 up to the
// newest, which the first fill may fetch from the network), shows it in
// place of IDC_GETPLAYER and drops it down with the major of
// `requiredVersion` selected (10 when it is 0 or lower; none when it is
// above the newest).
void ShowPlayerPicker(HWND dialog, PackedVersion requiredVersion);

// Sizes `combo` so that its dropped list has room for `items` entries.
void SetDropDownHeight(HWND combo, int items);

// Handles notification `code` from IDC_PLAYERLIST: a confirmed entry opens
// its download address; a closed drop-down brings Get player back.
void OnPlayerListCommand(HWND dialog, UINT code);
