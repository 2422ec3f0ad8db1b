// lzma_body.cpp - decoding and encoding the raw LZMA1 bodies of "ZWS"
// movies with liblzma.
#include "rebuild/lzma_body.h"

#include <cstdlib>
#include <cstring>
#include <lzma.h>

#include "common/byte_buffer.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"

namespace {
// The encoder is fed its input in pieces of about one percent, and never
// less than this, so that its progress can be told.
const uint32_t smallestPiece = 64 * 1024;
const uint32_t lzmaPreset = 9;

struct LzmaBodyState {
    lzma_stream stream;
    uint32_t bodyLeft;  // body bytes still to produce: declared length - 8 - produced
};

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

}  // namespace

void* LzmaBodyOpen(const unsigned char* movieStart, bool* invalid)
{
    *invalid = false;
    uint32_t declaredLength = ReadLe32(movieStart + 4);
    uint32_t bodyLength = declaredLength > movieHeaderSize ? declaredLength - movieHeaderSize : 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    // liblzma allocates the options with malloc, as its allocator is not given.
    lzma_ret status = lzma_properties_decode(&filters[0], nullptr, movieStart + 12, 5);
    if (status != LZMA_OK) {
        *invalid = status == LZMA_OPTIONS_ERROR;
        return nullptr;
    }
    // No distance can reach back further than the body, so a dictionary
    // larger than the body is never needed: a small movie declaring a
    // large dictionary costs no more memory than the movie itself.
    lzma_options_lzma* options = (lzma_options_lzma*)filters[0].options;
    uint32_t needed = bodyLength > LZMA_DICT_SIZE_MIN ? bodyLength : LZMA_DICT_SIZE_MIN;
    options->dict_size = Smaller(options->dict_size, needed);

    LzmaBodyState* state = (LzmaBodyState*)MemAlloc(sizeof(LzmaBodyState));
    if (state) {
        state->stream = LZMA_STREAM_INIT;
        state->bodyLeft = bodyLength;
        status = lzma_raw_decoder(&state->stream, filters);
        if (status != LZMA_OK) {
            *invalid = status == LZMA_OPTIONS_ERROR;
            lzma_end(&state->stream);
            MemFree(state);
            state = nullptr;
        }
    }
    free(options);
    return state;
}

StepResult LzmaBodyStep(void* opaque, CodecCursors* cursors, bool inputEnds)
{
    // Input that ends is seen by the step making no progress; liblzma's raw
    // decoder needs no word of it.
    (void)inputEnds;
    LzmaBodyState* state = (LzmaBodyState*)opaque;
    if (state->bodyLeft == 0)
        return StepResult::Ended;
    lzma_stream* stream = &state->stream;
    stream->next_in = cursors->input;
    stream->avail_in = cursors->inputLeft;
    stream->next_out = cursors->output;
    stream->avail_out = cursors->outputLeft < state->bodyLeft ? cursors->outputLeft : state->bodyLeft;
    size_t room = stream->avail_out;
    lzma_ret status = lzma_code(stream, LZMA_RUN);
    size_t produced = room - stream->avail_out;
    state->bodyLeft -= (uint32_t)produced;
    cursors->input = stream->next_in;
    cursors->inputLeft = stream->avail_in;
    cursors->output = stream->next_out;
    cursors->outputLeft -= produced;
    switch (status) {
    case LZMA_OK:
    case LZMA_BUF_ERROR:  // no progress was possible: more input or room is needed
        return state->bodyLeft == 0 ? StepResult::Ended : StepResult::Going;
    case LZMA_STREAM_END:  // the end marker
        return StepResult::Ended;
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
        return StepResult::OutOfMemory;
    default:
        return StepResult::DataError;
    }
}

void LzmaBodyClose(void* opaque)
{
    LzmaBodyState* state = (LzmaBodyState*)opaque;
    if (!state)
        return;
    lzma_end(&state->stream);
    MemFree(state);
}

struct LzmaEncoder {
    lzma_stream stream;
    const ByteSink* output;  // receives the movie's 17 first bytes, then the stream
    unsigned char* piece;    // where the encoder writes before the output takes it
    uint64_t streamLength;   // stream bytes handed to the output
    uint64_t bodyLength;     // as announced; progress counts against it
    uint64_t given;          // body bytes compressed so far
    uint64_t reported;       // `given` at the last progress report
    uint64_t step;           // report progress about this often
    const Progress* progress;
    FailureKind error;       // None while all is well
};

