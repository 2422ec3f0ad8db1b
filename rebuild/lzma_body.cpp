// lzma_body.cpp - decoding and encoding the raw LZMA1 bodies of "ZWS"
// movies with liblzma.
#include "lzma_body.h"

#include <cstdlib>
#include <cstring>
#include <lzma.h>

#include "../common/bytes.h"
#include "../common/platform.h"
#include "../movie/movie_file.h"

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

void SetError(ConversionError* error, ConversionError value)
{
    if (error)
        *error = value;
}
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
    unsigned char* output;  // the whole movie: header, sizes, properties, stream
    uint64_t capacity;      // bytes allocated at `output`
    uint64_t bodyLength;    // as announced; progress counts against it
    uint64_t given;         // body bytes compressed so far
    uint64_t reported;      // `given` at the last progress report
    uint64_t piece;         // report progress about this often
    const Progress* progress;
    ConversionError error;  // None while all is well
};

namespace {
// The largest "ZWS" movie: its size must fit the format's 32 bits.
const uint64_t largestMovie = 0xFFFFFFFFu;

// Starts the raw LZMA1 encoder for a body of `bodyLength` bytes and writes
// its 5 property bytes to `properties`.
ConversionError StartEncoder(lzma_stream* stream, uint64_t bodyLength, unsigned char* properties)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, lzmaPreset))
        return ConversionError::CompressorFailed;
    if (bodyLength < options.dict_size)
        options.dict_size = bodyLength > LZMA_DICT_SIZE_MIN ? (uint32_t)bodyLength
                                                            : LZMA_DICT_SIZE_MIN;
    // The LZMA1 encoder always writes the end marker: readers that trust
    // neither length field still find the end of the stream.
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_encode(&filters[0], properties) != LZMA_OK)
        return ConversionError::CompressorFailed;
    lzma_ret status = lzma_raw_encoder(stream, filters);
    if (status == LZMA_OK)
        return ConversionError::None;
    return status == LZMA_MEM_ERROR ? ConversionError::OutOfMemory
                                    : ConversionError::CompressorFailed;
}

// Grows the output by about half, within the largest movie.
bool GrowOutput(LzmaEncoder* encoder)
{
    uint64_t larger = encoder->capacity + encoder->capacity / 2 + smallestPiece;
    if (larger > largestMovie)
        larger = largestMovie;
    if (larger == encoder->capacity) {
        encoder->error = ConversionError::CompressorFailed;
        return false;
    }
    unsigned char* grown = (unsigned char*)MemReAlloc(encoder->output, (size_t)larger);
    if (!grown) {
        encoder->error = ConversionError::OutOfMemory;
        return false;
    }
    encoder->output = grown;
    encoder->capacity = larger;
    return true;
}

// Runs the encoder over its input (`action` LZMA_RUN) or to the end of
// the stream (LZMA_FINISH), growing the output as it fills.
bool RunEncoder(LzmaEncoder* encoder, lzma_action action)
{
    lzma_stream* stream = &encoder->stream;
    for (;;) {
        uint64_t written = (uint64_t)(stream->next_out - encoder->output);
        if (written == encoder->capacity && !GrowOutput(encoder))
            return false;
        stream->next_out = encoder->output + written;
        stream->avail_out = (size_t)(encoder->capacity - written);
        lzma_ret status = lzma_code(stream, action);
        if (status == LZMA_STREAM_END || (status == LZMA_OK && action == LZMA_RUN &&
                                          stream->avail_in == 0))
            return true;
        if (status != LZMA_OK) {
            encoder->error = status == LZMA_MEM_ERROR ? ConversionError::OutOfMemory
                                                      : ConversionError::CompressorFailed;
            return false;
        }
    }
}

bool EncoderWrite(void* context, const unsigned char* data, size_t length)
{
    LzmaEncoder* encoder = (LzmaEncoder*)context;
    while (length != 0 && encoder->error == ConversionError::None) {
        uint64_t piece = encoder->piece - (encoder->given - encoder->reported);
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
    return encoder->error == ConversionError::None;
}
}  // namespace

