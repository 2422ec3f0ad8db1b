// message_box_win.cpp - the message box, captioned with the dialog's
// title. Alone in its file so that test programs can link a stand-in.
#include "app/texts.h"

#include "common/platform.h"

int ShowMessage(HWND dialog, UINT_PTR textOrId, UINT type)
{
    // Values below 0x10000 cannot be addresses of texts: they are ids.
    char* loaded = nullptr;
    const char* text = (const char*)textOrId;
    if (textOrId < 0x10000) {
        loaded = LoadResString(LOWORD(textOrId));
        text = loaded ? loaded : "";
    }
    char* caption = GetItemText(dialog);
    int result = MessageBoxA(dialog, text, caption, type);
    MemFree(caption);
    MemFree(loaded);
    return result;
}
