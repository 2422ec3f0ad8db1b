// short_read.cpp - a stand-in for the platform's file read that reads for
// real, but stops early in files of one size, as if they had been cut.
#include "short_read.h"

#include "common/platform.h"
#include "common/platform_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

uint64_t shortFileSize = 0;
uint64_t shortReadEnd = 0;

static uint64_t Position(PlatformFile* file)
{
#ifdef _WIN32
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    SetFilePointerEx(file->handle, zero, &position, FILE_CURRENT);
    return (uint64_t)position.QuadPart;
#else
    return (uint64_t)lseek(file->descriptor, 0, SEEK_CUR);
#endif
}

static uint32_t ReadSome(PlatformFile* file, char* buffer, uint32_t count)
{
#ifdef _WIN32
    DWORD got = 0;
    return ReadFile(file->handle, buffer, count, &got, nullptr) ? got : 0;
#else
    ssize_t got = read(file->descriptor, buffer, count);
    return got > 0 ? (uint32_t)got : 0;
#endif
}

uint32_t ReadFileBytes(PlatformFile* file, void* buffer, uint32_t count)
{
    uint64_t size = 0;
    if (shortFileSize != 0 && GetFileSize64(file, &size) && size == shortFileSize) {
        uint64_t position = Position(file);
        uint64_t left = position < shortReadEnd ? shortReadEnd - position : 0;
        if (left < count)
            count = (uint32_t)left;
    }
    uint32_t total = 0;
    while (total < count) {
        uint32_t got = ReadSome(file, (char*)buffer + total, count - total);
        if (got == 0)
            break;
        total += got;
    }
    return total;
}
