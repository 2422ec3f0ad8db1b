// codecs.h - converting a whole movie in memory between its uncompressed
// ("FWS") and zlib-compressed ("CWS") forms, with progress. Both sit on
// the streaming parts: the decode driver (body_decode.h) and the
// parallel deflater (parallel_deflate.h).
#pragma once

#include <cstdint>

#include "common/failure.h"
#include "common/progress.h"
#include "rebuild/deflate_whole.h"

// Room for the deflated form of `bodyLength` body bytes (the zlib stream,
// without the movie header). Holds for every length up to 4 GiB and never
// wraps.
uint64_t CompressionBound(uint64_t bodyLength);

// Both codecs take over `buffer`, a whole movie of `*size` bytes from
// MemAlloc, and return:
// - `buffer` itself, with `*size` unchanged, when there is nothing to do
//   (a signature the codec does not convert, including every "ZWS" movie,
//   or a buffer of 8 bytes or less);
// - a new MemAlloc block with `*size` its byte count, after freeing
//   `buffer`, when the movie was converted;
// - null, after freeing `buffer` and with `*size` unchanged, when the
//   conversion failed; `*failure` (if not null) then says why:
//   DamagedMovie (the compressed stream is corrupt, cut short or fails its
//   checksum, or the header declares a length shorter than itself),
//   OutOfMemory, or ConversionFailed (the compressor failed, or its output
//   would not fit the format's 32 bits).
// The caller frees what comes back with MemFree. `progress` may be null.

// "CWS" or "ZWS" to "FWS": the output is exactly the declared length L long; a
// stream that ends cleanly with more data is cut at L, one that ends with
// less is padded with zeros. Bytes after the end of the stream are ignored.
// The output buffer grows as the body decodes, never ahead of what the
// stream can yield. Progress counts compressed bytes consumed.
unsigned char* DecompressMovie(const Progress* progress, unsigned char* buffer, uint32_t* size,
                               Failure* failure = nullptr);

// "FWS" to "CWS" with libdeflate at `level` (deflate_whole.h: the default
// makes output about as small as zlib's level 9; deflateLevelBest the
// smallest), whole up to wholeBodyLimit body bytes, beyond that in blocks
// on `threads` workers (0: one per core); the header keeps its version and
// declared length. Body bytes beyond the declared length are not part of
// the movie and are left out; a movie shorter than it declares has the
// body bytes it holds compressed. A declared length of 8 or less is handed
// back unchanged. Progress counts body bytes whose block is done (a whole
// body: none until the end).
unsigned char* CompressMovie(const Progress* progress, unsigned char* buffer, uint32_t* size,
                             Failure* failure = nullptr, unsigned threads = 0,
                             int level = deflateLevelDefault);
