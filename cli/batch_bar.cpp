// batch_bar.cpp - the bar of a run, over the terminal bar.
#include "cli/batch_bar.h"

#include "cli/cli_platform.h"
#include "cli/output_names.h"

namespace {
// Runs that convert this much movie or more show a bar on a terminal;
// smaller ones are over before a bar could be read.
const uint32_t progressThreshold = 1024 * 1024;
}  // namespace

void DrawBatchBar(BatchBar* bar, const std::vector<Task>& tasks)
{
    if (!bar->shown)
        return;
    uint64_t done = 0;
    for (const Task& task : tasks)
        done += task.progressed.load();
    DrawTerminalBar(&bar->terminal, ProgressPercent(done, bar->total));
}

void StartBatchBar(const WriteRequest& request, const std::vector<Task>& tasks, BatchBar* bar)
{
    bar->shown = false;
    bar->total = 0;
    size_t converting = 0;
    const Task* only = nullptr;
    for (const Task& task : tasks) {
        bar->total += task.weight;
        if (task.weight != 0) {
            converting++;
            only = &task;
        }
    }
    if (request.quiet || bar->total < progressThreshold || !IsTerminal(request.err))
        return;
    std::string label = converting == 1 ? BaseName(only->input)
                                        : std::to_string(converting) + " files";
    StartTerminalBar(&bar->terminal, request.err, label.c_str());
    bar->shown = true;
    DrawBatchBar(bar, tasks);
}

void EraseBatchBar(BatchBar* bar)
{
    if (bar->shown)
        EraseTerminalBar(&bar->terminal);
}
