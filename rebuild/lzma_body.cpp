// lzma_body.cpp - decoding and encoding the raw LZMA1 bodies of "ZWS"
// movies with liblzma.
#include "lzma_body.h"

#include <cstdlib>
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

const BodyDecoder lzmaBodyDecoder = {signatureLzma, lzmaStreamOffset, LzmaBodyOpen, LzmaBodyStep,
                                     LzmaBodyClose};

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

// Starts the raw LZMA1 encoder of a body of `bodyLength` bytes and writes
// its 5 property bytes to `properties`. False when liblzma refuses.
static bool StartEncoder(lzma_stream* stream, uint32_t bodyLength, unsigned char* properties,
                         ConversionError* error)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, lzmaPreset)) {
        SetError(error, ConversionError::CompressorFailed);
        return false;
    }
    uint32_t needed = bodyLength > LZMA_DICT_SIZE_MIN ? bodyLength : LZMA_DICT_SIZE_MIN;
    options.dict_size = Smaller(options.dict_size, needed);
    // The LZMA1 encoder always writes the end marker: decoders that trust
    // neither length field still find the end of the stream.
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_encode(&filters[0], properties) != LZMA_OK) {
        SetError(error, ConversionError::CompressorFailed);
        return false;
    }
    lzma_ret status = lzma_raw_encoder(stream, filters);
    if (status == LZMA_OK)
        return true;
    SetError(error, status == LZMA_MEM_ERROR ? ConversionError::OutOfMemory
                                             : ConversionError::CompressorFailed);
    return false;
}

// Grows `*output` (of `*capacity` bytes) by about half, within 32 bits.
static bool GrowOutput(unsigned char** output, uint32_t* capacity, ConversionError* error)
{
    uint64_t larger = (uint64_t)*capacity + *capacity / 2 + smallestPiece;
    if (larger > 0xFFFFFFFFu)
        larger = 0xFFFFFFFFu;
    if (larger == *capacity) {
        SetError(error, ConversionError::CompressorFailed);
        return false;
    }
    unsigned char* grown = (unsigned char*)MemReAlloc(*output, (size_t)larger);
    if (!grown) {
        SetError(error, ConversionError::OutOfMemory);
        return false;
    }
    *output = grown;
    *capacity = (uint32_t)larger;
    return true;
}

// Compresses `body` into `*output` from byte 17 on, growing it as needed.
// Returns the output's size, or 0 on failure (`*output` is still the
// caller's to free).
static uint32_t EncodeBody(lzma_stream* stream, const unsigned char* body, uint32_t bodyLength,
                           unsigned char** output, uint32_t* capacity,
                           LzmaEncodeProgress progress, void* context, ConversionError* error)
{
    uint32_t piece = bodyLength / 100 > smallestPiece ? bodyLength / 100 : smallestPiece;
    uint32_t given = 0;
    uint32_t written = lzmaStreamOffset;
    lzma_ret status = LZMA_OK;
    while (status == LZMA_OK) {
        if (stream->avail_in == 0 && given < bodyLength) {
            if (progress && given != 0)
                progress(context, given, bodyLength);
            stream->next_in = body + given;
            stream->avail_in = Smaller(piece, bodyLength - given);
            given += (uint32_t)stream->avail_in;
        }
        if (written == *capacity && !GrowOutput(output, capacity, error))
            return 0;
        stream->next_out = *output + written;
        stream->avail_out = *capacity - written;
        bool last = given == bodyLength && stream->avail_in == 0;
        status = lzma_code(stream, last ? LZMA_FINISH : LZMA_RUN);
        written = (uint32_t)(stream->next_out - *output);
    }
    if (status != LZMA_STREAM_END) {
        SetError(error, status == LZMA_MEM_ERROR ? ConversionError::OutOfMemory
                                                 : ConversionError::CompressorFailed);
        return 0;
    }
    if (progress)
        progress(context, bodyLength, bodyLength);
    return written;
}

unsigned char* LzmaEncodeMovie(const unsigned char* movie, uint32_t size, uint32_t* outputSize,
                               LzmaEncodeProgress progress, void* context, ConversionError* error)
{
    SetError(error, ConversionError::None);
    if (size < movieHeaderSize || MovieSignature(ReadLe32(movie)) != signatureUncompressed ||
        ReadLe32(movie + 4) < movieHeaderSize) {
        SetError(error, ConversionError::DamagedMovie);
        return nullptr;
    }
    uint32_t declaredLength = ReadLe32(movie + 4);
    uint32_t bodyLength = Smaller(declaredLength, size) - movieHeaderSize;
    // Room for a well-compressible body at first; grown as the output needs.
    uint32_t capacity = lzmaStreamOffset + bodyLength / 4 + smallestPiece;
    unsigned char* output = (unsigned char*)MemAlloc(capacity);
    if (!output) {
        SetError(error, ConversionError::OutOfMemory);
        return nullptr;
    }
    lzma_stream stream = LZMA_STREAM_INIT;
    uint32_t written = 0;
    if (StartEncoder(&stream, bodyLength, output + 12, error))
        written = EncodeBody(&stream, movie + movieHeaderSize, bodyLength, &output, &capacity,
                             progress, context, error);
    lzma_end(&stream);
    if (written == 0) {
        MemFree(output);
        return nullptr;
    }
    WriteLe32(output, (ReadLe32(movie) & 0xFF000000u) | signatureLzma);
    WriteLe32(output + 4, declaredLength);
    WriteLe32(output + 8, written - lzmaStreamOffset);
    *outputSize = written;
    return output;
}
