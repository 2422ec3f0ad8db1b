// recording_file_dialog.h - a stand-in for the platform's file chooser
// that records what it was asked and gives a scripted answer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RecordedFileDialog {
    int calls;
    HWND owner;
    int save;
    // The texts of the filter list in order: description, pattern, ...
    std::vector<std::string> filter;
    // False when the list did not end with an empty text within 128 bytes.
    bool filterTerminated;
    bool hasDefaultExtension;
    std::string defaultExtension;
    // What the chooser returns (as a new allocation); none when empty.
    std::string answer;
};

// Cleared by the tests before each call.
extern RecordedFileDialog recordedFileDialog;
