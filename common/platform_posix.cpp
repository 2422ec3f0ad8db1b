// platform_posix.cpp - the platform layer on POSIX systems, mirroring the
// Win32 one: zero-filled heap blocks whose growth is zero-filled, files
// read with read sharing (advisory locks), outputs created anew and moved
// into place whole.
#include "platform.h"
#include "platform_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

uint32_t ReadFileBytes(PlatformFile* file, void* buffer, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        ssize_t got = read(file->descriptor, (char*)buffer + total, count - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        total += (uint32_t)got;
    }
    return total;
}

void CloseFile(PlatformFile* file)
{
    if (!file)
        return;
    close(file->descriptor);
    MemFree(file);
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
    int descriptor = mkstemp(name);
    if (descriptor < 0) {
        MemFree(name);
        return nullptr;
    }
    // mkstemp makes the file private; give it the mode a new file gets.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(descriptor, 0666 & ~mask) != 0 || flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        unlink(name);
        MemFree(name);
        return nullptr;
    }
    PlatformFile* file = WrapDescriptor(descriptor);
    if (!file) {
        unlink(name);
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

bool CommitTempFile(const char* tempPath, const char* destinationPath)
{
    return rename(tempPath, destinationPath) == 0;
}

void DeleteFilePath(const char* path)
{
    if (path)
        unlink(path);
}
