// file_facts.h - the facts of the movie in a file (bare or in a projector),
// walked over its uncompressed form as a save that decompresses it would
// write it: the body cut or padded with zeros to the declared length.
#pragma once

#include "common/failure.h"
#include "movie/movie_facts.h"
#include "movie/movie_file.h"

// Walks the movie of the file at `path`, inspected as `info`, with
// `reader` (begun here). When nothing failed the whole movie decoded and
// `reader->facts` hold its facts; otherwise they are meaningless and the
// failure says why: NoMovie, CutHeader (the movie ends inside its header),
// ShortLength (it declares a length shorter than its header), ReadFailed,
// DamagedMovie, OutOfMemory, CannotDecode.
Failure ReadMovieFileFacts(const char* path, const MovieInfo& info, FactsReader* reader);
