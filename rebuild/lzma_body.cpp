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
    ByteBuffer output;      // the whole movie: header, sizes, properties, stream
    uint64_t bodyLength;    // as announced; progress counts against it
    uint64_t given;         // body bytes compressed so far
    uint64_t reported;      // `given` at the last progress report
    uint64_t piece;         // report progress about this often
    const Progress* progress;
    FailureKind error;      // None while all is well
};

namespace {
// The largest "ZWS" movie: its size must fit the format's 32 bits.
const uint64_t largestMovie = 0xFFFFFFFFu;

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

// Runs the encoder over its input (`action` LZMA_RUN) or to the end of
// the stream (LZMA_FINISH), growing the output as it fills.
bool RunEncoder(LzmaEncoder* encoder, lzma_action action)
{
    lzma_stream* stream = &encoder->stream;
    for (;;) {
        ByteBuffer* output = &encoder->output;
        output->used = (uint64_t)(stream->next_out - output->data);
        if (output->used == output->capacity && !ReserveBytes(output, output->used + 1)) {
            encoder->error = output->capacity == output->limit ? FailureKind::ConversionFailed
                                                               : FailureKind::OutOfMemory;
            return false;
        }
        stream->next_out = output->data + output->used;
        stream->avail_out = (size_t)(output->capacity - output->used);
        lzma_ret status = lzma_code(stream, action);
        if (status == LZMA_STREAM_END || (status == LZMA_OK && action == LZMA_RUN &&
                                          stream->avail_in == 0))
            return true;
        if (status != LZMA_OK) {
            encoder->error = status == LZMA_MEM_ERROR ? FailureKind::OutOfMemory
                                                      : FailureKind::ConversionFailed;
            return false;
        }
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
        uint64_t piece = encoder->piece - (encoder->given - encoder->reported);
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
        if (encoder->given - encoder->reported >= encoder->piece) {
            encoder->reported = encoder->given;
            if (encoder->given < encoder->bodyLength)
                ReportProgress(encoder->progress, encoder->given, encoder->bodyLength);
        }
    }
    return encoder->error == FailureKind::None;
}
}  // namespace

Failure OpenLzmaEncoder(const unsigned char* header, uint64_t bodyLength,
                        const Progress* progress, LzmaEncoder** opened)
{
    *opened = nullptr;
    LzmaEncoder* encoder = (LzmaEncoder*)MemAlloc(sizeof(LzmaEncoder));
    if (!encoder)
        return FailureOf(FailureKind::OutOfMemory);
    *encoder = LzmaEncoder();
    encoder->stream = LZMA_STREAM_INIT;
    // Room for a well-compressible body at first; grown as the output needs.
    encoder->output = EmptyByteBuffer(largestMovie);
    uint64_t firstRoom = lzmaStreamOffset + bodyLength / 4 + smallestPiece;
    if (!ReserveBytes(&encoder->output, firstRoom < largestMovie ? firstRoom : largestMovie)) {
        AbandonLzmaEncoder(encoder);
        return FailureOf(FailureKind::OutOfMemory);
    }
    encoder->bodyLength = bodyLength;
    encoder->piece = bodyLength / 100 > smallestPiece ? bodyLength / 100 : smallestPiece;
    encoder->progress = progress;
    unsigned char* output = encoder->output.data;
    encoder->error = StartEncoder(&encoder->stream, bodyLength, output + 12);
    if (encoder->error != FailureKind::None) {
        FailureKind error = encoder->error;
        AbandonLzmaEncoder(encoder);
        return FailureOf(error);
    }
    memcpy(output, header, movieHeaderSize);
    WriteLe32(output, (ReadLe32(header) & 0xFF000000u) | signatureLzma);
    encoder->stream.next_out = output + lzmaStreamOffset;
    ReportProgress(progress, 0, bodyLength);
    *opened = encoder;
    return NoFailure();
}

ByteSink LzmaEncoderSink(LzmaEncoder* encoder)
{
    ByteSink sink = {EncoderWrite, nullptr, encoder};
    return sink;
}

Failure FinishLzmaEncoder(LzmaEncoder* encoder, unsigned char** movie, uint32_t* size)
{
    *movie = nullptr;
    if (encoder->error == FailureKind::None) {
        encoder->stream.avail_in = 0;
        RunEncoder(encoder, LZMA_FINISH);
    }
    FailureKind error = encoder->error;
    if (error == FailureKind::None) {
        unsigned char* output = encoder->output.data;
        uint64_t written = (uint64_t)(encoder->stream.next_out - output);
        WriteLe32(output + 8, (uint32_t)(written - lzmaStreamOffset));
        ReportProgress(encoder->progress, encoder->bodyLength, encoder->bodyLength);
        *movie = (unsigned char*)MemReAlloc(output, (size_t)written);
        if (!*movie)
            *movie = output;
        encoder->output.data = nullptr;
        *size = (uint32_t)written;
    }
    AbandonLzmaEncoder(encoder);
    return FailureOf(error);
}

void AbandonLzmaEncoder(LzmaEncoder* encoder)
{
    if (!encoder)
        return;
    lzma_end(&encoder->stream);
    ReleaseBytes(&encoder->output);
    MemFree(encoder);
}

unsigned char* LzmaEncodeMovie(const unsigned char* movie, uint32_t size, uint32_t* outputSize,
                               const Progress* progress, Failure* failure)
{
    Failure result = FailureOf(FailureKind::DamagedMovie);
    unsigned char* encoded = nullptr;
    if (size >= movieHeaderSize && MovieSignature(ReadLe32(movie)) == signatureUncompressed &&
        ReadLe32(movie + 4) >= movieHeaderSize) {
        uint32_t bodyLength = Smaller(ReadLe32(movie + 4), size) - movieHeaderSize;
        LzmaEncoder* encoder = nullptr;
        result = OpenLzmaEncoder(movie, bodyLength, progress, &encoder);
        if (!Failed(result)) {
            EncoderWrite(encoder, movie + movieHeaderSize, bodyLength);
            result = FinishLzmaEncoder(encoder, &encoded, outputSize);
        }
    }
    if (failure)
        *failure = result;
    return encoded;
}
