// decompress.cpp - fuzz target: decompressing any bytes as a movie. A
// movie the codec does not convert comes back as it was; a converted one
// is exactly its declared length and keeps its version and length field;
// a failure says why.
#include <cstring>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/codecs.h"
#include "fuzz_support.h"
#include "length_cap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return 0;
    unsigned char* movie = (unsigned char*)MemAlloc(size + 1);
    FUZZ_CHECK(movie != nullptr);
    memcpy(movie, data, size);
    CapDeclaredLength(movie, size, true);
    // What comes back unconverted is the movie as capped, not as given.
    unsigned char* capped = (unsigned char*)MemAlloc(size + 1);
    FUZZ_CHECK(capped != nullptr);
    memcpy(capped, movie, size);
    unsigned char input[movieHeaderSize] = {};
    memcpy(input, movie, size < movieHeaderSize ? size : movieHeaderSize);

    uint32_t movieSize = (uint32_t)size;
    Failure error = FailureOf(FailureKind::DamagedMovie);
    unsigned char* output = DecompressMovie(nullptr, movie, &movieSize, &error);
    bool converts = size > movieHeaderSize && FindBodyDecoder(MovieSignature(ReadLe32(input)));
    if (!output) {
        MemFree(capped);
        FUZZ_CHECK(converts && error.kind != FailureKind::None && movieSize == size);
        return 0;
    }
    FUZZ_CHECK(error.kind == FailureKind::None);
    if (!converts) {
        FUZZ_CHECK(movieSize == size && memcmp(output, capped, size) == 0);
    } else {
        FUZZ_CHECK(movieSize == ReadLe32(input + 4));
        FUZZ_CHECK(MovieSignature(ReadLe32(output)) == signatureUncompressed);
        FUZZ_CHECK(memcmp(output + 3, input + 3, 5) == 0);
    }
    MemFree(output);
    MemFree(capped);
    return 0;
}