namespace {
// The largest "ZWS" movie: its size must fit the format's 32 bits.
const uint64_t largestMovie = 0xFFFFFFFFu;
// The encoder's output goes out in pieces of this size.
const size_t outputPiece = 256 * 1024;

// Starts the raw LZMA1 encoder for a body of `bodyLength` bytes and writes
// its 5 property bytes to `properties`.
FailureKind StartEncoder(lzma_stream* stream, uint64_t bodyLength, unsigned char* properties)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, lzmaPreset))
        return FailureKind::ConversionFailed;
    if (bodyLength < options.dict_size)
        options.dict_size = bodyLength > LZMA_DICT_SIZE_MIN ? (uint32_t)bodyLength
                                                            : LZMA_DICT_SIZE_MIN;
    // The LZMA1 encoder always writes the end marker: readers that trust
    // neither length field still find the end of the stream.
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_encode(&filters[0], properties) != LZMA_OK)
        return FailureKind::ConversionFailed;
    lzma_ret status = lzma_raw_encoder(stream, filters);
    if (status == LZMA_OK)
        return FailureKind::None;
    return status == LZMA_MEM_ERROR ? FailureKind::OutOfMemory
                                    : FailureKind::ConversionFailed;
}

// Hands what the encoder wrote into its piece to the output.
bool FlushPiece(LzmaEncoder* encoder)
{
    size_t produced = outputPiece - encoder->stream.avail_out;
    encoder->stream.next_out = encoder->piece;
    encoder->stream.avail_out = outputPiece;
    if (produced == 0)
        return true;
    encoder->streamLength += produced;
    if (lzmaStreamOffset + encoder->streamLength > largestMovie) {
        encoder->error = FailureKind::ConversionFailed;
        return false;
    }
    if (!encoder->output->write(encoder->output->context, encoder->piece, produced)) {
        encoder->error = FailureKind::Stopped;
        return false;
    }
    return true;
}

// Runs the encoder over its input (`action` LZMA_RUN) or to the end of
// the stream (LZMA_FINISH), handing its output on as each piece fills.
bool RunEncoder(LzmaEncoder* encoder, lzma_action action)
{
    lzma_stream* stream = &encoder->stream;
    for (;;) {
        lzma_ret status = lzma_code(stream, action);
        bool done = status == LZMA_STREAM_END ||
                    (status == LZMA_OK && action == LZMA_RUN && stream->avail_in == 0);
        if (status != LZMA_OK && status != LZMA_STREAM_END) {
            encoder->error = status == LZMA_MEM_ERROR ? FailureKind::OutOfMemory
                                                      : FailureKind::ConversionFailed;
            return false;
        }
        if ((stream->avail_out == 0 || status == LZMA_STREAM_END) && !FlushPiece(encoder))
            return false;
        if (done)
            return true;
    }
}

// The body goes to liblzma in parts of at most smallestPiece (preset 9
// takes some tens of milliseconds for one), so that a cancel is seen soon.
bool EncoderWrite(void* context, const unsigned char* data, size_t length)
{
    LzmaEncoder* encoder = (LzmaEncoder*)context;
    while (length != 0 && encoder->error == FailureKind::None) {
        if (CancelRequested(encoder->progress)) {
            encoder->error = FailureKind::Cancelled;
            break;
        }
        uint64_t piece = encoder->step - (encoder->given - encoder->reported);
        if (piece > smallestPiece)
            piece = smallestPiece;
        size_t part = length < piece ? length : (size_t)piece;
        encoder->stream.next_in = data;
        encoder->stream.avail_in = part;
        if (!RunEncoder(encoder, LZMA_RUN))
            break;
        data += part;
        length -= part;
        encoder->given += part;
        if (encoder->given - encoder->reported >= encoder->step) {
            encoder->reported = encoder->given;
            if (encoder->given < encoder->bodyLength)
                ReportProgress(encoder->progress, encoder->given, encoder->bodyLength);
        }
    }
    return encoder->error == FailureKind::None;
}

// The movie's first bytes: "ZWS", the version and declared length of
// `header`, the compressed length (0 until known) and the properties.
FailureKind StartMovie(LzmaEncoder* encoder, const unsigned char* header)
{
    unsigned char start[lzmaStreamOffset] = {};
    FailureKind error = StartEncoder(&encoder->stream, encoder->bodyLength, start + 12);
    if (error != FailureKind::None)
        return error;
    memcpy(start, header, movieHeaderSize);
    WriteLe32(start, (ReadLe32(header) & 0xFF000000u) | signatureLzma);
    if (!encoder->output->write(encoder->output->context, start, sizeof start))
        return FailureKind::Stopped;
    return FailureKind::None;
}
}  // namespace

