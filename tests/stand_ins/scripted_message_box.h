// scripted_message_box.h - a stand-in for the message box that records
// what the user would have been told and gives a scripted answer.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct ShownMessage {
    HWND owner;
    UINT id;           // the string id, or 0 when a text was given
    std::string text;  // the text the box would show; empty for an id without one
    UINT type;
};

struct ScriptedMessageBox {
    std::vector<ShownMessage> shown;  // in the order they were shown
    int answer;                       // what every box returns
    // Runs while a box would be up, to look at the window behind it.
    std::function<void(HWND owner)> whileShown;
};

// Cleared by the tests before each action; answers IDOK until told.
extern ScriptedMessageBox scriptedMessageBox;
