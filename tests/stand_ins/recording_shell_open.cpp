// recording_shell_open.cpp - OpenInShell that records its target.
#include "recording_shell_open.h"

#include "app/texts.h"

RecordedShellOpen recordedShellOpen;

void OpenInShell(HWND window, const char* target)
{
    recordedShellOpen.targets.push_back(target ? target : "(null)");
    recordedShellOpen.lastWindow = window;
}
