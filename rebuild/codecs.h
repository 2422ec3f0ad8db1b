// codecs.h - converting a whole movie in memory between its uncompressed
// ("FWS") and zlib-compressed ("CWS") forms, with progress.
#pragma once

#include <cstdint>

#include "../common/platform.h"

// The output side of one conversion: the room behind the 8 header bytes
// of the output buffer, and the progress bar that shows how full it is.
// Lives in the codec for one conversion and owns nothing.
struct ProgressSink {
    WindowHandle progressBar;  // shows this conversion; may be null
    uint32_t done;             // bytes accepted so far; never above capacity
    uint32_t capacity;         // the most bytes the sink accepts
    unsigned char* cursor;     // where the next accepted byte goes: output + 8 + done
};

// Accepts up to `length` bytes of output into the sink, dropping what does
// not fit, and moves the progress bar. Returns 1 while room is left, 0
// once the sink is full. When `data` already is the sink's cursor (the
// codec had the library write in place) nothing is copied.
int SinkWrite(const unsigned char* data, int length, ProgressSink* sink);

// The progress bar position for `done` bytes of `capacity`: an
// approximate percentage that runs above 100 when `capacity` is not a
// multiple of 100. Sinks under 100 bytes show no progress.
uint32_t ProgressPosition(uint32_t done, uint32_t capacity);

// Room for the deflated form of `bodyLength` body bytes: the larger of
// bodyLength * 110 / 100 + 128 (with the product taken modulo 2^32, as
// stored movies have always been sized) and bodyLength + 5 * (bodyLength
// / 31744) + 133, capped so that the room and the header fit in 32 bits.
uint32_t CompressionBound(uint32_t bodyLength);

// Why a conversion failed.
enum class ConversionError {
    None,
    DamagedMovie,      // the compressed stream is corrupt, cut short or fails its checksum,
                       // or the header declares a length shorter than itself
    OutOfMemory,       // the output buffer or the library's state could not be allocated
    CompressorFailed,  // the compressor stopped or ran out of room
};

// Both codecs take over `buffer`, a whole movie of `*size` bytes from
// MemAlloc, and return:
// - `buffer` itself, with `*size` unchanged, when there is nothing to do
//   (a signature the codec does not convert, including every "ZWS" movie,
//   or a buffer of 8 bytes or less);
// - a new MemAlloc block with `*size` its byte count, after freeing
//   `buffer`, when the movie was converted;
// - null, after freeing `buffer` and with `*size` unchanged, when the
//   conversion failed; `*error` (if not null) then says why.
// The caller frees what comes back with MemFree.

// "CWS" to "FWS": the output is exactly the declared length L long; a
// stream that ends cleanly with more data is cut at L, one that ends with
// less is padded with zeros. Bytes after the end of the stream are ignored.
unsigned char* DecompressMovie(WindowHandle progressBar, unsigned char* buffer, uint32_t* size,
                               ConversionError* error = nullptr);

// "FWS" to "CWS" at zlib level 9; the header keeps its version and
// declared length. Body bytes beyond the declared length are not part of
// the movie and are left out; a movie shorter than it declares has the
// body bytes it holds compressed. A declared length of 8 or less is
// handed back unchanged. The returned block may be larger than `*size`.
unsigned char* CompressMovie(WindowHandle progressBar, unsigned char* buffer, uint32_t* size,
                             ConversionError* error = nullptr);
