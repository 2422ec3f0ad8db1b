// platform_posix.cpp - the platform layer on POSIX systems, mirroring the
// Win32 one: zero-filled heap blocks whose growth is zero-filled, files
// read with read sharing (advisory locks), outputs created anew and moved
// into place whole, with or without replacing.
#include "common/platform.h"
#include "common/platform_file.h"
#include "common/temp_registry.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>


// Each block carries its size in front of it, so that MemReAlloc can
// zero-fill growth as the Windows local heap does. The header keeps the
// block aligned for any type.
namespace {
const size_t blockHeader = 16;

size_t BlockSize(void* block)
{
    size_t size;
    memcpy(&size, (char*)block - blockHeader, sizeof size);
    return size;
}
}  // namespace

void* MemAlloc(size_t size)
{
    if (size > SIZE_MAX - blockHeader)
        return nullptr;
    char* start = (char*)calloc(1, size + blockHeader);
    if (!start)
        return nullptr;
    memcpy(start, &size, sizeof size);
    return start + blockHeader;
}

void* MemReAlloc(void* block, size_t size)
{
    if (size == 0) {
        MemFree(block);
        return nullptr;
    }
    if (!block)
        return MemAlloc(size);
    if (size > SIZE_MAX - blockHeader)
        return nullptr;
    size_t oldSize = BlockSize(block);
    char* start = (char*)realloc((char*)block - blockHeader, size + blockHeader);
    if (!start)
        return nullptr;
    if (size > oldSize)
        memset(start + blockHeader + oldSize, 0, size - oldSize);
    memcpy(start, &size, sizeof size);
    return start + blockHeader;
}

void MemFree(void* block)
{
    if (block)
        free((char*)block - blockHeader);
}

// Appends the path segment [segment, segment + length) to `path`, resolving
// "." and ".." as the Windows full-path rule does (no link is followed and
// the file need not exist).
static void AppendSegment(char* path, size_t* pathLength, const char* segment, size_t length)
{
    if (length == 0 || (length == 1 && segment[0] == '.'))
        return;
    if (length == 2 && segment[0] == '.' && segment[1] == '.') {
        while (*pathLength > 1 && path[*pathLength - 1] != '/')
            (*pathLength)--;
        if (*pathLength > 1)
            (*pathLength)--;
        path[*pathLength] = 0;
        return;
    }
    if (*pathLength > 1)
        path[(*pathLength)++] = '/';
    memcpy(path + *pathLength, segment, length);
    *pathLength += length;
    path[*pathLength] = 0;
}

static void AppendSegments(char* path, size_t* pathLength, const char* text)
{
    while (*text) {
        const char* end = strchr(text, '/');
        size_t length = end ? (size_t)(end - text) : strlen(text);
        AppendSegment(path, pathLength, text, length);
        text += length;
        if (*text == '/')
            text++;
    }
}

char* GetFullPath(const char* name)
{
    if (!name || !*name)
        return nullptr;
    char* directory = nullptr;
    if (name[0] != '/') {
        directory = getcwd(nullptr, 0);
        if (!directory)
            return nullptr;
    }
    size_t room = strlen(name) + (directory ? strlen(directory) : 0) + 3;
    char* path = (char*)MemAlloc(room);
    if (path) {
        size_t length = 1;
        path[0] = '/';
        if (directory)
            AppendSegments(path, &length, directory);
        AppendSegments(path, &length, name);
    }
    free(directory);
    return path;
}

static PlatformFile* WrapDescriptor(int descriptor)
{
    PlatformFile* file = (PlatformFile*)MemAlloc(sizeof(PlatformFile));
    if (!file) {
        close(descriptor);
        return nullptr;
    }
    file->descriptor = descriptor;
    return file;
}

PlatformFile* OpenFileForRead(const char* path)
{
    if (!path || !*path)
        return nullptr;
    int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status;
    // A directory cannot be opened as a file; a file that someone holds
    // for writing is not shared with readers.
    if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode) ||
        (flock(descriptor, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
        close(descriptor);
        return nullptr;
    }
    return WrapDescriptor(descriptor);
}

bool GetFileSize64(PlatformFile* file, uint64_t* size)
{
    struct stat status;
    if (fstat(file->descriptor, &status) != 0 || status.st_size < 0)
        return false;
    *size = (uint64_t)status.st_size;
    return true;
}

bool SeekFile(PlatformFile* file, uint64_t offset)
{
    if (offset > (uint64_t)INT64_MAX)
        return false;
    return lseek(file->descriptor, (off_t)offset, SEEK_SET) == (off_t)offset;
}

