// dialog_test_support.cpp - the main dialog from its template, and the
// robot that finds the windows that modal calls open.
#include "dialog_test_support.h"

#include <commctrl.h>

#include <vector>

#include "common/platform.h"
#include "res/resource.h"

namespace {

INT_PTR CALLBACK SilentDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM parameter)
{
    OwnedSearch* search = (OwnedSearch*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && GetWindow(window, GW_OWNER) == search->owner &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::string TakeText(char* text)
{
    std::string copy = text ? text : "";
    MemFree(text);
    return copy;
}

std::string FullPath(const std::string& name)
{
    return TakeText(GetFullPath(name.c_str()));
}

TemplateDialog::TemplateDialog()
{
    // The progress bar's class comes from the common controls.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                SilentDialogProc, 0);
}

TemplateDialog::~TemplateDialog()
{
    if (window)
        DestroyWindow(window);
}

HWND WaitForOwnedWindow(HWND owner, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        OwnedSearch search = {owner, nullptr};
        EnumWindows(FindOwned, (LPARAM)&search);
        if (search.found)
            return search.found;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::string WindowText(HWND window)
{
    std::vector<char> text((size_t)GetWindowTextLengthA(window) + 1);
    int length = GetWindowTextA(window, text.data(), (int)text.size());
    return std::string(text.data(), (size_t)(length > 0 ? length : 0));
}

WindowRobot::WindowRobot(HWND owner, std::function<void(HWND)> answer)
    : thread([owner, answer] { answer(WaitForOwnedWindow(owner)); })
{
}

WindowRobot::~WindowRobot()
{
    Join();
}

void WindowRobot::Join()
{
    if (thread.joinable())
        thread.join();
}
