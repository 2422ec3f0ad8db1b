// terminal_bar.h - a conversion's progress as a one-line bar on a terminal:
// "movie.exe  [##########----------]  50%", redrawn in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/progress.h"

struct TerminalBar {
    FILE* stream;
    char label[33];    // the file's name, cut to fit the line
    int shownPercent;  // the percentage last drawn; -1 before the first draw
};

// Prepares `progress` to draw on `stream` for the file `name`.
void StartTerminalBar(TerminalBar* progress, FILE* stream, const char* name);

// The bar for `position`, a percentage (above 100 is shown as 100).
// Always NUL-terminated within `room` bytes.
void FormatTerminalBarLine(char* line, size_t room, const char* label, uint32_t position);

// Draws the bar when its percentage changed since the last draw.
void DrawTerminalBar(TerminalBar* progress, uint32_t position);
// A core progress report drawn on `context`, a TerminalBar.
void ReportToTerminalBar(void* context, uint64_t done, uint64_t total);
// The core's progress interface for `progress`.
Progress TerminalBarProgress(TerminalBar* progress);
// Clears the line if anything was drawn, so that what follows starts clean.
void EraseTerminalBar(TerminalBar* progress);
