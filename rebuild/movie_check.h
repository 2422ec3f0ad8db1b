// movie_check.h - whether the movie of a file is whole: a compressed body
// is decoded to its end (zlib's Adler-32 checked) and its lengths are
// compared with the header, at codec speed; nothing decoded is kept.
#pragma once

#include <cstdint>

#include "common/byte_source.h"
#include "common/progress.h"
#include "movie/movie_facts.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"

enum class MovieHealth {
    Intact,   // the movie decodes to its declared length (cut or padded as players do)
    Damaged,  // see `damage`
    NoMovie,  // the file holds no Flash movie
};

// What a check found. Lengths count the uncompressed movie with its 8-byte
// header, as the declared length does.
struct MovieCheck {
    MovieHealth health;
    MovieInfo info;      // the file's inspection: layout, header, declared length, sizes
    Damage damage;           // None unless Damaged
    uint64_t streamOffset;   // with DataError and BadChecksum: the byte of the compressed
                             // stream (0 = its first) where the damage was found
    uint64_t decodedLength;  // 8 + the body bytes that decoded, without padding; for an
                             // uncompressed movie the bytes it holds up to the declared length
    uint64_t paddedBytes;    // zeros a player adds after a stream that ends short (intact)
    bool factsRead;          // with a facts reader: its facts stand (see CheckMovieFile)
};

// Checks the movie of the file at `path` (a bare movie or a projector),
// holding only its stored movie in memory, and fills `*check`. A damaged
// movie is a finding, not a failure: the failure is ReadFailed when the
// file could not be read, OutOfMemory when the check did not fit in
// memory. `progress` (may be null) counts compressed bytes consumed; its
// cancel flag stops the check with Cancelled.
// With `reader`, the same decode also walks the movie's facts: when
// `check->factsRead` is true they are exactly those ReadMovieFileFacts
// (file_facts.h) gives, and it is false exactly when that fails.
Failure CheckMovieFile(const char* path, const Progress* progress, MovieCheck* check,
                       FactsReader* reader = nullptr);

// The same for the movie that `source` holds where `info` (its
// inspection, InspectMovieSource) says.
Failure CheckMovieSource(const ByteSource* source, const MovieInfo& info,
                         const Progress* progress, MovieCheck* check, FactsReader* reader = nullptr);
