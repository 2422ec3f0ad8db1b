// failing_write.cpp - a stand-in for the platform's file write that
// writes for real until a budget of bytes is spent and then fails, as a
// full disk does.
#include "failing_write.h"

#include "common/platform.h"
#include "common/platform_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

uint64_t writeBudget = UINT64_MAX;

static bool WriteSome(PlatformFile* file, const unsigned char* data, uint32_t count)
{
#ifdef _WIN32
    DWORD written = 0;
    return WriteFile(file->handle, data, count, &written, nullptr) && written == count;
#else
    return write(file->descriptor, data, count) == (ssize_t)count;
#endif
}

bool WriteFileBytes(PlatformFile* file, const void* data, uint32_t count)
{
    uint32_t allowed = writeBudget < count ? (uint32_t)writeBudget : count;
    bool written = allowed == 0 || WriteSome(file, (const unsigned char*)data, allowed);
    if (writeBudget != UINT64_MAX)
        writeBudget -= allowed;
    return written && allowed == count;
}
