// latest_version.cpp - fuzz target: the latest-version document, as any
// server might answer. The major is read within the document's bytes
// (no terminating NUL is given) and always lands within its bounds.
#include <vector>

#include "net/latest_version.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > httpBodyLimit)
        return 0;
    // A copy of exactly the document's size, so that a read past it shows.
    std::vector<char> document(data, data + size);
    uint32_t length = (uint32_t)size;
    uint32_t major = LatestMajorFromDocument(document.data(), length);
    FUZZ_CHECK(major >= latestMajorFloor && major <= latestMajorCeiling);
    uint32_t parsed = ParseLatestMajor(document.data(), length);
    FUZZ_CHECK(parsed < latestMajorFloor || parsed > latestMajorCeiling || parsed == major);
    return 0;
}
