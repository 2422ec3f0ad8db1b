// platform_write_posix.cpp - the one call that writes file data, kept
// apart so that tests can link a stand-in that fails like a full disk.
#include "common/platform.h"
#include "common/platform_file.h"

#include <cerrno>
#include <unistd.h>


bool WriteFileBytes(PlatformFile* file, const void* data, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        ssize_t written = write(file->descriptor, (const char*)data + total, count - total);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        total += (uint32_t)written;
    }
    return true;
}