Failure OpenLzmaEncoder(const unsigned char* header, uint64_t bodyLength,
                        const Progress* progress, const ByteSink* output,
                        LzmaEncoder** opened)
{
    *opened = nullptr;
    LzmaEncoder* encoder = (LzmaEncoder*)MemAlloc(sizeof(LzmaEncoder));
    unsigned char* piece = encoder ? (unsigned char*)MemAlloc(outputPiece) : nullptr;
    if (!piece) {
        MemFree(encoder);
        return FailureOf(FailureKind::OutOfMemory);
    }
    *encoder = LzmaEncoder();
    encoder->stream = LZMA_STREAM_INIT;
    encoder->output = output;
    encoder->piece = piece;
    encoder->bodyLength = bodyLength;
    encoder->step = bodyLength / 100 > smallestPiece ? bodyLength / 100 : smallestPiece;
    encoder->progress = progress;
    FailureKind error = StartMovie(encoder, header);
    if (error != FailureKind::None) {
        AbandonLzmaEncoder(encoder);
        return FailureOf(error);
    }
    encoder->stream.next_out = piece;
    encoder->stream.avail_out = outputPiece;
    ReportProgress(progress, 0, bodyLength);
    *opened = encoder;
    return NoFailure();
}

ByteSink LzmaEncoderSink(LzmaEncoder* encoder)
{
    ByteSink sink = {EncoderWrite, nullptr, encoder};
    return sink;
}

Failure FinishLzmaEncoder(LzmaEncoder* encoder, uint64_t* streamLength)
{
    if (encoder->error == FailureKind::None) {
        encoder->stream.avail_in = 0;
        RunEncoder(encoder, LZMA_FINISH);
    }
    FailureKind error = encoder->error;
    *streamLength = encoder->streamLength;
    if (error == FailureKind::None)
        ReportProgress(encoder->progress, encoder->bodyLength, encoder->bodyLength);
    AbandonLzmaEncoder(encoder);
    return FailureOf(error);
}

void AbandonLzmaEncoder(LzmaEncoder* encoder)
{
    if (!encoder)
        return;
    lzma_end(&encoder->stream);
    MemFree(encoder->piece);
    MemFree(encoder);
}

namespace {
bool AppendToBuffer(void* context, const unsigned char* data, size_t length)
{
    return AppendBytes((ByteBuffer*)context, data, length);
}

// Encodes the body of the "FWS" movie into `encoded`.
Failure EncodeInto(const unsigned char* movie, uint32_t size, const Progress* progress,
                   ByteBuffer* encoded)
{
    uint32_t bodyLength = Smaller(ReadLe32(movie + 4), size) - movieHeaderSize;
    ByteSink output = {AppendToBuffer, nullptr, encoded};
    LzmaEncoder* encoder = nullptr;
    Failure result = OpenLzmaEncoder(movie, bodyLength, progress, &output, &encoder);
    if (Failed(result))
        return result;
    EncoderWrite(encoder, movie + movieHeaderSize, bodyLength);
    uint64_t streamLength = 0;
    result = FinishLzmaEncoder(encoder, &streamLength);
    if (result.kind == FailureKind::Stopped)
        result = FailureOf(FailureKind::OutOfMemory);
    if (!Failed(result))
        WriteLe32(encoded->data + 8, (uint32_t)streamLength);
    return result;
}
}  // namespace

unsigned char* LzmaEncodeMovie(const unsigned char* movie, uint32_t size, uint32_t* outputSize,
                               const Progress* progress, Failure* failure)
{
    Failure result = FailureOf(FailureKind::DamagedMovie);
    ByteBuffer encoded = EmptyByteBuffer(largestMovie);
    if (size >= movieHeaderSize && MovieSignature(ReadLe32(movie)) == signatureUncompressed &&
        ReadLe32(movie + 4) >= movieHeaderSize)
        result = EncodeInto(movie, size, progress, &encoded);
    unsigned char* fitted = nullptr;
    if (!Failed(result)) {
        *outputSize = (uint32_t)encoded.used;
        fitted = (unsigned char*)MemReAlloc(encoded.data, (size_t)encoded.used);
        if (!fitted)
            fitted = encoded.data;
    } else {
        ReleaseBytes(&encoded);
    }
    if (failure)
        *failure = result;
    return fitted;
}
