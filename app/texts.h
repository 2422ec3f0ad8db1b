// texts.h - the string table, message boxes, file choosers, window texts
// and opening web addresses. Every text returned is a MemAlloc block that
// the caller releases with MemFree.
#pragma once

#include <windows.h>

#include <cstdint>

#include "movie/player_version.h"

// Entry `id` of the string table as an ANSI text of exact size; an empty
// entry gives an empty text. Null when the entry's block does not exist.
char* LoadResString(UINT id);

// String `id` formatted by wvsprintfA with the arguments that follow (an
// unsigned long for each %lu, a const char* for each %s). Null when the
// string cannot be loaded.
char* FormatResString(UINT id, ...);

// String `id` formatted with the movie version and the two versions
// (major.minor each). Null when the string cannot be loaded.
char* FormatMismatchMessage(UINT id, uint32_t movieVersion, PackedVersion playerVersion,
                            PackedVersion requiredVersion);

// A message box owned by `dialog`, captioned with the dialog's title.
// `textOrId` below 0x10000 is a string id, otherwise a text's address.
// Returns the id of the button pressed. Tests link a stand-in for it.
int ShowMessage(HWND dialog, UINT_PTR textOrId, UINT type);

// The filters a file chooser offers, as bits of ChooseFile's mask;
// "All Files" is always offered.
const UINT movieFilter = 1;      // Flash movies (*.swf)
const UINT projectorFilter = 2;  // projectors and players (*.exe)
// What the chooser is for, as ChooseFile's `save`.
const int chooseToOpen = 0;
const int chooseToSave = 1;

// Asks for a file to open (`save` chooseToOpen) or to save (chooseToSave),
// offering the filters of `filterMask`. The full path, or null when
// cancelled.
char* ChooseFile(HWND dialog, UINT filterMask, int save);

// The platform's file chooser over a finished filter list (pairs of
// NUL-terminated texts ended by an empty one) and a default extension
// without a dot (or null). The full path, or null. Tests link a stand-in.
char* RunFileDialog(HWND dialog, const char* filter, const char* defaultExtension, int save);

// The window's text; null only when it cannot be allocated.
char* GetItemText(HWND window);

// Opens a web address with the shell's default action; reports nothing.
// Tests link a stand-in.
void OpenInShell(HWND window, const char* target);
