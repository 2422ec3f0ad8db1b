// platform_write_win.cpp - the one call that writes file data, kept apart
// so that tests can link a stand-in that fails like a full disk.
#include "common/platform.h"
#include "common/platform_file.h"

#include <windows.h>

bool WriteFileBytes(PlatformFile* file, const void* data, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        DWORD written = 0;
        if (!WriteFile(file->handle, (const char*)data + total, count - total, &written, nullptr) ||
            written == 0)
            return false;
        total += written;
    }
    return true;
}
