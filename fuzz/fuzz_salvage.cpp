// salvage.cpp - fuzz target: Save with Decompress and salvage over any
// bare compressed movie. What is written is the body the decoder
// delivered before any damage (or a prefix of it), behind a header that
// declares exactly the size of the file written.
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/rebuild.h"
#include "fuzz_support.h"
#include "length_cap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> movie(data, data + size);
    CapDeclaredLength(movie.data(), size, true);
    const char* sourcePath = ScratchPath("source.swf");
    const char* outPath = ScratchPath("out.swf");
    WriteScratchFile(sourcePath, movie.data(), size);
    MovieInfo source;
    InspectMovie(sourcePath, &source);
    // Save writes other movies as stored: only compressed ones are salvaged.
    if (source.layout != PlayerLayout::None || size <= movieHeaderSize ||
        !FindBodyDecoder(MovieSignature(source.header)))
        return 0;

    std::vector<unsigned char> body;
    ByteSink sink = VectorSink(&body);
    Failure decoded = DecodeMovieBody(movie.data(), size, &sink, nullptr, nullptr);
    RebuildDetails details = {};
    details.salvage = true;
    RebuildMode mode = MakeRebuildMode(PlayerAction::Keep, MovieAction::Decompress);
    if (Failed(RebuildMovieFile(nullptr, sourcePath, outPath, nullptr, mode, &details)))
        return 0;
    size_t outSize = 0;
    unsigned char* out = ReadScratchFile(outPath, &outSize);
    FUZZ_CHECK(out != nullptr && outSize >= movieHeaderSize);
    FUZZ_CHECK(ReadLe32(out + 4) == outSize);
    if (decoded.kind == FailureKind::None || decoded.kind == FailureKind::DamagedMovie) {
        FUZZ_CHECK(MovieSignature(ReadLe32(out)) == signatureUncompressed);
        FUZZ_CHECK(details.salvagedLength == outSize);
        size_t bodySize = outSize - movieHeaderSize;
        FUZZ_CHECK(bodySize <= body.size());
        FUZZ_CHECK(bodySize == 0 || memcmp(out + movieHeaderSize, body.data(), bodySize) == 0);
    }
    MemFree(out);
    DeleteFilePath(outPath);
    return 0;
}
