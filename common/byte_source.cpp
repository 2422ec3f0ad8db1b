// byte_source.cpp - byte sources over memory and over open files.
#include "common/byte_source.h"

#include <cstring>

#include "common/platform.h"

namespace {
uint32_t ReadMemory(const ByteSource* source, uint64_t offset, void* buffer, uint32_t count)
{
    uint64_t left = source->size - offset;
    uint32_t length = left < count ? (uint32_t)left : count;
    memcpy(buffer, (const unsigned char*)source->context + offset, length);
    return length;
}

uint32_t ReadFile(const ByteSource* source, uint64_t offset, void* buffer, uint32_t count)
{
    PlatformFile* file = (PlatformFile*)source->context;
    return SeekFile(file, offset) ? ReadFileBytes(file, buffer, count) : 0;
}
}  // namespace

unsigned char* ReadSourceRangeFully(const ByteSource* source, uint64_t offset, uint32_t count)
{
    if (count == 0)
        return nullptr;
    unsigned char* buffer = (unsigned char*)MemAlloc(count);
    if (buffer && ReadSource(source, offset, buffer, count) != count) {
        MemFree(buffer);
        return nullptr;
    }
    return buffer;
}

ByteSource MemorySource(const unsigned char* bytes, size_t size)
{
    return ByteSource{size, ReadMemory, (void*)bytes};
}

ByteSource FileSource(PlatformFile* file, uint64_t size)
{
    return ByteSource{size, ReadFile, file};
}
