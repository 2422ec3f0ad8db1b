// platform.h - the operating-system services the portable core needs:
// memory, paths and files. One implementation per
// platform: platform_win.cpp (Win32) and platform_posix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// Memory. Every block that crosses a function boundary comes from these
// and belongs to the receiver, who releases it with MemFree.

// A zero-filled block of `size` bytes, or null.
void* MemAlloc(size_t size);
// Size 0 frees `block` and returns null; a null `block` is MemAlloc(size);
// otherwise the block may move and any growth is zero-filled. Null on
// failure, in which case `block` is still valid and still the caller's.
void* MemReAlloc(void* block, size_t size);
// Releases a block from the two functions above; null is ignored.
void MemFree(void* block);

// The full path of `name` as a new NUL-terminated allocation, or null.
char* GetFullPath(const char* name);

// Files. No handle outlives the call of the operation that opened it.
struct PlatformFile;

// Opens an existing file for reading; others may read it meanwhile but
// not write it. Null when it cannot be opened (or is a directory).
PlatformFile* OpenFileForRead(const char* path);
// The file's size in bytes; false when the platform cannot tell.
bool GetFileSize64(PlatformFile* file, uint64_t* size);
// Positions at `offset` bytes from the start; positions past the end are
// allowed. False on failure.
bool SeekFile(PlatformFile* file, uint64_t offset);
// Reads up to `count` bytes into `buffer`; returns how many arrived. Fewer
// than asked means the end of the file or a read error. Lives in a
// translation unit of its own so that tests can link a stand-in.
uint32_t ReadFileBytes(PlatformFile* file, void* buffer, uint32_t count);

// Creates a new, empty file in the folder of `destinationPath`, to be
// moved to the destination once complete, with the mode a new file gets
// (the umask applies). Nobody else may read or write it while it is open;
// on Windows it may be deleted meanwhile (see DeleteUnfinishedTempFiles).
// On success `*tempPath` receives the new file's name (the caller frees it
// with MemFree), and the file counts as unfinished until CommitTempFile
// moves it or DeleteFilePath removes it.
PlatformFile* CreateTempFileBeside(const char* destinationPath, char** tempPath);
// Writes all `count` bytes; false unless every byte was written (a full
// disk is a failure). Lives in a translation unit of its own so that tests
// can link a failing stand-in.
bool WriteFileBytes(PlatformFile* file, const void* data, uint32_t count);
// Flushes and closes a file opened for writing; false if that failed (the
// data may not be on disk).
bool CloseWrittenFile(PlatformFile* file);
// Closes a file opened for reading. Null is ignored.
void CloseFile(PlatformFile* file);

// How CommitTempFile treats a file that already has the destination's name.
enum class CommitMode {
    // Replaces it in one step. The new file takes the permission bits of
    // the file it replaces (POSIX), so that replacing never widens who may
    // read it; a new destination keeps the mode a new file gets.
    Replace,
    // Never replaces it: the check and the move are one step of the file
    // system, so a file that another program creates under the name at any
    // moment before is never lost.
    NoReplace,
};

enum class CommitResult {
    Done,    // the destination is the finished file now
    Exists,  // NoReplace, and the name was taken; both files are as they were
    Failed,  // both files are as they were
};

// Moves the finished (closed) file `tempPath` to `destinationPath` as
// `mode` says. Unless the result is Done, `tempPath` is still there and the
// caller deletes it.
CommitResult CommitTempFile(const char* tempPath, const char* destinationPath, CommitMode mode);
// Deletes a file; used to drop an unfinished temporary file, which then no
// longer counts as unfinished.
void DeleteFilePath(const char* path);

// Deletes every unfinished temporary file of the process: for a front end
// that is being ended by a signal (POSIX) or a console event (Windows).
// Safe to call from a signal handler or from any thread at any moment; it
// allocates nothing and takes no lock. The process must end right after,
// since writers of those files may still be running. Files whose names
// are longer than tempPathLimit bytes, or beyond the first
// unfinishedTempFileLimit at once, are not covered.
void DeleteUnfinishedTempFiles();
const size_t tempPathLimit = 4096;
const size_t unfinishedTempFileLimit = 32;