void CloseFile(PlatformFile* file)
{
    if (!file)
        return;
    close(file->descriptor);
    MemFree(file);
}

// A name for a temporary file: ".quillaro-" and six letters or digits,
// different on every call of the process and between processes. Uniqueness
// in the folder comes from creating the file with O_EXCL, not from the name.
static void MakeTempName(char* letters)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter(0);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // splitmix64 over the time, the process and a counter.
    uint64_t mixed = (uint64_t)now.tv_nsec ^ ((uint64_t)now.tv_sec << 30) ^
                     ((uint64_t)getpid() << 40) ^ (counter++ * 0x9E3779B97F4A7C15u);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
    mixed ^= mixed >> 31;
    for (int i = 0; i < 6; i++, mixed /= sizeof alphabet - 1)
        letters[i] = alphabet[mixed % (sizeof alphabet - 1)];
}

// Creates the file `name` (its last six characters replaced by a fresh
// name each try) with the mode a new file gets. A descriptor, or -1.
static int CreateUniqueFile(char* name)
{
    const int tries = 100;
    char* letters = name + strlen(name) - 6;
    for (int i = 0; i < tries; i++) {
        MakeTempName(letters);
        int descriptor = open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

PlatformFile* CreateTempFileBeside(const char* destinationPath, char** tempPath)
{
    *tempPath = nullptr;
    if (!destinationPath || !*destinationPath)
        return nullptr;
    const char* slash = strrchr(destinationPath, '/');
    size_t directoryLength = slash ? (size_t)(slash - destinationPath) + 1 : 0;
    static const char pattern[] = ".quillaro-XXXXXX";
    char* name = (char*)MemAlloc(directoryLength + sizeof pattern);
    if (!name)
        return nullptr;
    memcpy(name, destinationPath, directoryLength);
    memcpy(name + directoryLength, pattern, sizeof pattern);
    int descriptor = CreateUniqueFile(name);
    if (descriptor < 0) {
        MemFree(name);
        return nullptr;
    }
    RememberTempFile(name);
    PlatformFile* file = nullptr;
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0)
        file = WrapDescriptor(descriptor);
    else
        close(descriptor);
    if (!file) {
        DeleteFilePath(name);
        MemFree(name);
        return nullptr;
    }
    *tempPath = name;
    return file;
}

bool CloseWrittenFile(PlatformFile* file)
{
    bool synced = fsync(file->descriptor) == 0;
    bool closed = close(file->descriptor) == 0;
    MemFree(file);
    return synced && closed;
}

// Gives `tempPath` the permission bits of the file it is about to replace,
// if there is one. False when they cannot be given.
static bool TakePermissionBits(const char* tempPath, const char* destinationPath)
{
    struct stat status;
    if (stat(destinationPath, &status) != 0)
        return true;
    return chmod(tempPath, status.st_mode & 0777) == 0;
}

// Moves without replacing: renameat2 where the file system offers it, or
// a hard link (which never replaces either) and the removal of the old name.
static CommitResult MoveWithoutReplacing(const char* tempPath, const char* destinationPath)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, tempPath, AT_FDCWD, destinationPath, RENAME_NOREPLACE) == 0)
        return CommitResult::Done;
    if (errno == EEXIST)
        return CommitResult::Exists;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return CommitResult::Failed;
#endif
    if (link(tempPath, destinationPath) != 0)
        return errno == EEXIST ? CommitResult::Exists : CommitResult::Failed;
    unlink(tempPath);
    return CommitResult::Done;
}

CommitResult CommitTempFile(const char* tempPath, const char* destinationPath, CommitMode mode)
{
    CommitResult result;
    if (mode == CommitMode::NoReplace)
        result = MoveWithoutReplacing(tempPath, destinationPath);
    else if (TakePermissionBits(tempPath, destinationPath) && rename(tempPath, destinationPath) == 0)
        result = CommitResult::Done;
    else
        result = CommitResult::Failed;
    if (result == CommitResult::Done)
        ForgetTempFile(tempPath);
    return result;
}

void DeleteFilePath(const char* path)
{
    if (!path)
        return;
    unlink(path);
    ForgetTempFile(path);
}

static void UnlinkUnfinished(const char* path)
{
    unlink(path);
}

void DeleteUnfinishedTempFiles()
{
    int savedErrno = errno;
    ForEachUnfinishedTempFile(UnlinkUnfinished);
    errno = savedErrno;
}
