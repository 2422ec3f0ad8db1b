// parallel_deflate.h - deflating a movie body on several cores into one
// zlib stream that any inflater reads.
//
// The body is cut into blocks; each is deflated at level 9 (memory level
// 8) by a worker, primed with the 32 KiB of body before it as a preset
// dictionary and ended on a byte boundary (sync flush) but for the last.
// The pieces are written in order under one zlib header, followed by the
// Adler-32 combined from the blocks' checksums.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/progress.h"
#include "rebuild/body_codec.h"

// The body bytes each worker deflates at a time.
extern const size_t deflateBlockSize;

// The most bytes the zlib stream of a body of `bodyLength` bytes can take,
// for every length up to the format's 4 GiB: the stream's header and
// checksum, and for each block the input plus what stored blocks and the
// sync flush add.
uint64_t DeflatedBound(uint64_t bodyLength);

// The number of workers for a request of `threads`: 0 means one per core.
unsigned WorkerCount(unsigned threads);

enum class DeflateStatus {
    Done,
    OutOfMemory,      // a worker's state or buffer could not be allocated
    OutputFailed,     // the output sink returned false
    CompressorFailed, // zlib reported an error
    Cancelled,        // the progress's cancel flag was set
};

// A deflate in progress, fed with the body in pieces.
struct BodyDeflater;

// Opens a deflater writing to `output` (which must outlive it) with
// `threads` workers (0: one per core; 1: deflates on the calling thread).
// `bodyLength` is how many bytes will be given: it sizes the pool and is
// the total of the progress reports, which count body bytes whose block
// has been written. The progress's cancel flag is read as input is taken.
// Null when memory runs out.
BodyDeflater* OpenBodyDeflater(unsigned threads, uint64_t bodyLength, const ByteSink* output,
                               const Progress* progress);
// Gives the next `length` body bytes (copied). False once the deflater
// has failed; FinishBodyDeflater then says why.
bool WriteBodyDeflater(BodyDeflater* deflater, const unsigned char* data, size_t length);
// A sink that feeds `deflater`, for the decode driver.
ByteSink BodyDeflaterSink(BodyDeflater* deflater);
// Ends the stream, writes what is left and releases the deflater.
// `*outputLength` (if not null) receives the bytes of the whole stream.
DeflateStatus FinishBodyDeflater(BodyDeflater* deflater, uint64_t* outputLength);
// Releases a deflater without ending its stream (after a failure
// elsewhere). Null is ignored.
void AbandonBodyDeflater(BodyDeflater* deflater);

// Deflates the whole body `body` of `length` bytes, in place without
// copies, to `output`, as above.
DeflateStatus DeflateBody(const unsigned char* body, uint64_t length, unsigned threads,
                          const ByteSink* output, const Progress* progress,
                          uint64_t* outputLength);
