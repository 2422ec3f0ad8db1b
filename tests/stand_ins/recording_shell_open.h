// recording_shell_open.h - a stand-in for the shell opener that records
// the addresses it is given instead of opening a browser.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RecordedShellOpen {
    std::vector<std::string> targets;  // in the order they were opened
    HWND lastWindow;
};

// Cleared by the tests before each action.
extern RecordedShellOpen recordedShellOpen;
