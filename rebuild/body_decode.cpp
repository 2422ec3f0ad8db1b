// body_decode.cpp - the one driver of every body decoder: steps the codec
// over the stored movie, hands the body to the sink piece by piece, and
// applies the declared-length rule.
#include "rebuild/body_decode.h"

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
// Padding is delivered from this block of zeros.
const unsigned char zeros[64 * 1024] = {};

// One decode in progress.
struct Decode {
    const BodyDecoder* decoder;
    void* state;
    const ByteSink* sink;
    const Progress* progress;
    const unsigned char* movie;
    uint64_t inputTotal;  // stream bytes: the movie after the decoder's offset
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

// Steps the codec until its stream ends or something stops it; a step
// produces at most 1 MiB, so a cancel is seen within one.
FailureKind Run(Decode* decode)
{
    uint32_t offset = decode->decoder->streamOffset;
    CodecCursors cursors = {decode->movie + offset, (size_t)decode->inputTotal, nullptr, 0};
    uint64_t reported = 0;
    ReportProgress(decode->progress, 0, decode->inputTotal);
    for (;;) {
        if (CancelRequested(decode->progress))
            return FailureKind::Cancelled;
        size_t room = 0;
        unsigned char* output = ChooseOutput(decode, &room);
        if (!output)
            return FailureKind::OutOfMemory;
        cursors.output = output;
        cursors.outputLeft = room;
        size_t inputBefore = cursors.inputLeft;
        StepResult step = decode->decoder->step(decode->state, &cursors, true);
        size_t produced = room - cursors.outputLeft;
        uint64_t consumed = decode->inputTotal - cursors.inputLeft;
        uint64_t position = offset + consumed;
        if (!Deliver(decode, output, produced))
            return FailureKind::Stopped;
        if (consumed != reported && step == StepResult::Going) {
            reported = consumed;
            ReportProgress(decode->progress, consumed, decode->inputTotal);
        }
        if (step == StepResult::Ended) {
            decode->report.streamEnd = position;
            break;
        }
        if (step == StepResult::OutOfMemory)
            return FailureKind::OutOfMemory;
        if (step != StepResult::Going)
            return Damaged(decode, DamageOfStep(step), position);
        if (produced == 0 && inputBefore == cursors.inputLeft)
            return Damaged(decode, cursors.inputLeft == 0 ? Damage::CutShort : Damage::DataError,
                           position);
    }
    FailureKind padded = Pad(decode);
    if (padded == FailureKind::None)
        ReportProgress(decode->progress, decode->inputTotal, decode->inputTotal);
    return padded;
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
    FailureKind result = FailureKind::CannotDecode;
    if (movieSize >= movieHeaderSize) {
        decode.decoder = FindBodyDecoder(MovieSignature(ReadLe32(movie)));
        decode.report.declaredLength = ReadLe32(movie + 4);
    }
    if (!decode.decoder) {
        // Nothing to decode.
    } else if (decode.report.declaredLength < movieHeaderSize) {
        result = Damaged(&decode, Damage::DeclaredTooShort, 4);
    } else if (movieSize < decode.decoder->streamOffset) {
        result = Damaged(&decode, Damage::CutShort, movieSize);
    } else {
        bool invalid = false;
        decode.state = decode.decoder->open(movie, &invalid);
        decode.inputTotal = movieSize - decode.decoder->streamOffset;
        decode.bodyLength = decode.report.declaredLength - movieHeaderSize;
        if (decode.state)
            result = Run(&decode);
        else if (invalid)
            result = Damaged(&decode, Damage::BadProperties, movieHeaderSize);
        else
            result = FailureKind::OutOfMemory;
        decode.decoder->close(decode.state);
    }
    MemFree(decode.buffer);
    if (report)
        *report = decode.report;
    Failure failure = FailureOf(result);
    if (result == FailureKind::DamagedMovie) {
        uint32_t streamStart = decode.decoder->streamOffset;
        failure.damage = decode.report.damage;
        failure.offset = decode.report.damageOffset > streamStart
                             ? decode.report.damageOffset - streamStart
                             : 0;
    }
    return failure;
}
