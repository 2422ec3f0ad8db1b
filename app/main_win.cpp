// main_win.cpp - the Windows entry point of Quillaro.exe.
#include <windows.h>

#include "app/app_entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    AppEntry();
}
