// layouts.cpp - fuzz target: the projector layouts of any file. The movie
// and the player lie within the file, the movie after the player; a file
// that is not an ELF program is read as inspection reads it.
#include "movie/movie_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = ScratchPath("input");
    WriteScratchFile(path, data, size);
    MovieInfo location;
    InspectMovie(path, &location);
    FUZZ_CHECK(location.playerSize <= size);
    FUZZ_CHECK((uint64_t)location.movieOffset + location.movieSize <= size);
    FUZZ_CHECK((location.layout == PlayerLayout::None) == (location.playerSize == 0));
    if (location.movieSize == 0)
        FUZZ_CHECK(location.header == 0 && location.fileLength == 0 && location.movieOffset == 0);
    else
        FUZZ_CHECK(IsMovieSignature(location.header) && location.movieOffset >= location.playerSize);
    MovieFraming framing = FrameMovie(location.layout, location.movieSize);
    if (location.movieSize != 0 && framing.beforeMovie)
        FUZZ_CHECK(location.movieOffset == location.playerSize + framing.count);
    else if (location.movieSize != 0)
        FUZZ_CHECK(location.movieOffset == location.playerSize &&
                   location.movieOffset + location.movieSize + framing.count == size);

    bool elf = size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F';
    if (elf)
        return 0;
    MovieInfo info;
    InspectMovieFile(path, &info);
    FUZZ_CHECK(info.header == location.header && info.fileLength == location.fileLength &&
               info.playerSize == location.playerSize && info.movieSize == location.movieSize);
    return 0;
}
