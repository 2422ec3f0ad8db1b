// main_dialog.h - the main window: its dialog procedure, and the helpers
// that keep its controls in the states the actions leave them in, which
// the Save and Extract player actions (save_actions_win.cpp) share.
#pragma once

#include <windows.h>

#include "rebuild/rebuild.h"

// The procedure of the IDD_MAIN dialog; lParam of WM_INITDIALOG is the
// path to open at start, or null.
INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The states of the option buttons, as SetOptionButtonsState's `state`.
const int optionsDisabled = 0;  // all disabled
const int optionsEnabled = 1;   // all enabled

void SetOptionButtonsState(HWND dialog, int state);

// Shows the progress bar at 0 in place of the link label, or the label
// in place of the bar.
void ShowProgressBar(HWND dialog, BOOL show);

// Enables or disables a control; a control that is to be disabled while
// it has the focus first passes the focus on, so that the focus never
// rests on a disabled control. Returns EnableWindow's result.
BOOL EnableItem(HWND dialog, int id, BOOL enable);

// The Save request of the checked option buttons.
RebuildMode CheckedRebuildMode(HWND dialog);

// While work runs the Save button reads "Cancel", and Open, the option
// buttons, Extract player and Get player are disabled; afterwards they
// are as the open file and the options make them.
void ShowWorking(HWND dialog, bool working);

// Rebuilds the information text with what the window knows of the open
// movie and the line that ends it.
void ShowInfo(HWND dialog);

// Save (IDC_SAVE) or Extract player (IDC_EXTRACT) clicked; while work runs
// Save cancels it.
void OnSaveOrExtract(HWND dialog, int id);
// What the worker of a Save or Extract posts: its progress, its end.
void OnWorkProgress(HWND dialog, WPARAM number, LPARAM percent);
void OnWorkEnded(HWND dialog, WPARAM number);
