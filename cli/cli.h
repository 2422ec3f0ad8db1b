// cli.h - quillaro-cli, the command-line front end over the portable core:
// info, save, check, extract-player and extract-movie, one file or a batch.
#pragma once

#include <cstdio>

// Exit codes, the same on every platform.
const int exitDone = 0;     // every file was done
const int exitFailed = 1;   // at least one file failed (the others were still done)
const int exitUsage = 2;    // the command line is wrong; nothing was done
const int exitRefused = 3;  // the only failures were players older than their movies need
const int exitSalvaged = 4; // all done, but damaged movies were saved only in part (--salvage)

// Runs one command line (argv[0] is the program's name). Results go to
// `out`, errors, warnings and the progress bar to `err`; both stay open.
int CliMain(int argc, char** argv, FILE* out, FILE* err);
