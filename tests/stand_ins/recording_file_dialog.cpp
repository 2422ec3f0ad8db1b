// recording_file_dialog.cpp - RunFileDialog that records its arguments
// instead of showing a chooser.
#include "recording_file_dialog.h"

#include <cstring>

#include "app/texts.h"
#include "common/platform.h"

RecordedFileDialog recordedFileDialog;

namespace {

// The chooser's filter buffer is 128 bytes; a list that runs past it is
// recorded as unterminated rather than read further.
const size_t filterLimit = 128;

void RecordFilter(const char* filter)
{
    size_t position = 0;
    while (position < filterLimit) {
        size_t length = strnlen(filter + position, filterLimit - position);
        if (position + length >= filterLimit)
            return;
        if (length == 0) {
            recordedFileDialog.filterTerminated = true;
            return;
        }
        recordedFileDialog.filter.push_back(std::string(filter + position, length));
        position += length + 1;
    }
}

}  // namespace

char* RunFileDialog(HWND dialog, const char* filter, const char* defaultExtension, int save)
{
    recordedFileDialog.calls++;
    recordedFileDialog.owner = dialog;
    recordedFileDialog.save = save;
    recordedFileDialog.filter.clear();
    recordedFileDialog.filterTerminated = false;
    if (filter)
        RecordFilter(filter);
    recordedFileDialog.hasDefaultExtension = defaultExtension != nullptr;
    recordedFileDialog.defaultExtension = defaultExtension ? defaultExtension : "";
    if (recordedFileDialog.answer.empty())
        return nullptr;
    char* path = (char*)MemAlloc(recordedFileDialog.answer.size() + 1);
    if (path)
        memcpy(path, recordedFileDialog.answer.c_str(), recordedFileDialog.answer.size());
    return path;
}
