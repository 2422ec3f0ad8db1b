// platform_posix.cpp - the platform layer on POSIX systems, mirroring the
// Win32 one: zero-filled heap blocks whose growth is zero-filled, and
// regular files read with read sharing (advisory locks). Outputs are in
// platform_output_posix.cpp.
#include "common/platform.h"
#include "common/large_pages.h"
#include "common/platform_file.h"
#include "common/temp_registry.h"

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
// Blocks from this size on are whole movies and bodies, written whole
// soon after: they are asked to come in large pages.
const size_t largeBlock = 4u << 20;

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
    if (size >= largeBlock)
        AdviseLargePages(start, size + blockHeader);
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

// Only regular files are read. The name is looked at before it is opened,
// since opening a named pipe waits for a writer and opening a device may
// act on it; what was opened is looked at again, in case the name was
// swapped meanwhile (O_NONBLOCK keeps that open from waiting, and does
// nothing to a regular file).
PlatformFile* OpenFileForRead(const char* path)
{
    struct stat status;
    if (!path || !*path || stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return nullptr;
    // A file that someone holds for writing is not shared with readers.
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
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
