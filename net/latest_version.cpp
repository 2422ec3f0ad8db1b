// latest_version.cpp - the rule that reads the newest player major version
// out of the vendor's latest-version document.
#include "net/latest_version.h"

#include <cstring>

uint32_t ParseLatestMajor(const char* document, uint32_t length)
{
    if (!document || length == 0)
        return 0;
    const char* quote = (const char*)memchr(document, '"', length);
    if (!quote)
        return 0;
    const char* end = document + length;
    const char* scan = quote + 1;
    while (scan < end && (*scan == ' ' || *scan == '\t'))
        scan++;
    uint32_t number = 0;
    for (; scan < end && *scan >= '0' && *scan <= '9'; scan++) {
        uint32_t digit = (uint32_t)(*scan - '0');
        if (number > (UINT32_MAX - digit) / 10)
            number = UINT32_MAX;
        else
            number = number * 10 + digit;
    }
    return number;
}

uint32_t LatestMajorFromDocument(const char* document, uint32_t length)
{
    if (!document)
        return latestMajorFloor;
    uint32_t major = ParseLatestMajor(document, length);
    if (major < latestMajorFloor)
        return latestMajorFloor;
    if (major > latestMajorCeiling)
        return latestMajorCeiling;
    return major;
}
