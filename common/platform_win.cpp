// platform_win.cpp - the platform layer on Win32: the local heap, full
// paths, files with read sharing, outputs created anew and moved into
// place whole (with or without replacing). File names are passed to the
// wide calls, so that they may be as long as Windows allows.
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

static char* WideToAnsi(const wchar_t* wide)
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

PlatformFile* OpenFileForRead(const char* path)
{
    wchar_t* widePath = WidePath(path);
    if (!widePath)
        return nullptr;
    HANDLE handle = CreateFileW(widePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    MemFree(widePath);
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

// The folder part of `path`: up to and including its last separator, or
// empty when it names a file in the current folder. A MemAlloc block.
static char* FolderOf(const char* path)
{
    size_t folderLength = 0;
    for (size_t i = 0; path[i]; i++) {
        if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':'))
            folderLength = i + 1;
    }
    char* folder = (char*)MemAlloc(folderLength + 1);
    if (folder)
        CopyMemory(folder, path, folderLength);
    return folder;
}

// Creates a new file "qlrNNNNNNNN.tmp" in `folder` (a name this process
// picked and nobody else holds), for writing and without sharing. Its name
// goes to `*name`. GetTempFileName is not used: it takes no folder longer
// than MAX_PATH.
static HANDLE CreateUniqueFile(const char* folder, char** name)
{
    static LONG counter = 0;
    size_t folderLength = strlen(folder);
    *name = (char*)MemAlloc(folderLength + 16);
    if (!*name)
        return INVALID_HANDLE_VALUE;
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < 1000; attempt++) {
        DWORD number = seed + (DWORD)InterlockedIncrement(&counter) * 2654435761u;
        snprintf(*name, folderLength + 16, "%sqlr%08lx.tmp", folder, (unsigned long)number);
        wchar_t* widePath = WidePath(*name);
        // Shared with nobody but a deleter, so that a console handler can
        // delete it while it is being written.
        HANDLE file = widePath ? CreateFileW(widePath, GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr)
                               : INVALID_HANDLE_VALUE;
        DWORD error = GetLastError();
        MemFree(widePath);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    MemFree(*name);
    *name = nullptr;
    return INVALID_HANDLE_VALUE;
}

PlatformFile* CreateTempFileBeside(const char* destinationPath, char** tempPath)
{
    *tempPath = nullptr;
    if (!destinationPath || !*destinationPath)
        return nullptr;
    char* folder = FolderOf(destinationPath);
    char* name = nullptr;
    PlatformFile* file = folder ? WrapHandle(CreateUniqueFile(folder, &name)) : nullptr;
    MemFree(folder);
    if (!file) {
        if (name)
            DeleteFilePath(name);
        MemFree(name);
        return nullptr;
    }
    RememberTempFile(name);
    *tempPath = name;
    return file;
}

bool CloseWrittenFile(PlatformFile* file)
{
    bool flushed = FlushFileBuffers(file->handle) != 0;
    bool closed = CloseHandle(file->handle) != 0;
    MemFree(file);
    return flushed && closed;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists, in
// the same step as the move itself. Permission bits are a POSIX matter.
CommitResult CommitTempFile(const char* tempPath, const char* destinationPath, CommitMode mode)
{
    wchar_t* from = WidePath(tempPath);
    wchar_t* to = WidePath(destinationPath);
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (mode == CommitMode::Replace)
        flags |= MOVEFILE_REPLACE_EXISTING;
    bool moved = from && to && MoveFileExW(from, to, flags) != 0;
    DWORD error = GetLastError();
    MemFree(to);
    MemFree(from);
    if (moved) {
        ForgetTempFile(tempPath);
        return CommitResult::Done;
    }
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return CommitResult::Exists;
    return CommitResult::Failed;
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
