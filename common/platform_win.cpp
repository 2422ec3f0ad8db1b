// platform_win.cpp - the platform layer on Win32: the local heap, full
// paths, files with read sharing, outputs created anew and moved into
// place whole (with or without replacing).
#include "platform.h"
#include "platform_file.h"
#include "temp_registry.h"

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
    // opened anew, for writing and shared with nobody but a deleter, so
    // that a console handler can delete it while it is being written.
    if (folder && name && GetTempFileNameA(folder, "qlr", 0, name) != 0) {
        file = WrapHandle(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            RememberTempFile(name);
        else
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

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists, in
// the same step as the move itself. Permission bits are a POSIX matter.
CommitResult CommitTempFile(const char* tempPath, const char* destinationPath, CommitMode mode)
{
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (mode == CommitMode::Replace)
        flags |= MOVEFILE_REPLACE_EXISTING;
    if (MoveFileExA(tempPath, destinationPath, flags)) {
        ForgetTempFile(tempPath);
        return CommitResult::Done;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return CommitResult::Exists;
    return CommitResult::Failed;
}

void DeleteFilePath(const char* path)
{
    if (!path)
        return;
    DeleteFileA(path);
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
