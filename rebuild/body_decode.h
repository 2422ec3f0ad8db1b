// body_decode.h - decoding the compressed body of a movie ("CWS", "ZWS")
// through one driver over the table of body decoders: the body goes to a
// byte sink, cut or padded to the declared length, with progress by input
// consumed and a precise report of any damage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_source.h"
#include "common/failure.h"
#include "common/platform.h"
#include "common/progress.h"
#include "rebuild/body_codec.h"

// The decoder for a movie signature (movie_file.h), or null when the
// signature is not a compressed one this build reads.
const BodyDecoder* FindBodyDecoder(uint32_t signature);

// What one decode found. Offsets count from the movie's first byte.
struct DecodeReport {
    Damage damage;
    uint64_t damageOffset;    // where the decoder stood in the input when it found the damage
    uint64_t delivered;       // body bytes handed to the sink, padding included
    uint32_t declaredLength;  // the header's length field (the body is this minus 8)
    uint64_t padded;          // zeros delivered after a stream that ended short of the body
    uint64_t streamEnd;       // when it decoded: where the stream ended; later bytes are not the movie's
};

// Decodes the body of the movie `movie` (`movieSize` bytes, header
// included, all in memory) into `sink`, which receives the body without
// the header: exactly `declaredLength - 8` bytes when the result is
// decoded. A stream that ends cleanly with more data is cut there (and
// still decoded to its end, so that its check value is checked); one
// that ends with less is padded with zeros, delivered in pieces and
// never held. Damage stops the decode with the bytes decoded before it
// delivered. Progress reports count the stream's input bytes consumed.
// `report` may be null; the sink's `write` sees at most 1 MiB a call.
// The result: None when the stream ended cleanly (the sink has the whole
// body); DamagedMovie (the sink has what decoded before the damage, and
// the failure's offset counts from the stream's first byte); CannotDecode
// for a signature without a decoder or fewer than 8 bytes; OutOfMemory;
// Stopped when the sink returned false; Cancelled when the progress's
// cancel flag was set (read before each step of the codec).
Failure DecodeMovieBody(const unsigned char* movie, size_t movieSize, const ByteSink* sink,
                        const Progress* progress, DecodeReport* report);

// The same for a stored movie of `movieSize` bytes at `offset` of
// `source`, read in pieces: memory does not grow with the movie.
// ReadFailed when the source cannot be read.
Failure DecodeMovieSource(const ByteSource* source, uint64_t offset, uint64_t movieSize,
                          const ByteSink* sink, const Progress* progress, DecodeReport* report);
// Stored movies up to this size are read whole and converted in memory,
// the common case and the fastest; larger ones are read and written in
// pieces, so that memory does not grow with the movie.
const uint64_t wholeMovieLimit = 32 * 1024 * 1024;

// Decodes the stored movie of `movieSize` bytes at `offset` of `source`:
// whole in memory up to wholeMovieLimit, in pieces beyond it. ReadFailed
// when the source cannot be read.
Failure DecodeStoredMovie(const ByteSource* source, uint64_t offset, uint64_t movieSize,
                          const ByteSink* sink, const Progress* progress, DecodeReport* report);

