// batch_bar.h - the one terminal bar of a run of save or extract: the
// movies its tasks convert, added up.
#pragma once

#include <vector>

#include "cli/terminal_bar.h"
#include "cli/write_request.h"

struct BatchBar {
    bool shown;
    TerminalBar terminal;
    uint64_t total;  // the tasks' weights
};

// Shows the bar on the request's error stream when it is a terminal, the
// run is not quiet, and it converts enough to be worth a bar.
void StartBatchBar(const WriteRequest& request, const std::vector<Task>& tasks, BatchBar* bar);

// Redraws the bar from the tasks' progress, when it is shown.
void DrawBatchBar(BatchBar* bar, const std::vector<Task>& tasks);

// Clears the bar's line, when it is shown, before other text.
void EraseBatchBar(BatchBar* bar);
