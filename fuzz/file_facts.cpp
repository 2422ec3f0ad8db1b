// file_facts.cpp - fuzz target: the facts of the movie in any file. A
// bare "CWS" movie whose facts are read must give the facts of the body
// that decompressing it in memory gives; success and the error agree.
#include <cstring>

#include "../common/platform.h"
#include "../rebuild/codecs.h"
#include "../rebuild/file_facts.h"
#include "fuzz_support.h"
#include "length_cap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return 0;
    unsigned char* movie = (unsigned char*)MemAlloc(size + 1);
    FUZZ_CHECK(movie != nullptr);
    memcpy(movie, data, size);
    const char* path = ScratchPath("movie.swf");
    WriteScratchFile(path, movie, size);
    MovieInfo info;
    InspectMovieFile(path, &info);
    if (info.movieSize > 0) {
        CapDeclaredLength(movie + info.playerSize, info.movieSize, true);
        WriteScratchFile(path, movie, size);
        InspectMovieFile(path, &info);
    }
    static FactsReader reader, expected;
    FactsError error = FactsError::OutOfMemory;
    bool read = ReadMovieFileFacts(path, info, &reader, &error);
    FUZZ_CHECK(read == (error == FactsError::None));

    uint32_t movieSize = (uint32_t)size;
    if (read && info.playerSize == 0 && MovieSignature(info.header) == signatureZlib) {
        movie = DecompressMovie(nullptr, movie, &movieSize);
        FUZZ_CHECK(movie != nullptr && movieSize == info.fileLength);
        BeginFacts(&expected);
        ReadFacts(&expected, movie + movieHeaderSize, movieSize - movieHeaderSize);
        EndFacts(&expected);
        FUZZ_CHECK(SameFacts(reader.facts, expected.facts));
    }
    MemFree(movie);
    return 0;
}
