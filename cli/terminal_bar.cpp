// terminal_bar.cpp - drawing the terminal progress bar that the core's
// progress reports move.
#include "cli/terminal_bar.h"

#include <cstring>

namespace {
const int barWidth = 30;
const size_t lineLength = 79;  // fits a standard terminal without wrapping
}  // namespace

void StartTerminalBar(TerminalBar* progress, FILE* stream, const char* name)
{
    progress->stream = stream;
    progress->shownPercent = -1;
    size_t length = strlen(name);
    size_t room = sizeof progress->label - 1;
    if (length <= room) {
        memcpy(progress->label, name, length + 1);
        return;
    }
    // Keep the end of a long name: it is the part that tells files apart.
    // It starts on a whole character, never inside one of UTF-8's sequences.
    const char* end = name + length - (room - 3);
    while ((*end & 0xC0) == 0x80)
        end++;
    memcpy(progress->label, "...", 3);
    memcpy(progress->label + 3, end, strlen(end) + 1);
}

void FormatTerminalBarLine(char* line, size_t room, const char* label, uint32_t position)
{
    if (room == 0)
        return;
    uint32_t percent = position > 100 ? 100 : position;
    int filled = (int)(percent * barWidth / 100);
    char bar[barWidth + 1];
    memset(bar, '#', (size_t)filled);
    memset(bar + filled, '-', (size_t)(barWidth - filled));
    bar[barWidth] = 0;
    snprintf(line, room, "%s  [%s] %3u%%", label, bar, (unsigned)percent);
}

void DrawTerminalBar(TerminalBar* progress, uint32_t position)
{
    int percent = (int)(position > 100 ? 100 : position);
    if (percent == progress->shownPercent)
        return;
    progress->shownPercent = percent;
    char line[lineLength + 1];
    FormatTerminalBarLine(line, sizeof line, progress->label, position);
    fprintf(progress->stream, "\r%s", line);
    fflush(progress->stream);
}

void ReportToTerminalBar(void* context, uint64_t done, uint64_t total)
{
    DrawTerminalBar((TerminalBar*)context, ProgressPercent(done, total));
}

Progress TerminalBarProgress(TerminalBar* progress)
{
    return Progress{ReportToTerminalBar, progress};
}

void EraseTerminalBar(TerminalBar* progress)
{
    if (progress->shownPercent < 0)
        return;
    fprintf(progress->stream, "\r%*s\r", (int)lineLength, "");
    fflush(progress->stream);
    progress->shownPercent = -1;
}
