// scripted_message_box.cpp - ShowMessage that records the message instead
// of showing a box.
#include "scripted_message_box.h"

#include "app/texts.h"
#include "common/platform.h"

ScriptedMessageBox scriptedMessageBox = {{}, IDOK, nullptr};

int ShowMessage(HWND dialog, UINT_PTR textOrId, UINT type)
{
    ShownMessage message;
    message.owner = dialog;
    message.type = type;
    if (textOrId < 0x10000) {
        message.id = (UINT)textOrId;
        char* text = LoadResString(LOWORD(textOrId));
        message.text = text ? text : "";
        MemFree(text);
    } else {
        message.id = 0;
        message.text = (const char*)textOrId;
    }
    scriptedMessageBox.shown.push_back(message);
    if (scriptedMessageBox.whileShown)
        scriptedMessageBox.whileShown(dialog);
    return scriptedMessageBox.answer;
}
