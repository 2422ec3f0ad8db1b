// parallel_deflate.h - deflating a movie body with libdeflate into one
// zlib stream that any inflater reads.
//
// A body of up to wholeBodyLimit bytes (the common case: in a batch, each
// job does one file) is deflated whole, in one call, on the calling
// thread. A longer one is cut into blocks that a pool of workers deflates
// on every core, each block on its own (libdeflate cannot prime one with
// the data before it) and opened up to be followed by the next
// (deflate_whole.h). The pieces are written in order under one zlib
// header, followed by the Adler-32 combined from the blocks' checksums.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/progress.h"
#include "rebuild/body_codec.h"
#include "rebuild/deflate_whole.h"

// The body bytes each worker deflates at a time. Each block starts
// without the 32 KiB before it; at 1 MiB that costs about 0.1% of output.
extern const size_t deflateBlockSize;

// The most bytes the zlib stream of a body of `bodyLength` bytes can take,
// whole or in blocks, for every length up to the format's 4 GiB: the
// stream's header and checksum, and for each block libdeflate's bound and
// the empty stored block that ends it.
uint64_t DeflatedBound(uint64_t bodyLength);

// The number of workers for a request of `threads`: 0 means one per core.
unsigned WorkerCount(unsigned threads);

// Whole or in blocks.
enum class DeflateShape {
    BySize,  // whole up to wholeBodyLimit bytes, in blocks beyond
    Blocks,  // in blocks whatever the length, as a long body is
};

// A deflate in progress, fed with the body in pieces.
struct BodyDeflater;

// Opens a deflater writing to `output` (which must outlive it) at `level`
// (deflate_whole.h: deflateLevelDefault, or deflateLevelBest; 1-12, 0 the
// default).
// `bodyLength` is how many bytes will be given: it chooses whole or
// blocks and is the total of the progress reports, which count body bytes
// whose block has been written (a whole body: none until it is done).
// Whole, the body given is gathered in memory that grows with it and
// deflated at the end. In blocks, with `threads` workers (0: one per core;
// 1: deflates on the calling thread). Null when memory runs out; a worker
// that cannot be started fails the deflate (ThreadFailed).
BodyDeflater* OpenBodyDeflater(unsigned threads, uint64_t bodyLength, const ByteSink* output,
                               const Progress* progress, int level = deflateLevelDefault,
                               DeflateShape shape = DeflateShape::BySize);
// Gives the next `length` body bytes (copied). False once the deflater
// has failed; FinishBodyDeflater then says why.
bool WriteBodyDeflater(BodyDeflater* deflater, const unsigned char* data, size_t length);
// A sink that feeds `deflater`, for the decode driver. Whole, it offers
// room in the gathered body, so that a decoder writes there directly.
ByteSink BodyDeflaterSink(BodyDeflater* deflater);
// Ends the stream, writes what is left and releases the deflater.
// `*outputLength` (if not null) receives the bytes of the whole stream.
DeflateStatus FinishBodyDeflater(BodyDeflater* deflater, uint64_t* outputLength);
// Releases a deflater without ending its stream (after a failure
// elsewhere). Null is ignored.
void AbandonBodyDeflater(BodyDeflater* deflater);

// Deflates the whole body `body` of `length` bytes, in place without
// copies, to `output`, as above. Whole, when `output` offers room for
// the bound of the stream, the stream is written there directly.
DeflateStatus DeflateBody(const unsigned char* body, uint64_t length, unsigned threads,
                          const ByteSink* output, const Progress* progress,
                          uint64_t* outputLength, int level = deflateLevelDefault,
                          DeflateShape shape = DeflateShape::BySize);
