// body_decode.cpp - the one driver of every body decoder: steps the codec
// over the stored movie, hands the body to the sink piece by piece, and
// applies the declared-length rule.
#include "rebuild/body_decode.h"

#include <cstring>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/lzma_body.h"
#include "rebuild/zlib_body.h"

namespace {
const BodyDecoder bodyDecoders[] = {
    {signatureZlib, movieHeaderSize, OpenZlibBody, StepZlibBody, CloseZlibBody},
    {signatureLzma, lzmaStreamOffset, LzmaBodyOpen, LzmaBodyStep, LzmaBodyClose},
};

// The most a piece holds: the sink sees at most this a call.
const size_t largestPiece = 1024 * 1024;
// Output that lands in the driver's own buffer (no room from the sink, or
// beyond the declared length) goes in pieces of this size.
const size_t bufferPiece = 256 * 1024;
// A stored movie read from a source comes in pieces of this size.
const size_t inputPiece = 256 * 1024;
// Padding is delivered from this block of zeros.
const unsigned char zeros[64 * 1024] = {};

// One decode in progress.
struct Decode {
    const BodyDecoder* decoder;
    void* state;
    const ByteSink* sink;
    const Progress* progress;
    const unsigned char* movie;  // the stored movie in memory, or null:
    const ByteSource* source;    // read from this source, the movie at `sourceOffset`
    uint64_t sourceOffset;
    unsigned char* input;        // the piece of the source the codec reads
    uint64_t inputTotal;  // stream bytes: the movie after the decoder's offset
    uint64_t inputRead;   // stream bytes handed to the codec so far
    uint64_t bodyLength;  // what the sink must receive
    unsigned char* buffer;  // the driver's own piece buffer; null until needed
    DecodeReport report;
};

size_t Smaller(size_t a, uint64_t b) { return b < a ? (size_t)b : a; }

// Where the next step writes: the sink's room while body bytes are
// wanted, else the driver's own buffer. Null when that cannot be made.
unsigned char* ChooseOutput(Decode* decode, size_t* length)
{
    uint64_t wanted = decode->bodyLength - decode->report.delivered;
    if (wanted != 0 && decode->sink->room) {
        size_t offered = Smaller(largestPiece, wanted);
        unsigned char* room = decode->sink->room(decode->sink->context, &offered);
        if (room && offered != 0) {
            *length = offered < largestPiece ? offered : largestPiece;
            return room;
        }
    }
    if (!decode->buffer)
        decode->buffer = (unsigned char*)MemAlloc(bufferPiece);
    *length = wanted != 0 ? Smaller(bufferPiece, wanted) : bufferPiece;
    return decode->buffer;
}

// Hands the body part of `produced` new bytes at `data` to the sink.
bool Deliver(Decode* decode, const unsigned char* data, size_t produced)
{
    size_t body = Smaller(produced, decode->bodyLength - decode->report.delivered);
    if (body == 0)
        return true;
    decode->report.delivered += body;
    return decode->sink->write(decode->sink->context, data, body);
}

// Padding a long declared length takes a while: it stops when cancelled.
FailureKind Pad(Decode* decode)
{
    while (decode->report.delivered < decode->bodyLength) {
        if (CancelRequested(decode->progress))
            return FailureKind::Cancelled;
        size_t piece = Smaller(sizeof zeros, decode->bodyLength - decode->report.delivered);
        decode->report.delivered += piece;
        decode->report.padded += piece;
        if (!decode->sink->write(decode->sink->context, zeros, piece))
            return FailureKind::Stopped;
    }
    return FailureKind::None;
}

FailureKind Damaged(Decode* decode, Damage damage, uint64_t offset)
{
    decode->report.damage = damage;
    decode->report.damageOffset = offset;
    return FailureKind::DamagedMovie;
}

Damage DamageOfStep(StepResult step)
{
    return step == StepResult::BadChecksum ? Damage::BadChecksum : Damage::DataError;
}

// Gives the codec the next piece of a stored stream, after what it has
// not used yet. False when the source cannot be read.
bool Refill(Decode* decode, CodecCursors* cursors)
{
    size_t kept = cursors->inputLeft;
    if (kept != 0)
        memmove(decode->input, cursors->input, kept);
    size_t piece = Smaller(inputPiece - kept, decode->inputTotal - decode->inputRead);
    uint64_t at = decode->sourceOffset + decode->decoder->streamOffset + decode->inputRead;
    if (ReadSource(decode->source, at, decode->input + kept, (uint32_t)piece) != piece)
        return false;
    decode->inputRead += piece;
    cursors->input = decode->input;
    cursors->inputLeft = kept + piece;
    return true;
}

// What one step of the codec came to.
enum class StepEnd { Going, Ended, Stalled, Failed };

// One step of the codec into the next room, its output delivered;
// `*failure` says why when the result is Failed.
StepEnd StepOnce(Decode* decode, CodecCursors* cursors, FailureKind* failure)
{
    size_t room = 0;
    unsigned char* output = ChooseOutput(decode, &room);
    *failure = FailureKind::OutOfMemory;
    if (!output)
        return StepEnd::Failed;
    cursors->output = output;
    cursors->outputLeft = room;
    size_t inputBefore = cursors->inputLeft;
    bool inputEnds = decode->inputRead == decode->inputTotal;
    StepResult step = decode->decoder->step(decode->state, cursors, inputEnds);
    size_t produced = room - cursors->outputLeft;
    uint64_t position =
        decode->decoder->streamOffset + decode->inputRead - cursors->inputLeft;
    *failure = FailureKind::Stopped;
    if (!Deliver(decode, output, produced))
        return StepEnd::Failed;
    *failure = FailureKind::OutOfMemory;
    if (step == StepResult::OutOfMemory)
        return StepEnd::Failed;
    if (step == StepResult::Ended) {
        decode->report.streamEnd = position;
        return StepEnd::Ended;
    }
    if (step != StepResult::Going) {
        *failure = Damaged(decode, DamageOfStep(step), position);
        return StepEnd::Failed;
    }
    if (produced != 0 || inputBefore != cursors->inputLeft)
        return StepEnd::Going;
    // No progress: more of a stored stream may let the codec go on.
    if (!inputEnds && cursors->inputLeft < inputPiece)
        return StepEnd::Stalled;
    *failure = Damaged(decode, cursors->inputLeft == 0 ? Damage::CutShort : Damage::DataError,
                       position);
    return StepEnd::Failed;
}

// Steps the codec until its stream ends or something stops it; a step
// produces at most 1 MiB, so a cancel is seen within one.
FailureKind Run(Decode* decode)
{
    CodecCursors cursors = {nullptr, 0, nullptr, 0};
    if (decode->movie) {
        cursors.input = decode->movie + decode->decoder->streamOffset;
        cursors.inputLeft = (size_t)decode->inputTotal;
        decode->inputRead = decode->inputTotal;
    }
    uint64_t reported = 0;
    ReportProgress(decode->progress, 0, decode->inputTotal);
    for (StepEnd end = StepEnd::Stalled; end != StepEnd::Ended;) {
        if (CancelRequested(decode->progress))
            return FailureKind::Cancelled;
        bool wanted = cursors.inputLeft == 0 || end == StepEnd::Stalled;
        if (wanted && decode->inputRead < decode->inputTotal && !Refill(decode, &cursors))
            return FailureKind::ReadFailed;
        FailureKind failure;
        end = StepOnce(decode, &cursors, &failure);
        if (end == StepEnd::Failed)
            return failure;
        uint64_t consumed = decode->inputRead - cursors.inputLeft;
        if (consumed != reported && end == StepEnd::Going) {
            reported = consumed;
            ReportProgress(decode->progress, consumed, decode->inputTotal);
        }
    }
    FailureKind padded = Pad(decode);
    if (padded == FailureKind::None)
        ReportProgress(decode->progress, decode->inputTotal, decode->inputTotal);
    return padded;
}

// Opens the codec over the movie whose first bytes are `start` (at least
// the decoder's stream offset of them, or the whole movie of `movieSize`
// bytes when it is shorter) and decodes it.
Failure DecodeFrom(Decode* decode, const unsigned char* start, uint64_t movieSize)
{
    FailureKind result = FailureKind::CannotDecode;
    if (movieSize >= movieHeaderSize) {
        decode->decoder = FindBodyDecoder(MovieSignature(ReadLe32(start)));
        decode->report.declaredLength = ReadLe32(start + 4);
    }
    if (!decode->decoder) {
        // Nothing to decode.
    } else if (decode->report.declaredLength < movieHeaderSize) {
        result = Damaged(decode, Damage::DeclaredTooShort, 4);
    } else if (movieSize < decode->decoder->streamOffset) {
        result = Damaged(decode, Damage::CutShort, movieSize);
    } else {
        bool invalid = false;
        decode->state = decode->decoder->open(start, &invalid);
        decode->inputTotal = movieSize - decode->decoder->streamOffset;
        decode->bodyLength = decode->report.declaredLength - movieHeaderSize;
        if (decode->state)
            result = Run(decode);
        else if (invalid)
            result = Damaged(decode, Damage::BadProperties, movieHeaderSize);
        else
            result = FailureKind::OutOfMemory;
        decode->decoder->close(decode->state);
    }
    Failure failure = FailureOf(result);
    if (result == FailureKind::DamagedMovie) {
        uint32_t streamStart = decode->decoder->streamOffset;
        failure.damage = decode->report.damage;
        failure.offset = decode->report.damageOffset > streamStart
                             ? decode->report.damageOffset - streamStart
                             : 0;
    }
    return failure;
}
}  // namespace

