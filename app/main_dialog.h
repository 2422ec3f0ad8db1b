// main_dialog.h - the main window: its dialog procedure and the helpers
// that keep its controls in the states the actions leave them in.
#pragma once

#include <windows.h>

// The procedure of the IDD_MAIN dialog; lParam of WM_INITDIALOG is the
// path to open at start, or null.
INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The states of the six option buttons, as SetOptionButtonsState's `state`.
const int optionsDisabled = 0;    // all six disabled
const int optionsEnabled = 1;     // all six enabled
const int optionsPlayerOnly = 2;  // the movie group disabled with "Keep unchanged"
                                  // checked, the player group enabled

void SetOptionButtonsState(HWND dialog, int state);

// Shows the progress bar at 0 in place of the link label, or the label
// in place of the bar, and repaints the dialog at once.
void ShowProgressBar(HWND dialog, BOOL show);

// Enables or disables a control; a control that is to be disabled while
// it has the focus first passes the focus on, so that the focus never
// rests on a disabled control. Returns EnableWindow's result.
BOOL EnableItem(HWND dialog, int id, BOOL enable);
