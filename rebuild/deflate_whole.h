// deflate_whole.h - libdeflate over whole buffers: a movie body deflated or
// inflated in one call, and the blocks of the parallel deflater deflated
// so that they follow one another in one zlib stream.
//
// libdeflate writes ordinary zlib and raw deflate streams that every
// inflater reads, but only whole: it cannot prime a block with the data
// before it, nor end one without marking its last deflate block final.
// The parallel deflater's blocks are therefore deflated independently,
// and each but the last is opened up afterwards: zlib's inflate walks it
// block by block (Z_BLOCK) to find where its final block starts, that bit
// is cleared, and an empty stored block ends it on a byte boundary, as
// zlib's sync flush would.
#pragma once

#include <cstddef>
#include <cstdint>

// Compression levels, on libdeflate's scale of 1 (fastest) to 12. Every
// function below takes 0 (or less) as the default and more than 12 as 12,
// so that a level field left zero means the default.
// The default: output about as small as zlib's level 9 makes (2% smaller
// on the benchmark's movies, the same over the real ones), 2.5 to 4.5
// times as fast on one thread.
const int deflateLevelDefault = 7;
// The smallest zlib stream libdeflate makes (its near-optimal parse): the
// slowest, with about 9 MiB of state per thread.
const int deflateLevelBest = 12;

// Bodies of at most this many bytes are deflated and inflated whole, in
// one call of libdeflate; longer ones in blocks on every core (deflate)
// or streamed through zlib (inflate).
const uint64_t wholeBodyLimit = 32u << 20;

enum class DeflateStatus {
    Done,
    OutOfMemory,       // a compressor's state or a buffer could not be allocated
    OutputFailed,      // the output sink returned false
    CompressorFailed,  // the compressor failed, or its block was not the stream it should be
    ThreadFailed,      // a worker thread could not be started
    Cancelled,         // the progress's cancel flag was set
};

// The two bytes of a zlib stream's header for `level` (window 32 KiB, no
// dictionary), as libdeflate writes them.
void ZlibHeader(int level, unsigned char header[2]);

// The Adler-32 of `length` bytes at `data` continuing `adler` (1 to start),
// with libdeflate's vectorised code.
uint32_t FastAdler32(uint32_t adler, const unsigned char* data, size_t length);

// ---- Whole bodies ----

// The most bytes DeflateWhole writes for `length` input bytes.
size_t WholeDeflatedBound(size_t length);

// Writes the zlib stream of the `length` bytes at `data` to `output`
// (`room` bytes, at least WholeDeflatedBound(length)) at `level`. Returns
// its length: 0 when the compressor's state could not be allocated (work
// memory).
size_t DeflateWhole(int level, const unsigned char* data, size_t length, unsigned char* output,
                    size_t room);

// Inflates the zlib stream at `stream` (`length` bytes; bytes after the
// stream are allowed) into `output` (`room` bytes). True when the stream
// decoded cleanly, its Adler-32 included, within `room`: `*consumed` is
// then the stream's length and `*produced` the bytes written. False for
// every other outcome (damage, more output than `room`, no memory for the
// decompressor); the streaming decoder then tells them apart.
bool InflateWhole(const unsigned char* stream, size_t length, unsigned char* output, size_t room,
                  size_t* consumed, size_t* produced);

// ---- Blocks of one stream ----

// A worker's state for deflating blocks: a libdeflate compressor and the
// zlib inflater that walks its output.
struct PieceDeflater;

// A piece deflater at `level`, its memory from AllocateWork; null when
// out of memory.
PieceDeflater* NewPieceDeflater(int level);
void FreePieceDeflater(PieceDeflater* deflater);

// The most bytes DeflatePiece writes for `length` input bytes: libdeflate's
// bound for raw deflate, and the empty stored block that ends a piece.
size_t PieceBound(size_t length);

// Writes the raw deflate of the `length` bytes at `data` to `output`
// (`room` bytes, at least PieceBound(length)), `*written` bytes. The
// `last` piece ends with the stream's final block; any other with a
// non-final block and an empty stored block that ends on a byte boundary,
// so that the next piece's blocks can follow it. Each piece refers to no
// byte before it. Done, OutOfMemory (the walking inflater's window), or
// CompressorFailed when libdeflate failed or its output was not the
// stream of `data`.
DeflateStatus DeflatePiece(PieceDeflater* deflater, const unsigned char* data, size_t length,
                           bool last, unsigned char* output, size_t room, size_t* written);
