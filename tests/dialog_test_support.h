// dialog_test_support.h - the main dialog made from the real template for
// the tests, and a robot that answers the modal windows (message boxes,
// choosers) that a call on the test's thread opens, from a second thread,
// the way a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

// A MemAlloc text as a string (empty for null); the text is freed.
std::string TakeText(char* text);
// GetFullPath of `name`.
std::string FullPath(const std::string& name);

// The main dialog made from the program's template, with a procedure that
// changes nothing, so that its controls are as the template makes them.
// `window` is null when it could not be made.
class TemplateDialog {
public:
    TemplateDialog();
    ~TemplateDialog();
    HWND window;
};

// The first visible top-level window of this process owned by `owner`,
// waiting up to `timeoutMs`; null if none appeared.
HWND WaitForOwnedWindow(HWND owner, DWORD timeoutMs = 10000);

// A window's text.
std::string WindowText(HWND window);

// Runs `answer` on a second thread with the window that `owner` comes to
// own (null if none appeared) while the caller runs the modal call; the
// caller joins it afterwards.
class WindowRobot {
public:
    WindowRobot(HWND owner, std::function<void(HWND)> answer);
    ~WindowRobot();
    void Join();

private:
    std::thread thread;
};
