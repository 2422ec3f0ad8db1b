// latest_major_win.cpp - the newest player major version, fetched once per
// process from the address in the string table.
#include "latest_version.h"

#include "../app/texts.h"
#include "../common/platform.h"
#include "../res/resource.h"

namespace {
// 0 until the first call; from then on the answer of every call.
uint32_t latestPlayerMajor = 0;
}  // namespace

uint32_t GetLatestPlayerMajor()
{
    if (latestPlayerMajor != 0)
        return latestPlayerMajor;
    // Set before the fetch, so that a failed fetch is never repeated.
    latestPlayerMajor = latestMajorFloor;
    char* address = LoadResString(IDS_LATEST_URL);
    if (!address)
        return latestPlayerMajor;
    uint32_t length = 0;
    char* document = HttpGet(address, &length);
    if (document)
        latestPlayerMajor = LatestMajorFromDocument(document, length);
    MemFree(document);
    MemFree(address);
    return latestPlayerMajor;
}