const BodyDecoder* FindBodyDecoder(uint32_t signature)
{
    for (const BodyDecoder& decoder : bodyDecoders) {
        if (decoder.signature == signature)
            return &decoder;
    }
    return nullptr;
}

Failure DecodeMovieBody(const unsigned char* movie, size_t movieSize, const ByteSink* sink,
                        const Progress* progress, DecodeReport* report)
{
    Decode decode = {};
    decode.sink = sink;
    decode.progress = progress;
    decode.movie = movie;
    Failure failure = DecodeFrom(&decode, movie, movieSize);
    MemFree(decode.buffer);
    if (report)
        *report = decode.report;
    return failure;
}

Failure DecodeMovieSource(const ByteSource* source, uint64_t offset, uint64_t movieSize,
                          const ByteSink* sink, const Progress* progress, DecodeReport* report)
{
    Decode decode = {};
    decode.sink = sink;
    decode.progress = progress;
    decode.source = source;
    decode.sourceOffset = offset;
    // The header and the codec's properties, which open the codec.
    unsigned char start[lzmaStreamOffset] = {};
    uint32_t startSize = movieSize < sizeof start ? (uint32_t)movieSize : (uint32_t)sizeof start;
    decode.input = (unsigned char*)MemAlloc(inputPiece);
    Failure failure = FailureOf(FailureKind::OutOfMemory);
    bool started = decode.input && ReadSource(source, offset, start, startSize) == startSize;
    if (started)
        failure = DecodeFrom(&decode, start, movieSize);
    else if (decode.input)
        failure = FailureOf(FailureKind::ReadFailed);
    MemFree(decode.input);
    MemFree(decode.buffer);
    if (report)
        *report = decode.report;
    return failure;
}

Failure DecodeStoredMovie(const ByteSource* source, uint64_t offset, uint64_t movieSize,
                          const ByteSink* sink, const Progress* progress, DecodeReport* report)
{
    if (report)
        *report = DecodeReport();
    if (movieSize > wholeMovieLimit)
        return DecodeMovieSource(source, offset, movieSize, sink, progress, report);
    unsigned char* movie = ReadSourceRangeFully(source, offset, (uint32_t)movieSize);
    if (!movie)
        return FailureOf(movieSize == 0 ? FailureKind::CannotDecode : FailureKind::ReadFailed);
    Failure failure = DecodeMovieBody(movie, (size_t)movieSize, sink, progress, report);
    MemFree(movie);
    return failure;
}
