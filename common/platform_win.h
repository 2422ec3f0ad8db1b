// platform_win.h - what the Windows translation units share beyond
// platform.h: file names as the system's wide calls take them.
#pragma once

#include <cstddef>

// `path` (text in the ANSI code page, which the manifest makes UTF-8) as a
// full UTF-16 path that the wide file calls accept at any length: paths
// too long for the plain form get the "\\?\" prefix, so that names of up
// to 32767 characters work without any setting of the system. A MemAlloc
// block, or null (empty name, no memory).
wchar_t* WidePath(const char* path);

// UTF-16 text (a name the wide calls return) in the ANSI code page, as a
// MemAlloc block, or null when memory runs out.
char* WideToAnsi(const wchar_t* wide);

// The longest full path that every file call takes in the plain form
// (CreateDirectory allows 12 characters fewer than MAX_PATH).
const size_t plainPathLimit = 248;

// Whether the full wide path `widePath` names a device rather than a file
// on a disk: "\\.\" and "\\?\" paths other than those of files below a
// drive, a share or a volume (a pipe, NUL, CON, COM1, a volume itself).
bool IsDevicePath(const wchar_t* widePath);
