// platform_read_posix.cpp - the one call that reads file data, kept apart
// so that tests can link a stand-in that reads short, as a file cut
// meanwhile does.
#include "common/platform.h"
#include "common/platform_file.h"

#include <cerrno>
#include <unistd.h>


uint32_t ReadFileBytes(PlatformFile* file, void* buffer, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        ssize_t got = read(file->descriptor, (char*)buffer + total, count - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        total += (uint32_t)got;
    }
    return total;
}
