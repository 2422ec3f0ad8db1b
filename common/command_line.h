// command_line.h - splitting a Windows command line into arguments, with
// the quoting rules of Windows programs.
#pragma once

#include <cstdint>

// Walks `text` once. `*argc` receives the number of arguments, the
// program name included, and `*charCount` the bytes their texts need,
// every terminating NUL included. With non-null `argv` and `chars` it
// also stores each argument's start into `argv` and its bytes into
// `chars`; it writes no terminating null pointer.
//
// The program name runs to the first space or tab, or, when it starts
// with '"', to the next '"'; no other rule applies to it. In the
// arguments that follow, 2n backslashes before '"' give n backslashes and
// the '"' toggles quoting; 2n+1 give n backslashes and a literal '"';
// inside quotes, '""' gives a literal '"' and ends the quoting;
// backslashes not before '"' are literal.
void SplitCommandLine(const char* text, char** argv, char* chars, int32_t* argc,
                      int32_t* charCount);
