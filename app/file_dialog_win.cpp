// file_dialog_win.cpp - the platform's open and save choosers. Alone in
// its file so that test programs can link a stand-in.
#include "app/texts.h"

#include <commdlg.h>

#include "common/platform.h"

// Room for the longest path Windows knows (32767 UTF-16 characters, each up
// to 3 bytes of UTF-8), so that no chosen name is cut or refused.
static const DWORD fileNameCapacity = 3 * 32768;

char* RunFileDialog(HWND dialog, const char* filter, const char* defaultExtension, int save)
{
    char* fileName = (char*)MemAlloc(fileNameCapacity);
    if (!fileName)
        return nullptr;
    OPENFILENAMEA chooser;
    ZeroMemory(&chooser, sizeof chooser);
    // The record as it was before the fields that later systems added.
    chooser.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    chooser.hwndOwner = dialog;
    chooser.lpstrFilter = filter;
    chooser.lpstrFile = fileName;
    chooser.nMaxFile = fileNameCapacity;
    // The open chooser also returns names of files that do not exist yet;
    // the inspection that follows turns them away.
    chooser.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    chooser.lpstrDefExt = defaultExtension;
    BOOL chosen = save ? GetSaveFileNameA(&chooser) : GetOpenFileNameA(&chooser);
    fileName[fileNameCapacity - 1] = 0;
    char* path = chosen ? GetFullPath(fileName) : nullptr;
    MemFree(fileName);
    return path;
}
