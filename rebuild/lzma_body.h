// lzma_body.h - the LZMA codec of "ZWS" movies, through liblzma: a body
// decoder of the BodyDecoder shape and an encoder of whole movies.
//
// A "ZWS" movie: "ZWS", the format version, the declared length (the
// uncompressed movie with its 8-byte header), then at byte 8 the length of
// the LZMA data after the property bytes, at 12 the properties byte
// ((pb * 5 + lp) * 9 + lc), at 13 the dictionary size, and from 17 on raw
// LZMA1 data without a size field, ended by an end marker or not.
#pragma once

#include <cstdint>

#include "common/failure.h"
#include "common/progress.h"
#include "movie/movie_file.h"
#include "rebuild/body_codec.h"
#include "rebuild/codecs.h"

// Where the LZMA data starts in a "ZWS" movie.
const uint32_t lzmaStreamOffset = 17;

inline bool LzmaAllowsVersion(uint32_t version) { return version >= oldestLzmaVersion; }

// The decoder of the body of a "ZWS" movie (see body_codec.h). It produces
// at most the declared length - 8 bytes and then reports Ended, reading no
// further: the compressed-length field is not trusted, and whatever
// follows in the file is not part of the movie. An end marker before that
// ends the stream cleanly with fewer bytes (Ended); input that runs out
// before either leaves the step at Going without progress, which is a
// stream cut short. Properties that liblzma rejects (lc + lp above 4, or
// a properties byte above 224) make `open` fail with `*invalid` true.
void* LzmaBodyOpen(const unsigned char* movieStart, bool* invalid);
StepResult LzmaBodyStep(void* state, CodecCursors* cursors, bool inputEnds);
void LzmaBodyClose(void* state);

// An LZMA encoder of one movie body, fed through a byte sink, writing the
// "ZWS" movie to another as it goes: memory does not grow with the movie.
// The body is compressed with liblzma's preset 9, a dictionary no larger
// than the body (and at least liblzma's smallest), and an end marker.
// The compressed-length field (bytes 8-11) is known only at the end: it is
// written as 0, and the caller puts FinishLzmaEncoder's length there.
struct LzmaEncoder;

// Starts an encoder for a body of `bodyLength` bytes, of the movie whose
// 8-byte header is `header` (its version and declared length are kept),
// into `*encoder`; the movie's first 17 bytes go to `output` (which must
// outlive the encoder) at once. Progress (may be null) counts body bytes
// compressed of `bodyLength`; once its cancel flag is set, writes fail and
// the encoder finishes with Cancelled. OutOfMemory, ConversionFailed, or
// Stopped (the output refused the bytes) when it cannot start.
Failure OpenLzmaEncoder(const unsigned char* header, uint64_t bodyLength,
                        const Progress* progress, const ByteSink* output,
                        LzmaEncoder** encoder);
// The encoder as a sink of body bytes; a write returns false once the
// encoder has failed.
ByteSink LzmaEncoderSink(LzmaEncoder* encoder);
// Ends the stream and releases the encoder. `*streamLength` receives the
// bytes of LZMA data after the first 17 (the compressed-length field's
// value). The failure is OutOfMemory, ConversionFailed (also when the
// movie would not fit in 32 bits), or Stopped when the output refused.
Failure FinishLzmaEncoder(LzmaEncoder* encoder, uint64_t* streamLength);
// Releases an encoder without finishing; null is ignored.
void AbandonLzmaEncoder(LzmaEncoder* encoder);

// A "ZWS" movie from the "FWS" movie `movie` of `size` bytes, which stays
// the caller's: the body is the bytes up to the declared length that the
// buffer holds. Returns a new MemAlloc block with `*outputSize` its byte
// count, or null with `*failure` (if not null) set: DamagedMovie when the
// movie is not an "FWS" movie of at least 8 bytes that declares at least 8,
// otherwise as FinishLzmaEncoder. The version is not checked here
// (LzmaAllowsVersion is the caller's rule).
unsigned char* LzmaEncodeMovie(const unsigned char* movie, uint32_t size, uint32_t* outputSize,
                               const Progress* progress, Failure* failure = nullptr);
