// file_facts.h - the facts of the movie in a file (bare or in a projector),
// walked over its uncompressed form as a save that decompresses it would
// write it: the body cut or padded with zeros to the declared length.
#pragma once

#include "../movie/movie_facts.h"
#include "../movie/movie_file.h"

// Why the facts of a movie could not be read.
enum class FactsError {
    None,
    NoMovie,          // the file holds no movie
    CutHeader,        // the movie ends inside its 8-byte header
    ShortLength,      // the movie declares a length shorter than its header
    ReadFailed,       // the movie's bytes could not be read whole
    DamagedMovie,     // the compressed stream is corrupt, cut short or fails its checksum
    OutOfMemory,
    CannotDecode,     // no decoder for the movie's compression in this build
};

// Walks the movie of the file at `path`, inspected as `info`, with
// `reader` (begun here). Returns true when the whole movie decoded and
// `reader->facts` hold its facts; false otherwise, with `*error` saying why
// (the facts are then meaningless).
bool ReadMovieFileFacts(const char* path, const MovieLocation& info, FactsReader* reader,
                        FactsError* error);
