// facts_bench.cpp - where the time of "info --facts" goes: decoding the
// movies versus walking their bodies. Usage: quillaro-facts-bench
// [--rounds N] FILE...  (e.g. the corpus: ../shared/corpus/swf/*)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_facts.h"
#include "rebuild/codecs.h"
#include "rebuild/file_facts.h"

namespace {

typedef std::chrono::steady_clock Clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Movie {
    std::string path;
    MovieInfo info;
    std::vector<unsigned char> stored;  // the movie as stored
};

// The uncompressed form of `movie` (MemAlloc), or null when it does not
// decode; `*size` receives its length.
unsigned char* Decode(const Movie& movie, uint32_t* size)
{
    unsigned char* block = (unsigned char*)MemAlloc(movie.stored.size());
    if (!block)
        return nullptr;
    memcpy(block, movie.stored.data(), movie.stored.size());
    *size = (uint32_t)movie.stored.size();
    return DecompressMovie(nullptr, block, size);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 20;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--rounds") == 0) {
        rounds = atoi(argv[2]);
        first = 3;
    }
    std::vector<Movie> movies;
    uint64_t storedBytes = 0, bodyBytes = 0;
    for (int i = first; i < argc; i++) {
        Movie movie = {argv[i], {}, {}};
        InspectMovie(argv[i], &movie.info);
        if (movie.info.movieSize < movieHeaderSize ||
            MovieSignature(movie.info.header) == signatureLzma)
            continue;
        unsigned char* bytes = ReadFileRangeFully(argv[i], movie.info.movieOffset,
                                                  movie.info.movieSize);
        if (!bytes)
            continue;
        movie.stored.assign(bytes, bytes + movie.info.movieSize);
        MemFree(bytes);
        storedBytes += movie.info.movieSize;
        movies.push_back(movie);
    }
    static FactsReader reader;
    double decoding = 0, walking = 0, whole = 0;
    for (int round = 0; round < rounds; round++) {
        for (const Movie& movie : movies) {
            Clock::time_point start = Clock::now();
            uint32_t size = 0;
            unsigned char* decoded = Decode(movie, &size);
            decoding += SecondsSince(start);
            if (!decoded || size < movieHeaderSize) {
                MemFree(decoded);
                continue;
            }
            start = Clock::now();
            BeginFacts(&reader);
            ReadFacts(&reader, decoded + movieHeaderSize, size - movieHeaderSize);
            EndFacts(&reader);
            walking += SecondsSince(start);
            if (round == 0)
                bodyBytes += size - movieHeaderSize;
            MemFree(decoded);
        }
        Clock::time_point start = Clock::now();
        for (const Movie& movie : movies) {
            ReadMovieFileFacts(movie.path.c_str(), movie.info, &reader);
        }
        whole += SecondsSince(start);
    }
    printf("%zu movies (LZMA left out), %.1f MB stored, %.1f MB uncompressed bodies, %d rounds\n",
           movies.size(), storedBytes / 1e6, bodyBytes / 1e6, rounds);
    printf("  decode (copy + zlib)      %8.1f ms a round\n", decoding * 1000 / rounds);
    printf("  walk the decoded bodies   %8.1f ms a round (%.1f%% of decode + walk)\n",
           walking * 1000 / rounds, 100 * walking / (decoding + walking));
    printf("  ReadMovieFileFacts        %8.1f ms a round (files read, decoded, walked)\n",
           whole * 1000 / rounds);
    return 0;
}
