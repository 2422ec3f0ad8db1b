// byte_buffer.cpp - the growable buffer.
#include "common/byte_buffer.h"

#include <cstring>

#include "common/platform.h"

bool ReserveBytes(ByteBuffer* buffer, uint64_t needed)
{
    if (needed <= buffer->capacity)
        return true;
    if (needed > buffer->limit)
        return false;
    uint64_t capacity = buffer->capacity * 2 > needed ? buffer->capacity * 2 : needed;
    if (capacity > buffer->limit)
        capacity = buffer->limit;
    if (capacity > SIZE_MAX)
        return false;
    unsigned char* grown = (unsigned char*)MemReAlloc(buffer->data, (size_t)capacity);
    if (!grown)
        return false;
    buffer->data = grown;
    buffer->capacity = capacity;
    return true;
}

bool AppendBytes(ByteBuffer* buffer, const unsigned char* data, size_t length)
{
    if (length > UINT64_MAX - buffer->used || !ReserveBytes(buffer, buffer->used + length))
        return false;
    if (data != buffer->data + buffer->used)
        memcpy(buffer->data + buffer->used, data, length);
    buffer->used += length;
    return true;
}

void ReleaseBytes(ByteBuffer* buffer)
{
    MemFree(buffer->data);
    buffer->data = nullptr;
    buffer->used = 0;
    buffer->capacity = 0;
}
