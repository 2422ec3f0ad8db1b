// movie_scan.h - finding the movies embedded anywhere in a file, with or
// without a projector trailer: candidates by their header, each confirmed
// by decoding it, and writing one of them out as stored.
#pragma once

#include <cstdint>

#include "common/byte_source.h"
#include "rebuild/output_file.h"
#include "rebuild/rebuild.h"

// A movie header found in a file, and what decoding it showed.
struct FoundMovie {
    uint64_t offset;      // of the header in the file
    uint32_t header;      // signature and version, as in MovieInfo
    uint32_t fileLength;  // the header's declared length
    uint64_t storedSize;  // "FWS": the declared length, cut at the end of the file;
                          // "CWS"/"ZWS": the header, and the stream bytes decoding consumed
    bool confirmed;       // the movie decoded: see ExamineMovieAt
};

// Whether 8 header bytes are those of a movie worth decoding: a signature,
// a version from 1 to 64, and a declared length that can hold the
// smallest movie (header, frame size, rate, count and an End tag).
bool IsPlausibleMovieHeader(const unsigned char* header);

// Decodes the movie whose plausible header stands at `offset` of `source`
// and fills `movie`. Confirmed means: for a
// compressed movie its stream, through the body decoder of its signature
// (body_decode.h), ends with a matching check value (a signature without
// a decoder in this build is never confirmed); for "FWS" the frame header
// and the tag records run to an End tag within the declared length, with
// nothing but zero bytes after it up to that length. Reads in small
// pieces; memory does not grow with the movie.
void ExamineMovieAt(const ByteSource* source, uint64_t offset, FoundMovie* movie);

// Receives each movie found, in order of offset; returns false to stop.
typedef bool (*FoundMovieCallback)(const FoundMovie& movie, void* context);

// Reads the file at `path` in windows of a fixed size and hands every
// plausible movie header to `found`, examined. Files of any size are
// scanned. False when the file cannot be opened or read to its end.
bool ScanFile(const char* path, FoundMovieCallback found, void* context);
// The same over the bytes of `source`; false when it cannot be read to its end.
bool ScanSource(const ByteSource* source, FoundMovieCallback found, void* context);

// Writes the movie at `offset` of `path`, as stored (FoundMovie's
// storedSize bytes), to `outPath`, which is written beside itself and
// moved into place only when complete, as `commit` says. It must be a
// confirmed movie: otherwise the failure is NoMovie.
Failure ExtractMovieAt(const char* path, uint64_t offset, const char* outPath,
                       CommitMode commit = CommitMode::Replace);
// The same for the movie at `offset` of `source`.
Failure ExtractMovieAtSource(const ByteSource* source, uint64_t offset, const char* outPath,
                             CommitMode commit = CommitMode::Replace);

// Copies `count` bytes at `offset` of `source` to `output`, a piece at a
// time: ReadFailed or WriteFailed when that fails.
Failure CopySourceRange(const ByteSource* source, uint64_t offset, uint64_t count,
                        OutputFile* output);
