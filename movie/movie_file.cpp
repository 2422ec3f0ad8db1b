// movie_file.cpp - inspection of movie and projector files, and reading
// byte ranges of them.
#include "movie_file.h"

#include "../common/bytes.h"
#include "../common/platform.h"

// Reads `count` (at most 8) bytes at `offset` into `bytes`, which is
// zero-filled first so that bytes past the end read as zero.
static void ReadAt(PlatformFile* file, uint64_t offset, unsigned char* bytes, uint32_t count)
{
    FillBytes(bytes, 0, 8);
    if (SeekFile(file, offset))
        ReadFileBytes(file, bytes, count);
}

uint32_t InspectMovieFile(const char* path, MovieInfo* info)
{
    FillBytes(info, 0, sizeof *info);
    PlatformFile* file = OpenFileForRead(path);
    if (!file)
        return 0;
    uint64_t fileSize = 0;
    // The format's sizes are 32-bit: a larger file cannot be described.
    if (!GetFileSize64(file, &fileSize) || fileSize > 0xFFFFFFFFu) {
        CloseFile(file);
        return 0;
    }
    uint32_t size = (uint32_t)fileSize;
    info->movieSize = size;

    unsigned char bytes[8];
    uint32_t headerOffset = 0;
    ReadAt(file, 0, bytes, 4);
    if (bytes[0] == 'M' && bytes[1] == 'Z') {
        info->playerSize = size;
        if (size >= projectorTrailerSize) {
            ReadAt(file, size - projectorTrailerSize, bytes, 8);
            uint32_t movieSize = ReadLe32(bytes + 4);
            // A movie size beyond the bytes in front of the trailer would
            // wrap the player size around: such a file has no trailer.
            if (ReadLe32(bytes) == projectorMagic && movieSize <= size - projectorTrailerSize) {
                info->movieSize = movieSize;
                info->playerSize = size - movieSize - projectorTrailerSize;
                headerOffset = info->playerSize;
            }
        }
    }
    ReadAt(file, headerOffset, bytes, 8);
    CloseFile(file);
    info->header = ReadLe32(bytes);
    info->fileLength = ReadLe32(bytes + 4);

    if (!IsMovieSignature(info->header)) {
        uint32_t playerSize = info->playerSize;
        FillBytes(info, 0, sizeof *info);
        info->playerSize = playerSize;
    }
    return info->playerSize;
}

// Reads the range into a new buffer; `*delivered` receives the bytes read.
static unsigned char* ReadRange(const char* path, uint32_t offset, uint32_t count,
                                uint32_t* delivered)
{
    *delivered = 0;
    if (!path || count == 0)
        return nullptr;
    PlatformFile* file = OpenFileForRead(path);
    if (!file)
        return nullptr;
    unsigned char* buffer = (unsigned char*)MemAlloc(count);
    if (buffer && SeekFile(file, offset))
        *delivered = ReadFileBytes(file, buffer, count);
    CloseFile(file);
    return buffer;
}

unsigned char* ReadFileRange(const char* path, uint32_t offset, uint32_t count)
{
    uint32_t delivered;
    return ReadRange(path, offset, count, &delivered);
}

unsigned char* ReadFileRangeFully(const char* path, uint32_t offset, uint32_t count)
{
    uint32_t delivered;
    unsigned char* buffer = ReadRange(path, offset, count, &delivered);
    if (buffer && delivered != count) {
        MemFree(buffer);
        return nullptr;
    }
    return buffer;
}