LzmaEncoder* OpenLzmaEncoder(const unsigned char* header, uint64_t bodyLength,
                             const Progress* progress, ConversionError* error)
{
    SetError(error, ConversionError::None);
    LzmaEncoder* encoder = (LzmaEncoder*)MemAlloc(sizeof(LzmaEncoder));
    // Room for a well-compressible body at first; grown as the output needs.
    uint64_t capacity = lzmaStreamOffset + bodyLength / 4 + smallestPiece;
    if (capacity > largestMovie)
        capacity = largestMovie;
    unsigned char* output = encoder ? (unsigned char*)MemAlloc((size_t)capacity) : nullptr;
    if (!output) {
        MemFree(encoder);
        SetError(error, ConversionError::OutOfMemory);
        return nullptr;
    }
    *encoder = LzmaEncoder();
    encoder->stream = LZMA_STREAM_INIT;
    encoder->output = output;
    encoder->capacity = capacity;
    encoder->bodyLength = bodyLength;
    encoder->piece = bodyLength / 100 > smallestPiece ? bodyLength / 100 : smallestPiece;
    encoder->progress = progress;
    encoder->error = StartEncoder(&encoder->stream, bodyLength, output + 12);
    if (encoder->error != ConversionError::None) {
        SetError(error, encoder->error);
        AbandonLzmaEncoder(encoder);
        return nullptr;
    }
    memcpy(output, header, movieHeaderSize);
    WriteLe32(output, (ReadLe32(header) & 0xFF000000u) | signatureLzma);
    encoder->stream.next_out = output + lzmaStreamOffset;
    ReportProgress(progress, 0, bodyLength);
    return encoder;
}

ByteSink LzmaEncoderSink(LzmaEncoder* encoder)
{
    ByteSink sink = {EncoderWrite, nullptr, encoder};
    return sink;
}

unsigned char* FinishLzmaEncoder(LzmaEncoder* encoder, uint32_t* size, ConversionError* error)
{
    if (!encoder)
        return nullptr;
    unsigned char* movie = nullptr;
    if (encoder->error == ConversionError::None) {
        encoder->stream.avail_in = 0;
        RunEncoder(encoder, LZMA_FINISH);
    }
    if (encoder->error == ConversionError::None) {
        uint64_t written = (uint64_t)(encoder->stream.next_out - encoder->output);
        WriteLe32(encoder->output + 8, (uint32_t)(written - lzmaStreamOffset));
        ReportProgress(encoder->progress, encoder->bodyLength, encoder->bodyLength);
        movie = (unsigned char*)MemReAlloc(encoder->output, (size_t)written);
        if (!movie)
            movie = encoder->output;
        encoder->output = nullptr;
        *size = (uint32_t)written;
    }
    SetError(error, encoder->error);
    AbandonLzmaEncoder(encoder);
    return movie;
}

void AbandonLzmaEncoder(LzmaEncoder* encoder)
{
    if (!encoder)
        return;
    lzma_end(&encoder->stream);
    MemFree(encoder->output);
    MemFree(encoder);
}

unsigned char* LzmaEncodeMovie(const unsigned char* movie, uint32_t size, uint32_t* outputSize,
                               const Progress* progress, ConversionError* error)
{
    if (size < movieHeaderSize || MovieSignature(ReadLe32(movie)) != signatureUncompressed ||
        ReadLe32(movie + 4) < movieHeaderSize) {
        SetError(error, ConversionError::DamagedMovie);
        return nullptr;
    }
    uint32_t declaredLength = ReadLe32(movie + 4);
    uint32_t bodyLength = Smaller(declaredLength, size) - movieHeaderSize;
    LzmaEncoder* encoder = OpenLzmaEncoder(movie, bodyLength, progress, error);
    if (!encoder)
        return nullptr;
    EncoderWrite(encoder, movie + movieHeaderSize, bodyLength);
    return FinishLzmaEncoder(encoder, outputSize, error);
}
