// round_trip.cpp - fuzz target: compressing an uncompressed movie and
// decompressing the result must give back the movie as its header
// describes it: the first declared-length bytes, zero-padded up to the
// declared length when the movie holds fewer. The body is the input's,
// repeated as often as the version byte says (1 to 16 times), so that
// bodies run over several of the deflater's blocks and each block finds
// matches in the dictionary of the one before.
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < movieHeaderSize || size > (1u << 20))
        return 0;
    // The input is the movie, made "FWS". Its length field says how far
    // the declared length lies from the real one (within 32 KiB either
    // way), so that movies are cut and padded but padding stays cheap.
    std::vector<unsigned char> movie(data, data + movieHeaderSize);
    for (unsigned repeat = data[3] % 16 + 1; repeat > 0; repeat--)
        movie.insert(movie.end(), data + movieHeaderSize, data + size);
    memcpy(movie.data(), "FWS", 3);
    size = movie.size();
    int64_t offset = (int64_t)(ReadLe32(movie.data() + 4) % 65536) - 32768;
    uint32_t declaredLength = (uint32_t)((int64_t)size + offset < 0 ? 0 : (int64_t)size + offset);
    WriteLe32(movie.data() + 4, declaredLength);
    std::vector<unsigned char> expected = movie;
    if (size > movieHeaderSize && declaredLength > movieHeaderSize)
        expected.resize(declaredLength, 0);

    uint32_t movieSize = (uint32_t)size;
    unsigned char* buffer = (unsigned char*)MemAlloc(size);
    FUZZ_CHECK(buffer != nullptr);
    memcpy(buffer, movie.data(), size);
    Failure error = FailureOf(FailureKind::None);
    buffer = CompressMovie(nullptr, buffer, &movieSize, &error, 2);
    FUZZ_CHECK(buffer != nullptr && error.kind == FailureKind::None);
    if (size > movieHeaderSize && declaredLength > movieHeaderSize)
        FUZZ_CHECK(MovieSignature(ReadLe32(buffer)) == signatureZlib);
    buffer = DecompressMovie(nullptr, buffer, &movieSize, &error);
    FUZZ_CHECK(buffer != nullptr && error.kind == FailureKind::None);
    FUZZ_CHECK(movieSize == expected.size());
    FUZZ_CHECK(memcmp(buffer, expected.data(), movieSize) == 0);
    MemFree(buffer);
    return 0;
}
