// platform_output_win.cpp - outputs on Win32: a temporary file beside the
// destination that the system deletes should the process die before the
// commit (its delete disposition is set from its creation to the commit),
// flushed, and moved into place with write-through.
#include "common/platform.h"
#include "common/platform_file.h"
#include "common/platform_win.h"
#include "common/temp_registry.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// The folder part of `path`: up to and including its last separator, or
// empty when it names a file in the current folder. A MemAlloc block.
char* FolderOf(const char* path)
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
HANDLE CreateUniqueFile(const char* folder, char** name)
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
        // delete it while it is being written and the commit can move it.
        HANDLE file = widePath ? CreateFileW(widePath, GENERIC_READ | GENERIC_WRITE | DELETE,
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

// Sets or clears the delete disposition: while it is set the file goes
// when its handle closes, also when the process dies.
bool SetDeleteOnClose(HANDLE handle, bool deleteOnClose)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleteOnClose ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

void DeleteByName(const char* path)
{
    wchar_t* widePath = WidePath(path);
    if (widePath)
        DeleteFileW(widePath);
    MemFree(widePath);
}

// Frees the record and the names of an output whose handle is closed.
void ReleaseOutput(PlatformFile* file)
{
    if (file->output.tempPath)
        ForgetTempFile(file->output.tempPath);
    MemFree(file->output.tempPath);
    MemFree(file->output.placedPath);
    MemFree(file);
}

// Whether two handles of files in one folder are of the same file. (The
// volume is the same; Wine does not always tell its serial number.)
bool IsSameFileInFolder(HANDLE first, HANDLE second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileInformationByHandle(first, &a) && GetFileInformationByHandle(second, &b) &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Removes the name NameOutput gave, if it still names this file; it goes
// when the output's handle is closed.
void TakeBackName(const PlatformFile* file)
{
    wchar_t* widePath = WidePath(file->output.placedPath);
    HANDLE named = widePath ? CreateFileW(widePath, FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr)
                            : INVALID_HANDLE_VALUE;
    bool same = named != INVALID_HANDLE_VALUE && IsSameFileInFolder(named, file->handle);
    if (named != INVALID_HANDLE_VALUE)
        CloseHandle(named);
    if (same)
        DeleteFileW(widePath);
    MemFree(widePath);
}

// Moves `from` to `to` with write-through: without
// MOVEFILE_REPLACE_EXISTING the move fails when the name exists, in the
// same step as the move itself. A replacing move first tries not to
// replace, so that it is known whether it did.
CommitResult MoveOutput(const wchar_t* from, const wchar_t* to, CommitMode mode, bool* replaced)
{
    *replaced = false;
    if (MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH))
        return CommitResult::Done;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
        return CommitResult::Failed;
    if (mode == CommitMode::NoReplace)
        return CommitResult::Exists;
    *replaced = MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING) != 0;
    return *replaced ? CommitResult::Done : CommitResult::Failed;
}

}  // namespace

PlatformFile* CreateOutputBeside(const char* destinationPath)
{
    if (!destinationPath || !*destinationPath)
        return nullptr;
    char* folder = FolderOf(destinationPath);
    char* name = nullptr;
    HANDLE handle = folder ? CreateUniqueFile(folder, &name) : INVALID_HANDLE_VALUE;
    MemFree(folder);
    PlatformFile* file =
        handle != INVALID_HANDLE_VALUE ? (PlatformFile*)MemAlloc(sizeof(PlatformFile)) : nullptr;
    if (!file) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            DeleteByName(name);
        }
        MemFree(name);
        return nullptr;
    }
    file->handle = handle;
    file->output.tempPath = name;
    RememberTempFile(name);
    // Where the file system cannot, the file is swept by name on a
    // console event only, as any temporary file.
    file->output.deleteOnClose = SetDeleteOnClose(handle, true);
    return file;
}

void DiscardOutput(PlatformFile* file)
{
    if (!file)
        return;
    bool deleted = file->output.deleteOnClose || SetDeleteOnClose(file->handle, true);
    CloseHandle(file->handle);
    if (!deleted)
        DeleteByName(file->output.tempPath);
    ReleaseOutput(file);
}

bool FlushOutput(PlatformFile* file)
{
    return FlushFileBuffers(file->handle) != 0;
}

// Windows has no call that starts a flush without waiting for it; each
// output is flushed in FlushOutput.
void StartFlushOutput(PlatformFile*, uint64_t, uint64_t)
{
}

// The delete disposition is cleared just before the move, and set again
// if the move fails.
CommitResult NameOutput(PlatformFile* file, const char* destinationPath, CommitMode mode)
{
    size_t length = strlen(destinationPath);
    char* placedPath = (char*)MemAlloc(length + 1);
    wchar_t* from = WidePath(file->output.tempPath);
    wchar_t* to = WidePath(destinationPath);
    bool disposed = file->output.deleteOnClose;
    bool ready = placedPath && from && to && (!disposed || SetDeleteOnClose(file->handle, false));
    CommitResult result =
        ready ? MoveOutput(from, to, mode, &file->output.replaced) : CommitResult::Failed;
    if (ready && disposed)
        file->output.deleteOnClose =
            result != CommitResult::Done && SetDeleteOnClose(file->handle, true);
    MemFree(to);
    MemFree(from);
    if (result != CommitResult::Done) {
        MemFree(placedPath);
        return result;
    }
    ForgetTempFile(file->output.tempPath);
    MemFree(file->output.tempPath);
    file->output.tempPath = nullptr;
    memcpy(placedPath, destinationPath, length + 1);
    file->output.placedPath = placedPath;
    return result;
}

// The move was made with write-through: the file system has recorded the
// new name before MoveFileEx returned, so the folder has nothing left to
// flush.
bool FlushOutputFolder(PlatformFile*)
{
    return true;
}

void EndOutput(PlatformFile* file, bool takeBackName)
{
    if (takeBackName)
        TakeBackName(file);
    CloseHandle(file->handle);
    ReleaseOutput(file);
}
