// template_viewer.cpp - shows the main dialog exactly as its template
// makes it, every control visible, for tools/screenshot-template. Only the
// link label is drawn here (it is owner-drawn) and the icon set, so that
// the picture shows both. With the argument "started" it hides the
// progress bar and the player list, as the program does when it starts.
// Escape or the close box ends it.
#include <windows.h>
#include <commctrl.h>

#include "res/resource.h"

namespace {

void DrawLinkLabel(const DRAWITEMSTRUCT* item)
{
    char text[256] = "";
    GetWindowTextA(item->hwndItem, text, sizeof text);
    RECT area = item->rcItem;
    SetTextColor(item->hDC, RGB(0, 0, 255));
    SetBkMode(item->hDC, TRANSPARENT);
    DrawTextA(item->hDC, text, -1, &area, DT_SINGLELINE);
}

INT_PTR CALLBACK ViewerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        HINSTANCE module = GetModuleHandleA(nullptr);
        HANDLE big = LoadImageA(module, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 32, 32, 0);
        HANDLE small = LoadImageA(module, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 16, 16, 0);
        SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)big);
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)small);
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 40, 0);
        if (lParam) {
            ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_HIDE);
            ShowWindow(GetDlgItem(dialog, IDC_PLAYERLIST), SW_HIDE);
        }
        return TRUE;
    }
    case WM_DRAWITEM:
        if (wParam != IDC_LINK)
            return FALSE;
        DrawLinkLabel((const DRAWITEMSTRUCT*)lParam);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    LPARAM started = lstrcmpA(commandLine, "started") == 0;
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, ViewerProc, started);
    return 0;
}
