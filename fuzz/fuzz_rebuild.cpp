// rebuild.cpp - fuzz target: Save and Extract player over any file. The
// first byte picks the Save (player action, movie action); the rest is
// the source, which is also the replacement player. What is written must
// hold the parts the request keeps, unchanged, in the source's layout.
#include <cstring>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/rebuild.h"
#include "fuzz_support.h"
#include "length_cap.h"

static bool SameBytes(const unsigned char* file, size_t fileSize, uint32_t fileOffset,
                      const uint8_t* source, uint32_t sourceOffset, uint32_t count)
{
    return (uint64_t)fileOffset + count <= fileSize &&
           memcmp(file + fileOffset, source + sourceOffset, count) == 0;
}

static void CheckRebuilt(RebuildMode mode, const uint8_t* source, const MovieInfo& in,
                         const char* outPath)
{
    MovieInfo out;
    InspectMovie(outPath, &out);
    size_t size;
    unsigned char* written = ReadScratchFile(outPath, &size);
    FUZZ_CHECK(written != nullptr && out.movieSize != 0);
    PlayerAction player = PlayerActionOf(mode);
    if (player == PlayerAction::Remove || in.playerSize == 0)
        FUZZ_CHECK(out.playerSize == 0 && out.layout == PlayerLayout::None);
    else
        FUZZ_CHECK(out.layout == in.layout && out.playerSize == in.playerSize &&
                   SameBytes(written, size, 0, source, 0, in.playerSize));
    FUZZ_CHECK(out.fileLength == in.fileLength &&
               MovieVersion(out.header) == MovieVersion(in.header));
    MovieAction movie = MovieActionOf(mode);
    uint32_t signature = MovieSignature(in.header);
    bool compressed = signature != signatureUncompressed;
    bool converts = in.movieSize > movieHeaderSize &&
                    (compressed || (movie != MovieAction::Decompress &&
                                    in.fileLength > movieHeaderSize));
    if (movie == MovieAction::Keep || !converts)
        FUZZ_CHECK(out.movieSize == in.movieSize && SameBytes(written, size, out.movieOffset,
                                                              source, in.movieOffset, in.movieSize));
    else if (movie == MovieAction::Decompress)
        FUZZ_CHECK(MovieSignature(out.header) == signatureUncompressed &&
                   out.movieSize == in.fileLength);
    else
        FUZZ_CHECK(MovieSignature(out.header) ==
                   (movie == MovieAction::Compress ? signatureZlib : signatureLzma));
    MemFree(written);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    RebuildMode mode = MakeRebuildMode((PlayerAction)(data[0] % 3), (MovieAction)(data[0] / 3 % 4));
    const char* sourcePath = ScratchPath("source.exe");
    const char* outPath = ScratchPath("out.exe");
    WriteScratchFile(sourcePath, data + 1, size - 1);
    MovieInfo in;
    InspectMovie(sourcePath, &in);
    size_t sourceSize;
    unsigned char* source = ReadScratchFile(sourcePath, &sourceSize);
    FUZZ_CHECK(source != nullptr);
    if (in.movieSize > 0) {
        CapDeclaredLength(source + in.movieOffset, in.movieSize, true);
        WriteScratchFile(sourcePath, source, sourceSize);
        InspectMovie(sourcePath, &in);
    }

    bool rebuilt = !Failed(RebuildMovieFile(nullptr, sourcePath, outPath, sourcePath, mode));
    if (mode == 0 || in.movieSize == 0)
        FUZZ_CHECK(!rebuilt);
    if (rebuilt)
        CheckRebuilt(mode, source, in, outPath);
    DeleteFilePath(outPath);

    bool extracted = !Failed(ExtractPlayer(sourcePath, outPath));
    FUZZ_CHECK(extracted == (in.playerSize != 0));
    if (extracted) {
        size_t playerSize;
        unsigned char* player = ReadScratchFile(outPath, &playerSize);
        FUZZ_CHECK(player && playerSize == in.playerSize &&
                   memcmp(player, source, playerSize) == 0);
        MemFree(player);
    }
    DeleteFilePath(outPath);
    MemFree(source);
    return 0;
}
