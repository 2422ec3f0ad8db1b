// zlib_body.cpp - inflating the zlib stream of a "CWS" movie body: whole
// with libdeflate where it can, else one step at a time with zlib.
#include "rebuild/zlib_body.h"

#include <cstring>
#include <zlib.h>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/deflate_whole.h"
#include "rebuild/work_memory.h"

namespace {
// zlib counts in 32-bit units; larger cursors are served in slices.
const size_t largestSlice = 1u << 30;
// A deflate stream yields at most about 1,032 bytes per byte; the whole
// body's buffer is never larger than the stream could fill.
const uint64_t largestExpansion = 1040;

size_t Slice(size_t count) { return count < largestSlice ? count : largestSlice; }

struct ZlibBody {
    z_stream stream;
    uint64_t declaredBody;  // the body the header declares
    bool stepped;           // a step has run
    // The body libdeflate inflated (AllocateWork), while it is handed out.
    unsigned char* whole;
    size_t wholeLength;
    size_t handedOut;
    size_t wholeInput;    // the stream's bytes
    size_t inputCounted;  // of those, counted as consumed so far
};

// Inflates the whole stream at the cursors with libdeflate. False, with
// nothing kept, when it did not decode cleanly within the declared body.
bool InflateAtOnce(ZlibBody* body, const CodecCursors* cursors)
{
    uint64_t room = (uint64_t)cursors->inputLeft * largestExpansion;
    if (room > body->declaredBody)
        room = body->declaredBody;
    unsigned char* output = (unsigned char*)AllocateWork(room ? (size_t)room : 1);
    size_t consumed = 0, produced = 0;
    if (!output ||
        !InflateWhole(cursors->input, cursors->inputLeft, output, (size_t)room, &consumed,
                      &produced)) {
        FreeWork(output);
        return false;
    }
    body->whole = output;
    body->wholeLength = produced;
    body->wholeInput = consumed;
    return true;
}

// Hands out the next part of the inflated body, and input in proportion.
StepResult HandOut(ZlibBody* body, CodecCursors* cursors)
{
    size_t piece = body->wholeLength - body->handedOut;
    if (piece > cursors->outputLeft)
        piece = cursors->outputLeft;
    memcpy(cursors->output, body->whole + body->handedOut, piece);
    body->handedOut += piece;
    cursors->output += piece;
    cursors->outputLeft -= piece;
    bool done = body->handedOut == body->wholeLength;
    size_t counted = done ? body->wholeInput
                          : (size_t)((uint64_t)body->wholeInput * body->handedOut /
                                     body->wholeLength);
    cursors->input += counted - body->inputCounted;
    cursors->inputLeft -= counted - body->inputCounted;
    body->inputCounted = counted;
    if (!done)
        return StepResult::Going;
    FreeWork(body->whole);  // not held while the caller goes on with the body
    body->whole = nullptr;
    return StepResult::Ended;
}

StepResult Inflate(z_stream* stream, CodecCursors* cursors)
{
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
}  // namespace

void* OpenZlibBody(const unsigned char* movieStart, bool* invalid)
{
    *invalid = false;
    ZlibBody* body = (ZlibBody*)MemAlloc(sizeof(ZlibBody));
    if (!body)
        return nullptr;
    memset(body, 0, sizeof *body);
    uint32_t declaredLength = ReadLe32(movieStart + 4);
    body->declaredBody = declaredLength > movieHeaderSize ? declaredLength - movieHeaderSize : 0;
    if (inflateInit(&body->stream) != Z_OK) {
        MemFree(body);
        return nullptr;
    }
    return body;
}

StepResult StepZlibBody(void* state, CodecCursors* cursors, bool inputEnds)
{
    ZlibBody* body = (ZlibBody*)state;
    if (!body->stepped) {
        body->stepped = true;
        if (inputEnds && cursors->inputLeft != 0 && body->declaredBody <= wholeBodyLimit)
            InflateAtOnce(body, cursors);
    }
    if (body->whole)
        return HandOut(body, cursors);
    return Inflate(&body->stream, cursors);
}

void CloseZlibBody(void* state)
{
    if (!state)
        return;
    ZlibBody* body = (ZlibBody*)state;
    inflateEnd(&body->stream);
    FreeWork(body->whole);
    MemFree(body);
}
