// cli_platform.h - the operating-system services quillaro-cli needs beyond
// the core's: facts about paths, folders, the terminal and text encoding. One implementation per platform:
// cli_platform_posix.cpp and cli_platform_win.cpp.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/platform.h"

// The separator this platform writes between folder and file names.
extern const char pathSeparator;
// Whether `c` separates folder names here ('/' everywhere, '\\' on Windows).
bool IsPathSeparator(char c);

// What a name is, told without opening it, since opening a pipe waits for
// a writer: nothing (Missing), a file (a dangling symbolic link counts as
// one), a folder (or a link to one), or Special: a named pipe, a device or
// a socket.
enum class PathKind { Missing, File, Folder, Special };
PathKind PathKindOf(const char* path);
// Its questions one at a time (cli_common.cpp).
bool PathExists(const char* path);
bool IsFolder(const char* path);
bool IsSpecialFile(const char* path);
// Whether both paths exist and name the same file, by whatever names
// (links, other spellings, different case on Windows).
bool IsSameFile(const char* first, const char* second);
// What tells the name of an output file apart from the others written
// into the same folder: the name itself, with case folded where the file
// system ignores it (Windows). Outputs are moved into place by name, so
// two names are the same output exactly when their keys are equal.
std::string OutputNameKey(const std::string& path);
// One name in a folder, and what it is without following a link.
struct FolderItem {
    std::string name;  // the name alone, without the folder's path
    bool folder;       // a folder itself (not a link to one)
    bool link;         // a symbolic link or another reparse point
};
// The names in the folder `path`, "." and ".." left out, sorted by their
// bytes so that every run walks them in the same order. False when the
// folder cannot be read.
bool ListFolder(const char* path, std::vector<FolderItem>* items);

// Creates the folder `path` (not its parents); true if it exists afterwards.
bool CreateFolder(const char* path);

// Makes the signals that end a program from outside - Ctrl-C, SIGTERM and
// SIGHUP; on Windows Ctrl-C, Ctrl-Break and closing the console - first
// delete the unfinished temporary files, and then end the program as they
// would have (the shell sees the usual status). A signal ignored when the
// program started (nohup) stays ignored. For the program's main; tests
// that run the commands in-process install nothing.
void InstallInterruptCleanup();

// Lets the memory allocator keep what the program frees for its next use.
// A batch allocates and frees the same few hundred KiB of codec state for
// every file; glibc hands a heap's freed top back to the system once it
// passes 128 KiB, so that every file faulted its pages in anew (27 page
// faults a file, a third of a batch's time). For the program's main;
// nothing to do on Windows.
void KeepFreedMemory();

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
