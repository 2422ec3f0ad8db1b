// byte_source.h - bytes read at any offset, from a file or from elsewhere
// (an archive entry held in memory or read again from its archive), so
// that inspection and decoding need not know where the bytes live.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatformFile;

struct ByteSource {
    uint64_t size;  // bytes the source holds
    // Reads up to `count` bytes at `offset` into `buffer` and returns how
    // many arrived: fewer than asked at the end of the source or when a
    // read failed.
    uint32_t (*readAt)(const ByteSource* source, uint64_t offset, void* buffer, uint32_t count);
    void* context;  // the reader's own
};

// Reads up to `count` bytes at `offset`; 0 past the end.
inline uint32_t ReadSource(const ByteSource* source, uint64_t offset, void* buffer, uint32_t count)
{
    if (offset >= source->size || count == 0)
        return 0;
    return source->readAt(source, offset, buffer, count);
}

// A new MemAlloc buffer holding the `count` bytes at `offset`, or null
// unless all of them were read (or the buffer could not be made).
unsigned char* ReadSourceRangeFully(const ByteSource* source, uint64_t offset, uint32_t count);

// The bytes of `size` at `bytes`, which must outlive the source.
ByteSource MemorySource(const unsigned char* bytes, size_t size);

// An open file as a source. The file stays the caller's, and must stay
// open while the source is used.
ByteSource FileSource(PlatformFile* file, uint64_t size);
