// platform_win.cpp - the platform layer on Win32: the local heap, full
// paths, files with read sharing, outputs created anew and moved into
// place whole.
#include "platform.h"
#include "platform_file.h"

#include <windows.h>

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

char* GetFullPath(const char* name)
{
    if (!name || !*name)
        return nullptr;
    DWORD needed = GetFullPathNameA(name, 0, nullptr, nullptr);
    if (needed == 0)
        return nullptr;
    char* path = (char*)MemAlloc((size_t)needed + 1);
    if (!path)
        return nullptr;
    DWORD length = GetFullPathNameA(name, needed + 1, path, nullptr);
    if (length == 0 || length > needed) {
        MemFree(path);
        return nullptr;
    }
    path[needed] = 0;
    return path;
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
    if (!path || !*path)
        return nullptr;
    return WrapHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
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

uint32_t ReadFileBytes(PlatformFile* file, void* buffer, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(file->handle, (char*)buffer + total, count - total, &got, nullptr) || got == 0)
            break;
        total += got;
    }
    return total;
}

void CloseFile(PlatformFile* file)
{
    if (!file)
        return;
    CloseHandle(file->handle);
    MemFree(file);
}

// The folder part of `path` (up to and including its last separator), or
// "." when it names a file in the current folder.
static char* FolderOf(const char* path)
{
    size_t folderLength = 0;
    for (size_t i = 0; path[i]; i++) {
        if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':'))
            folderLength = i + 1;
    }
    char* folder = (char*)MemAlloc(folderLength + 2);
    if (!folder)
        return nullptr;
    if (folderLength == 0)
        folder[0] = '.';
    else
        CopyMemory(folder, path, folderLength);
    return folder;
}

PlatformFile* CreateTempFileBeside(const char* destinationPath, char** tempPath)
{
    *tempPath = nullptr;
    if (!destinationPath || !*destinationPath)
        return nullptr;
    char* folder = FolderOf(destinationPath);
    char* name = (char*)MemAlloc(MAX_PATH);
    PlatformFile* file = nullptr;
    // GetTempFileNameA creates the file, so the name is ours; it is then
    // opened anew, for writing and without sharing.
    if (folder && name && GetTempFileNameA(folder, "qlr", 0, name) != 0) {
        file = WrapHandle(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            DeleteFileA(name);
    }
    MemFree(folder);
    if (!file) {
        MemFree(name);
        return nullptr;
    }
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

bool CommitTempFile(const char* tempPath, const char* destinationPath)
{
    return MoveFileExA(tempPath, destinationPath,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void DeleteFilePath(const char* path)
{
    if (path)
        DeleteFileA(path);
}
