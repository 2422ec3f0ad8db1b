// zlib_body.cpp - inflating the zlib stream of a "CWS" movie body one step
// at a time.
#include "rebuild/zlib_body.h"

#include <cstring>
#include <zlib.h>

#include "common/platform.h"

namespace {
// zlib counts in 32-bit units; larger cursors are served in slices.
const size_t largestSlice = 1u << 30;

size_t Slice(size_t count) { return count < largestSlice ? count : largestSlice; }
}  // namespace

void* OpenZlibBody(const unsigned char*, bool* invalid)
{
    *invalid = false;
    z_stream* stream = (z_stream*)MemAlloc(sizeof(z_stream));
    if (stream && inflateInit(stream) != Z_OK) {
        MemFree(stream);
        stream = nullptr;
    }
    return stream;
}

StepResult StepZlibBody(void* state, CodecCursors* cursors, bool)
{
    z_stream* stream = (z_stream*)state;
    uInt inputGiven = (uInt)Slice(cursors->inputLeft);
    uInt outputGiven = (uInt)Slice(cursors->outputLeft);
    stream->next_in = (Bytef*)cursors->input;
    stream->avail_in = inputGiven;
    stream->next_out = cursors->output;
    stream->avail_out = outputGiven;
    int status = inflate(stream, Z_NO_FLUSH);
    cursors->input += inputGiven - stream->avail_in;
    cursors->inputLeft -= inputGiven - stream->avail_in;
    cursors->output += outputGiven - stream->avail_out;
    cursors->outputLeft -= outputGiven - stream->avail_out;
    switch (status) {
    case Z_OK:
    case Z_BUF_ERROR: return StepResult::Going;  // no progress possible: the caller decides
    case Z_STREAM_END: return StepResult::Ended;
    case Z_MEM_ERROR: return StepResult::OutOfMemory;
    default: break;
    }
    // zlib tells a wrong check value from other damage only by its message.
    if (status == Z_DATA_ERROR && stream->msg && strcmp(stream->msg, "incorrect data check") == 0)
        return StepResult::BadChecksum;
    return StepResult::DataError;
}

void CloseZlibBody(void* state)
{
    if (!state)
        return;
    inflateEnd((z_stream*)state);
    MemFree(state);
}
