// platform_read_win.cpp - the one call that reads file data, kept apart so
// that tests can link a stand-in that reads short, as a file cut meanwhile
// does.
#include "common/platform.h"
#include "common/platform_file.h"

#include <windows.h>

uint32_t ReadFileBytes(PlatformFile* file, void* buffer, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(file->handle, (char*)buffer + total, count - total, &got, nullptr) || got == 0)
            break;
        total += got;
    }
    return total;
}
