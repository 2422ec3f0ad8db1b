// byte_buffer.h - a block of bytes that grows as data arrives, within a
// limit: the one growable buffer of the program.
#pragma once

#include <cstddef>
#include <cstdint>

// `data` is a MemAlloc block (null until the first growth) that the
// buffer's owner frees with MemFree; `used` bytes of it hold data and
// `capacity` are allocated. `limit` caps the capacity.
struct ByteBuffer {
    unsigned char* data;
    uint64_t used;
    uint64_t capacity;
    uint64_t limit;
};

// An empty buffer that may grow to `limit` bytes.
inline ByteBuffer EmptyByteBuffer(uint64_t limit) { return ByteBuffer{nullptr, 0, 0, limit}; }

// Makes room for `needed` bytes in all, at least doubling what is there
// (growth is zero-filled). False when that passes the limit or memory runs
// out; the buffer is then as it was.
bool ReserveBytes(ByteBuffer* buffer, uint64_t needed);

// Appends `length` bytes. `data` may point into the buffer's own free room
// (bytes produced in place), in which case nothing is copied.
bool AppendBytes(ByteBuffer* buffer, const unsigned char* data, size_t length);

// Frees the block and empties the buffer; the limit stays.
void ReleaseBytes(ByteBuffer* buffer);
