// latest_major_win.cpp - the newest player major version, fetched once per
// process from the address its caller names.
#include "net/latest_version.h"

#include "common/platform.h"

namespace {
// 0 until the first call; from then on the answer of every call.
uint32_t latestPlayerMajor = 0;
}  // namespace

uint32_t GetLatestPlayerMajor(const char* address)
{
    if (latestPlayerMajor != 0)
        return latestPlayerMajor;
    // Set before the fetch, so that a failed fetch is never repeated.
    latestPlayerMajor = latestMajorFloor;
    if (!address)
        return latestPlayerMajor;
    uint32_t length = 0;
    char* document = HttpGet(address, &length);
    if (document)
        latestPlayerMajor = LatestMajorFromDocument(document, length);
    MemFree(document);
    return latestPlayerMajor;
}
