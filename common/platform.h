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
// not write it. Null when it cannot be opened, and for anything but a
// regular file: a folder, a named pipe, a device or a socket is refused
// without being read or waited on.
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
// Closes a file opened for reading. Null is ignored.
void CloseFile(PlatformFile* file);

// Outputs. An output is created in the folder of its destination, written
// whole, and only then given the destination's name, so that no failure
// and no crash leaves a part of it under that name:
// - Linux: the file has no name at all until it is committed (O_TMPFILE),
//   so a process that is killed leaves nothing behind. Where the file
//   system cannot do that it is a temporary file ".quillaro-XXXXXX",
//   which DeleteUnfinishedTempFiles removes on a signal but a process
//   that is killed outright leaves.
// - Windows: a temporary file "qlrNNNNNNNN.tmp" that the system deletes
//   when its handle closes, a process that dies included, until the
//   commit clears that.
// A committed output survives a power cut: its data and then its folder
// are flushed before the commit reports Done.

// Creates a new, empty output for `destinationPath`, with the mode a new
// file gets (the umask applies); nobody else may read or write it while
// it is written. Null when no file can be created in that folder. The
// caller writes it with WriteFileBytes and ends it with CommitOutput
// (or its steps below) or DiscardOutput.
PlatformFile* CreateOutputBeside(const char* destinationPath);
// Writes all `count` bytes; false unless every byte was written (a full
// disk is a failure). Lives in a translation unit of its own so that tests
// can link a failing stand-in.
bool WriteFileBytes(PlatformFile* file, const void* data, uint32_t count);

// How a commit treats a file that already has the destination's name.
enum class CommitMode {
    // Replaces it in one step. The new file takes the permission bits of
    // the file it replaces (POSIX), so that replacing never widens who may
    // read it; a new destination keeps the mode a new file gets.
    Replace,
    // Never replaces it: the check and the naming are one step of the file
    // system, so a file that another program creates under the name at any
    // moment before is never lost.
    NoReplace,
};

enum class CommitResult {
    Done,        // the destination is the finished file now, on the disk
    Exists,      // NoReplace, and the name was taken; that file is as it was
    Failed,      // the destination is as it was
    // The finished file replaced the destination, but its folder could not
    // be flushed (the disk is failing): after a power cut the file it
    // replaced may come back. Never for a destination that did not exist:
    // such a name is taken back, and the result is Failed.
    NotFlushed,
};

// Puts a completely written output in place as `mode` says: flushes its
// data, names it, flushes the folder. The file is closed whatever the
// result, and unless the destination is the new file now nothing of the
// output is left.
CommitResult CommitOutput(PlatformFile* file, const char* destinationPath, CommitMode mode);
// Closes an output that will not be committed; nothing of it is left and
// the destination is as it was. Null is ignored.
void DiscardOutput(PlatformFile* file);

// CommitOutput in its steps, for a batch that flushes a folder once for
// all the outputs it named there: FlushOutput and NameOutput for each
// (DiscardOutput unless both succeed), then FlushOutputFolder once, then
// FinishOutput for each with what the flush returned.
// Flushes the output's data to the disk; false if that failed.
bool FlushOutput(PlatformFile* file);
// Starts writing `length` bytes of the output's data from `offset` (0:
// up to its end) to the disk and returns at once, so that the disk
// writes while more is made and FlushOutput has less to wait for. A
// hint, that may do nothing: only FlushOutput says the data is on the disk.
void StartFlushOutput(PlatformFile* file, uint64_t offset, uint64_t length);
// Gives the flushed output the destination's name; the file stays open.
CommitResult NameOutput(PlatformFile* file, const char* destinationPath, CommitMode mode);
// Flushes the folder the output was created in, so that the names given
// there survive a power cut; false if that failed.
bool FlushOutputFolder(PlatformFile* file);
// Closes a named output. Without `folderFlushed` the naming is taken back
// where the destination did not exist (Failed), and NotFlushed otherwise;
// Done with it.
CommitResult FinishOutput(PlatformFile* file, bool folderFlushed);

// Deletes a file.
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

