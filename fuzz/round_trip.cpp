// round_trip.cpp - fuzz target: compressing an uncompressed movie and
// decompressing the result must give back the movie as its header
// describes it: the first declared-length bytes, zero-padded up to the
// declared length when the movie holds fewer.
#include <cstring>
#include <vector>

#include "../common/bytes.h"
#include "../common/platform.h"
#include "../movie/movie_file.h"
#include "../rebuild/codecs.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < movieHeaderSize || size > (1u << 24))
        return 0;
    // The input is the movie, made "FWS"; its declared length stays within
    // 64 KiB past its size so that padding stays cheap.
    std::vector<unsigned char> movie(data, data + size);
    memcpy(movie.data(), "FWS", 3);
    uint32_t declaredLength = ReadLe32(movie.data() + 4);
    if (declaredLength > size + 65536) {
        declaredLength = (uint32_t)size + declaredLength % 65536;
        WriteLe32(movie.data() + 4, declaredLength);
    }
    std::vector<unsigned char> expected = movie;
    if (size > movieHeaderSize && declaredLength > movieHeaderSize)
        expected.resize(declaredLength, 0);

    uint32_t movieSize = (uint32_t)size;
    unsigned char* buffer = (unsigned char*)MemAlloc(size);
    FUZZ_CHECK(buffer != nullptr);
    memcpy(buffer, movie.data(), size);
    ConversionError error = ConversionError::None;
    buffer = CompressMovie(nullptr, buffer, &movieSize, &error);
    FUZZ_CHECK(buffer != nullptr && error == ConversionError::None);
    if (size > movieHeaderSize && declaredLength > movieHeaderSize)
        FUZZ_CHECK(MovieSignature(ReadLe32(buffer)) == signatureZlib);
    buffer = DecompressMovie(nullptr, buffer, &movieSize, &error);
    FUZZ_CHECK(buffer != nullptr && error == ConversionError::None);
    FUZZ_CHECK(movieSize == expected.size());
    FUZZ_CHECK(memcmp(buffer, expected.data(), movieSize) == 0);
    MemFree(buffer);
    return 0;
}
