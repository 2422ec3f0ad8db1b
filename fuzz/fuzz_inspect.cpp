// inspect.cpp - fuzz target: inspection of any file. The record must
// describe the file consistently: a movie lies within the file, a
// projector's movie ends where its trailer starts, and a file without a
// movie has no movie fields.
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = ScratchPath("input");
    WriteScratchFile(path, data, size);
    MovieInfo info;
    uint32_t playerSize = InspectMovieFile(path, &info);
    FUZZ_CHECK(playerSize == info.playerSize);
    FUZZ_CHECK((uint64_t)info.playerSize + info.movieSize <= size);
    if (info.playerSize != 0)
        FUZZ_CHECK(size >= 2 && data[0] == 'M' && data[1] == 'Z');
    if (info.movieSize == 0) {
        FUZZ_CHECK(info.header == 0 && info.fileLength == 0);
        FUZZ_CHECK(RequiredPlayerVersion(info.header) == 0);
        return 0;
    }
    FUZZ_CHECK(IsMovieSignature(info.header));
    if (info.playerSize != 0)
        FUZZ_CHECK(info.playerSize + info.movieSize + projectorTrailerSize == size);
    else
        FUZZ_CHECK(info.movieSize == size);
    return 0;
}
