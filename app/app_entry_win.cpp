// app_entry_win.cpp - the process entry of Quillaro.
#include "app/app_entry.h"

#include <windows.h>
#include <commctrl.h>

#include "common/command_line.h"
#include "common/platform.h"
#include "res/resource.h"
#include "app/main_dialog.h"

char** GetCommandLineArgs(int32_t* argc)
{
    if (!argc)
        return nullptr;
    // Without a command line the program was started by no name at all;
    // only the words after the name count, so any name stands in for it.
    const char* text = GetCommandLineA();
    if (!text || !*text)
        text = "Quillaro.exe";
    int32_t count = 0, charCount = 0;
    SplitCommandLine(text, nullptr, nullptr, &count, &charCount);
    size_t pointers = ((size_t)count + 1) * sizeof(char*);
    char** argv = (char**)MemAlloc(pointers + (size_t)charCount);
    if (!argv)
        return nullptr;
    argv[count] = nullptr;
    SplitCommandLine(text, argv, (char*)argv + pointers, &count, &charCount);
    *argc = count;
    return argv;
}

void AppEntry()
{
    InitCommonControls();
    int32_t argc = 0;
    char** argv = GetCommandLineArgs(&argc);
    char* initialPath = argv && argc == 2 ? GetFullPath(argv[1]) : nullptr;
    MemFree(argv);
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc,
                    (LPARAM)initialPath);
    MemFree(initialPath);
    ExitProcess(0);
}
