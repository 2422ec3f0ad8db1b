// file_facts.h - the facts of the movie in a file (bare or in a projector),
// walked over its uncompressed form as a save that decompresses it would
// write it: the body cut or padded with zeros to the declared length.
#pragma once

#include "common/byte_source.h"
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

// The same for the movie that `source` holds where `info` (its
// inspection, InspectMovieSource) says.
Failure ReadMovieFacts(const ByteSource* source, const MovieInfo& info, FactsReader* reader);

// The file that holds the movie of the file or .app folder at `path`
// (inspected as `info`), open as a source.
struct MovieFileSource {
    PlatformFile* file;
    ByteSource source;  // of no bytes when the file could not be opened
};
// Opens it; false when it cannot be opened, and then `opened->source`
// holds no bytes, so that reading the movie from it fails as a read.
// Closed with CloseMovieFileSource either way.
bool OpenMovieFileSource(const char* path, const MovieInfo& info, MovieFileSource* opened);
void CloseMovieFileSource(MovieFileSource* opened);
