// bytes.cpp - the system's byte fill.
#include "common/bytes.h"

void* FillBytes(void* buffer, int value, size_t count)
{
    unsigned char* bytes = (unsigned char*)buffer;
    for (size_t i = 0; i < count; i++)
        bytes[i] = (unsigned char)value;
    return buffer;
}
