// file_facts.cpp - fuzz target: the facts of the movie in any file, of
// any layout. A bare compressed movie whose facts are read must give the
// facts of the body the decode driver delivers; success and the error
// agree.
#include <vector>

#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/file_facts.h"
#include "fuzz_support.h"
#include "length_cap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> movie(data, data + size);
    const char* path = ScratchPath("movie.swf");
    WriteScratchFile(path, movie.data(), size);
    MovieInfo info;
    InspectMovie(path, &info);
    if (info.movieSize > 0) {
        CapDeclaredLength(movie.data() + info.movieOffset, info.movieSize, true);
        WriteScratchFile(path, movie.data(), size);
        InspectMovie(path, &info);
    }
    static FactsReader reader, expected;
    bool read = !Failed(ReadMovieFileFacts(path, info, &reader));

    if (read && info.layout == PlayerLayout::None && FindBodyDecoder(MovieSignature(info.header))) {
        std::vector<unsigned char> body;
        ByteSink sink = VectorSink(&body);
        FUZZ_CHECK(!Failed(DecodeMovieBody(movie.data(), size, &sink, nullptr, nullptr)));
        FUZZ_CHECK(body.size() + movieHeaderSize == info.fileLength);
        BeginFacts(&expected);
        ReadFacts(&expected, body.data(), body.size());
        EndFacts(&expected);
        FUZZ_CHECK(SameFacts(reader.facts, expected.facts));
    }
    return 0;
}
