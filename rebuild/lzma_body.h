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

#include "body_codec.h"
#include "codecs.h"

// Where the LZMA data starts in a "ZWS" movie.
const uint32_t lzmaStreamOffset = 17;

// The oldest movie format version that an LZMA-compressed movie may have:
// only players from 11 on (format 13) read them.
const uint32_t oldestLzmaVersion = 13;
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
extern const BodyDecoder lzmaBodyDecoder;

// Told the body bytes compressed so far of `total`, after each piece.
typedef void (*LzmaEncodeProgress)(void* context, uint32_t done, uint32_t total);

// A "ZWS" movie from the "FWS" movie `movie` of `size` bytes, which stays
// the caller's: the header keeps the version and declared length; the body
// (the bytes up to the declared length that the buffer holds) is
// compressed with liblzma's preset 9, with a dictionary no larger than the
// body (and at least liblzma's smallest), and ended with an end marker;
// the compressed-length field is the true one (the output size - 17).
// Returns a new MemAlloc block with `*outputSize` its byte count, or null
// with `*error` (if not null) set: DamagedMovie when the movie is not an
// "FWS" movie of at least 8 bytes that declares at least 8, OutOfMemory,
// or CompressorFailed (also when the output would not fit in 32 bits).
// `progress` may be null. The version is not checked here
// (LzmaAllowsVersion is the caller's rule).
unsigned char* LzmaEncodeMovie(const unsigned char* movie, uint32_t size, uint32_t* outputSize,
                               LzmaEncodeProgress progress, void* context,
                               ConversionError* error = nullptr);
