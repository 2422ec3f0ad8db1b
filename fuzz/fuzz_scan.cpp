// scan.cpp - fuzz target: scanning any bytes for embedded movies. Every
// movie found lies within the file, in order of offset; a confirmed one,
// extracted, is exactly its stored bytes.
#include <cstring>
#include <vector>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/movie_scan.h"
#include "fuzz_support.h"
#include "length_cap.h"

namespace {
struct Scan {
    uint64_t fileSize;
    std::vector<FoundMovie> found;
};

bool Keep(const FoundMovie& movie, void* context)
{
    Scan* scan = (Scan*)context;
    FUZZ_CHECK(movie.offset + movie.storedSize <= scan->fileSize);
    FUZZ_CHECK(scan->found.empty() || movie.offset > scan->found.back().offset);
    scan->found.push_back(movie);
    return scan->found.size() < 64;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    std::vector<unsigned char> capped(input, input + size);
    CapEveryLzmaDeclaredLength(capped.data(), size);
    const unsigned char* data = capped.data();
    const char* path = ScratchPath("input");
    const char* outPath = ScratchPath("out.swf");
    WriteScratchFile(path, data, size);
    Scan scan = {size, {}};
    FUZZ_CHECK(ScanFile(path, Keep, &scan));
    for (const FoundMovie& movie : scan.found) {
        FUZZ_CHECK(movie.offset + movieHeaderSize <= size &&
                   IsPlausibleMovieHeader(data + movie.offset));
        bool extracted = !Failed(ExtractMovieAt(path, movie.offset, outPath));
        FUZZ_CHECK(extracted == movie.confirmed);
        if (!extracted)
            continue;
        size_t outSize = 0;
        unsigned char* out = ReadScratchFile(outPath, &outSize);
        FUZZ_CHECK(out != nullptr && outSize == movie.storedSize &&
                   memcmp(out, data + movie.offset, outSize) == 0);
        MemFree(out);
        DeleteFilePath(outPath);
    }
    return 0;
}
