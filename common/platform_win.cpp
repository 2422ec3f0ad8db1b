// platform_win.cpp - the platform layer on Win32: the local heap, full
// paths, and files read with read sharing; outputs are in
// platform_output_win.cpp. File names are passed to the wide calls, so
// that they may be as long as Windows allows.
#include "common/platform.h"
#include "common/platform_file.h"
#include "common/platform_win.h"
#include "common/temp_registry.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

void* MemAlloc(size_t size)
{
    return (void*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size);
}

void* MemReAlloc(void* block, size_t size)
{
    if (size == 0) {
        MemFree(block);
        return nullptr;
    }
    if (!block)
        return MemAlloc(size);
    return (void*)LocalReAlloc((HLOCAL)block, size, LMEM_MOVEABLE | LMEM_ZEROINIT);
}

void MemFree(void* block)
{
    if (block)
        LocalFree((HLOCAL)block);
}

// `text` in the ANSI code page as UTF-16, or the reverse; MemAlloc blocks,
// null when the text cannot be converted or memory runs out.
static wchar_t* AnsiToWide(const char* text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    wchar_t* wide = length > 0 ? (wchar_t*)MemAlloc((size_t)length * sizeof(wchar_t)) : nullptr;
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length) != length) {
        MemFree(wide);
        return nullptr;
    }
    return wide;
}

char* WideToAnsi(const wchar_t* wide)
{
    int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* text = length > 0 ? (char*)MemAlloc((size_t)length) : nullptr;
    if (text && WideCharToMultiByte(CP_ACP, 0, wide, -1, text, length, nullptr, nullptr) != length) {
        MemFree(text);
        return nullptr;
    }
    return text;
}

// The full path of the UTF-16 name `name`: GetFullPathNameW, unlike the
// ANSI call, has no limit of MAX_PATH. A MemAlloc block, or null.
static wchar_t* WideFullPath(const wchar_t* name)
{
    DWORD needed = GetFullPathNameW(name, 0, nullptr, nullptr);
    wchar_t* path = needed ? (wchar_t*)MemAlloc(((size_t)needed + 1) * sizeof(wchar_t)) : nullptr;
    if (!path)
        return nullptr;
    DWORD length = GetFullPathNameW(name, needed + 1, path, nullptr);
    if (length == 0 || length > needed) {
        MemFree(path);
        return nullptr;
    }
    return path;
}

char* GetFullPath(const char* name)
{
    if (!name || !*name)
        return nullptr;
    wchar_t* wide = AnsiToWide(name);
    wchar_t* full = wide ? WideFullPath(wide) : nullptr;
    char* path = full ? WideToAnsi(full) : nullptr;
    MemFree(full);
    MemFree(wide);
    return path;
}

wchar_t* WidePath(const char* path)
{
    if (!path || !*path)
        return nullptr;
    wchar_t* wide = AnsiToWide(path);
    if (!wide || wcsncmp(wide, L"\\\\?\\", 4) == 0 || wcsncmp(wide, L"\\\\.\\", 4) == 0)
        return wide;
    wchar_t* full = WideFullPath(wide);
    MemFree(wide);
    if (!full || wcslen(full) < plainPathLimit || wcsncmp(full, L"\\\\.\\", 4) == 0)
        return full;
    // "C:\..." becomes "\\?\C:\...", "\\server\share\..." becomes
    // "\\?\UNC\server\share\...".
    bool network = wcsncmp(full, L"\\\\", 2) == 0;
    const wchar_t* prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
    const wchar_t* rest = network ? full + 1 : full;
    size_t length = wcslen(prefix) + wcslen(rest);
    wchar_t* prefixed = (wchar_t*)MemAlloc((length + 1) * sizeof(wchar_t));
    if (prefixed) {
        wcscpy(prefixed, prefix);
        wcscat(prefixed, rest);
    }
    MemFree(full);
    return prefixed;
}

static PlatformFile* WrapHandle(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    PlatformFile* file = (PlatformFile*)MemAlloc(sizeof(PlatformFile));
    if (!file) {
        CloseHandle(handle);
        return nullptr;
    }
    file->handle = handle;
    return file;
}

bool IsDevicePath(const wchar_t* widePath)
{
    if (wcsncmp(widePath, L"\\\\.\\", 4) != 0 && wcsncmp(widePath, L"\\\\?\\", 4) != 0)
        return false;
    // A file below a drive, a share or a volume; "\\.\C:" alone is the
    // volume itself.
    const wchar_t* rest = widePath + 4;
    bool letter = (rest[0] | 0x20) >= L'a' && (rest[0] | 0x20) <= L'z';
    if ((letter && rest[1] == L':' && rest[2] == L'\\') || wcsncmp(rest, L"UNC\\", 4) == 0)
        return false;
    const wchar_t* volumeEnd = wcsncmp(rest, L"Volume{", 7) == 0 ? wcschr(rest, L'}') : nullptr;
    return !(volumeEnd && volumeEnd[1] == L'\\');
}

// Only files on a disk are read. A pipe, a console or another device is
// refused before it is opened where its name tells (reserved names such
// as NUL, CON and COM1 become "\\.\" paths), since opening one may wait or
// act on it; otherwise by the type of what was opened.
PlatformFile* OpenFileForRead(const char* path)
{
    wchar_t* widePath = WidePath(path);
    if (!widePath || IsDevicePath(widePath)) {
        MemFree(widePath);
        return nullptr;
    }
    HANDLE handle = CreateFileW(widePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    MemFree(widePath);
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    return WrapHandle(handle);
}

bool GetFileSize64(PlatformFile* file, uint64_t* size)
{
    LARGE_INTEGER value;
    if (!GetFileSizeEx(file->handle, &value) || value.QuadPart < 0)
        return false;
    *size = (uint64_t)value.QuadPart;
    return true;
}

bool SeekFile(PlatformFile* file, uint64_t offset)
{
    LARGE_INTEGER distance;
    distance.QuadPart = (LONGLONG)offset;
    return offset <= (uint64_t)INT64_MAX &&
           SetFilePointerEx(file->handle, distance, nullptr, FILE_BEGIN) != 0;
}

void CloseFile(PlatformFile* file)
{
    if (!file)
        return;
    CloseHandle(file->handle);
    MemFree(file);
}

void DeleteFilePath(const char* path)
{
    if (!path)
        return;
    wchar_t* widePath = WidePath(path);
    if (widePath)
        DeleteFileW(widePath);
    MemFree(widePath);
    ForgetTempFile(path);
}

static void DeleteUnfinished(const char* path)
{
    DeleteFileA(path);
}

// A file still open for writing is only marked for deletion here; it goes
// when its handle is closed, at the latest when the process ends.
void DeleteUnfinishedTempFiles()
{
    ForEachUnfinishedTempFile(DeleteUnfinished);
}
