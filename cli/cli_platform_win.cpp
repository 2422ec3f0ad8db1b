// cli_platform_win.cpp - quillaro-cli's platform services on Win32.
#include "cli/cli_platform.h"

#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/platform_win.h"
#include "cli/terminal_bar.h"

const char pathSeparator = '\\';

bool IsPathSeparator(char c)
{
    return c == '/' || c == '\\';
}

static DWORD GetAttributes(const char* path)
{
    wchar_t* widePath = WidePath(path);
    DWORD attributes = widePath ? GetFileAttributesW(widePath) : INVALID_FILE_ATTRIBUTES;
    MemFree(widePath);
    return attributes;
}

// Reserved names (NUL, CON, COM1) become device paths too.
PathKind PathKindOf(const char* path)
{
    wchar_t* widePath = WidePath(path);
    bool device = widePath && IsDevicePath(widePath);
    MemFree(widePath);
    if (device)
        return PathKind::Special;
    DWORD attributes = GetAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

// The volume and file index that identify a file whatever its name.
static bool GetFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* identity)
{
    wchar_t* widePath = WidePath(path);
    HANDLE file = widePath ? CreateFileW(widePath, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                           : INVALID_HANDLE_VALUE;
    MemFree(widePath);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(file, identity) != 0;
    CloseHandle(file);
    return known;
}

bool IsSameFile(const char* first, const char* second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileIdentity(first, &a) && GetFileIdentity(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::string OutputNameKey(const std::string& path)
{
    std::string key = path;
    if (!key.empty())
        LCMapStringA(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(), (int)path.size(), &key[0],
                     (int)key.size());
    for (char& c : key) {
        if (c == '/')
            c = '\\';
    }
    return key;
}

bool CreateFolder(const char* path)
{
    wchar_t* widePath = WidePath(path);
    if (widePath)
        CreateDirectoryW(widePath, nullptr);
    MemFree(widePath);
    return IsFolder(path);
}

// Runs on a thread of its own that the system starts for the event.
// Returning FALSE hands the event on to the default handler, which ends
// the process as it would have without this one.
static BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: DeleteUnfinishedTempFiles(); break;
    }
    return FALSE;
}

void KeepFreedMemory()
{
}

void InstallInterruptCleanup()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool IsTerminal(FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

static UINT consoleCodePage = 0;

static void RestoreConsoleCodePage()
{
    SetConsoleOutputCP(consoleCodePage);
}

// The manifest makes the program's own text UTF-8; the console still shows
// bytes in its own code page (often an OEM one) until told otherwise.
void UseUtf8Console()
{
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage == 0 || consoleCodePage == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8))
        return;
    atexit(RestoreConsoleCodePage);
}

// File names arrive in the ANSI code page: through UTF-16 to UTF-8.
char* NativeTextToUtf8(const char* text)
{
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (wideLength <= 0)
        return nullptr;
    wchar_t* wide = (wchar_t*)MemAlloc((size_t)wideLength * sizeof(wchar_t));
    if (!wide)
        return nullptr;
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, wideLength);
    char* utf8 = nullptr;
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length > 0)
        utf8 = (char*)MemAlloc((size_t)length);
    if (utf8)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, length, nullptr, nullptr);
    MemFree(wide);
    return utf8;
}

bool ListFolder(const char* path, std::vector<FolderItem>* items)
{
    items->clear();
    std::string pattern = std::string(path) + "\\*";
    wchar_t* widePattern = WidePath(pattern.c_str());
    WIN32_FIND_DATAW found;
    HANDLE search = widePattern ? FindFirstFileW(widePattern, &found) : INVALID_HANDLE_VALUE;
    MemFree(widePattern);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool complete = true;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0)
            continue;
        char* name = WideToAnsi(found.cFileName);
        if (!name) {
            complete = false;
            break;
        }
        DWORD attributes = found.dwFileAttributes;
        bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        items->push_back({name, (attributes & FILE_ATTRIBUTE_DIRECTORY) && !link, link});
        MemFree(name);
    } while (FindNextFileW(search, &found));
    complete = complete && GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    std::sort(items->begin(), items->end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return complete;
}
