// app_entry.h - the process entry: the command line, the main dialog, the
// exit.
#pragma once

#include <cstdint>

// Registers the common controls, opens the dialog on the one file named
// on the command line (if exactly one is), and ends the process with
// exit code 0 once the dialog ends. Never returns.
[[noreturn]] void AppEntry();

// The process's arguments, the program name first, as one MemAlloc block:
// `*argc` + 1 pointers (the last null) followed by the texts. Null when
// `argc` is null or the block cannot be allocated.
char** GetCommandLineArgs(int32_t* argc);
