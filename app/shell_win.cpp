// shell_win.cpp - opens web addresses in the user's browser. Alone in its
// file so that test programs can link a stand-in.
#include "app/texts.h"

#include <objbase.h>
#include <shellapi.h>

void OpenInShell(HWND window, const char* target)
{
    // Some shell handlers need COM on the calling thread. Only a successful
    // initialisation is undone, so that COM set up elsewhere stays.
    HRESULT com = CoInitialize(nullptr);
    ShellExecuteA(window, nullptr, target, nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com))
        CoUninitialize();
}
