// cli_platform.h - the operating-system services quillaro-cli needs beyond
// the core's: facts about paths, folders, the terminal, text encoding, and
// a progress bar the codecs can drive. One implementation per platform:
// cli_platform_posix.cpp and cli_platform_win.cpp.
#pragma once

#include <cstdio>

#include "common/platform.h"

struct TerminalProgress;

// The separator this platform writes between folder and file names.
extern const char pathSeparator;
// Whether `c` separates folder names here ('/' everywhere, '\\' on Windows).
bool IsPathSeparator(char c);

// Whether anything has this name, a dangling symbolic link included.
bool PathExists(const char* path);
// Whether `path` is a folder (or a link to one).
bool IsFolder(const char* path);
// Whether both paths exist and name the same file, by whatever names
// (links, other spellings, different case on Windows).
bool IsSameFile(const char* first, const char* second);
// Creates the folder `path` (not its parents); true if it exists afterwards.
bool CreateFolder(const char* path);

// Whether `stream` is shown on a terminal (a console on Windows).
bool IsTerminal(FILE* stream);

// Makes a console show the program's output, which is UTF-8, as it is
// written (file names in any script); the console's own setting comes back
// when the program ends. Nothing to do where terminals take UTF-8 anyway.
void UseUtf8Console();

// `text` (a file name as the platform hands it over) converted to UTF-8,
// as a MemAlloc block the caller frees; null when memory runs out. On
// POSIX file names are taken as UTF-8 already and copied.
char* NativeTextToUtf8(const char* text);

// The window handle that RebuildMovieFile hands to the codecs so that
// their progress reaches `progress` (see progress.h). Null when none can
// be made, in which case the conversion simply shows no bar. Released with
// CloseProgressWindow.
WindowHandle OpenProgressWindow(TerminalProgress* progress);
void CloseProgressWindow(WindowHandle window);
