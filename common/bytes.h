// bytes.h - byte fills and little-endian fields of the file formats.
#pragma once

#include <cstddef>
#include <cstdint>

// Sets `count` bytes of `buffer` to the low 8 bits of `value`; returns
// `buffer`. A count of 0 writes nothing.
void* FillBytes(void* buffer, int value, size_t count);

// Unsigned 32-bit little-endian value at `bytes`.
inline uint32_t ReadLe32(const unsigned char* bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

inline uint16_t ReadLe16(const unsigned char* bytes)
{
    return (uint16_t)(bytes[0] | bytes[1] << 8);
}

inline void WriteLe32(unsigned char* bytes, uint32_t value)
{
    bytes[0] = (unsigned char)value;
    bytes[1] = (unsigned char)(value >> 8);
    bytes[2] = (unsigned char)(value >> 16);
    bytes[3] = (unsigned char)(value >> 24);
}
