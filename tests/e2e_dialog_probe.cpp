// e2e_dialog_probe.cpp - reads the running Quillaro.exe's window for the
// end-to-end test, as a user would see it, and closes it.
//
// It waits for Quillaro's main dialog to show. A message box that the
// program shows meanwhile (its caption is the dialog's title) is printed as
//   message: <text>
// and answered with OK. Once the dialog shows, the text of its movie path
// box is printed as
//   movie path: <text>
// and the dialog is sent Exit. The dialog shows only after the open
// requested at start has been handled, so what is printed is what that
// open left. Exit code 0 when it got that far, 1 after a minute without.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "res/resource.h"
#include "common/version.h"

namespace {

const char windowTitle[] = QUILLARO_TITLE;

// Text of a control of another process (GetWindowText does not ask there).
std::string ControlText(HWND window)
{
    char text[1024] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 10000,
                        &copied);
    return text;
}

bool IsQuillaroProcess(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    char image[MAX_PATH] = "";
    DWORD size = sizeof image;
    bool found = QueryFullProcessImageNameA(process, 0, image, &size) != 0;
    CloseHandle(process);
    const char name[] = "\\Quillaro.exe";
    size_t length = strlen(image), nameLength = strlen(name);
    return found && length >= nameLength && _stricmp(image + length - nameLength, name) == 0;
}

struct Windows {
    HWND dialog = nullptr;      // the main dialog, shown or not
    HWND messageBox = nullptr;  // a shown message box of the program
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam)
{
    char className[64] = "", title[64] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(className, "#32770") != 0 || strcmp(title, windowTitle) != 0)
        return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!IsQuillaroProcess(processId))
        return TRUE;
    Windows* found = (Windows*)lParam;
    if (GetDlgItem(window, IDC_MOVIEPATH))
        found->dialog = window;
    else if (IsWindowVisible(window))
        found->messageBox = window;
    return TRUE;
}

// The message box's text is its one static control with text (the other
// holds the icon).
BOOL CALLBACK FindMessageText(HWND child, LPARAM lParam)
{
    char className[64] = "";
    GetClassNameA(child, className, sizeof className);
    std::string text = _stricmp(className, "Static") == 0 ? ControlText(child) : "";
    std::string* longest = (std::string*)lParam;
    if (text.size() > longest->size())
        *longest = text;
    return TRUE;
}

void Press(HWND window, int id)
{
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
}

}  // namespace

int main()
{
    for (int attempt = 0; attempt < 600; attempt++) {
        Windows found;
        EnumWindows(CollectWindow, (LPARAM)&found);
        if (found.messageBox) {
            std::string text;
            EnumChildWindows(found.messageBox, FindMessageText, (LPARAM)&text);
            printf("message: %s\n", text.c_str());
            fflush(stdout);
            Press(found.messageBox, IDOK);
            while (IsWindow(found.messageBox) && attempt++ < 600)
                Sleep(100);
        } else if (found.dialog && IsWindowVisible(found.dialog)) {
            printf("movie path: %s\n", ControlText(GetDlgItem(found.dialog, IDC_MOVIEPATH)).c_str());
            Press(found.dialog, IDCANCEL);
            return 0;
        }
        Sleep(100);
    }
    fprintf(stderr, "e2e_dialog_probe: no window \"%s\" of Quillaro.exe showed\n", windowTitle);
    return 1;
}
