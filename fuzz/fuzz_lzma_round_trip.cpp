// lzma_round_trip.cpp - fuzz target: an uncompressed movie encoded to
// "ZWS" and decoded again must give back its body as the header describes
// it: the body bytes up to the declared length, zero-padded up to it when
// the movie holds fewer.
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/lzma_body.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < movieHeaderSize || size > (1u << 16))
        return 0;
    // The input made "FWS"; its length field says how far the declared
    // length lies from the real one (within 4 KiB either way).
    std::vector<unsigned char> movie(data, data + size);
    memcpy(movie.data(), "FWS", 3);
    int64_t declared = (int64_t)size + (int64_t)(ReadLe32(data + 4) % 8192) - 4096;
    uint32_t declaredLength = (uint32_t)(declared < 0 ? 0 : declared);
    WriteLe32(movie.data() + 4, declaredLength);

    uint32_t encodedSize = 0;
    Failure error = FailureOf(FailureKind::None);
    unsigned char* encoded =
        LzmaEncodeMovie(movie.data(), (uint32_t)size, &encodedSize, nullptr, &error);
    if (declaredLength < movieHeaderSize) {
        FUZZ_CHECK(encoded == nullptr && error.kind == FailureKind::DamagedMovie);
        return 0;
    }
    FUZZ_CHECK(encoded != nullptr && error.kind == FailureKind::None);
    FUZZ_CHECK(MovieSignature(ReadLe32(encoded)) == signatureLzma);
    FUZZ_CHECK(ReadLe32(encoded + 4) == declaredLength && encoded[3] == data[3]);
    FUZZ_CHECK(ReadLe32(encoded + 8) + lzmaStreamOffset == encodedSize);

    std::vector<unsigned char> expected(movie.begin() + movieHeaderSize, movie.end());
    expected.resize(declaredLength - movieHeaderSize, 0);
    std::vector<unsigned char> body;
    ByteSink sink = VectorSink(&body);
    DecodeReport report;
    Failure result = DecodeMovieBody(encoded, encodedSize, &sink, nullptr, &report);
    FUZZ_CHECK(result.kind == FailureKind::None && report.streamEnd <= encodedSize);
    FUZZ_CHECK(body == expected);
    MemFree(encoded);
    return 0;
}
