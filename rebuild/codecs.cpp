// codecs.cpp - the in-memory conversions: the decode driver and the
// deflater writing into a buffer that grows with the output.
#include "codecs.h"

#include <cstring>

#include "../common/bytes.h"
#include "../common/platform.h"
#include "../movie/movie_file.h"
#include "body_decode.h"
#include "parallel_deflate.h"

namespace {
// A deflate stream expands its input at most about 1,032 times; a little
// more leaves room for the stream's own header and final block.
const uint64_t largestExpansion = 1040;
const uint64_t firstRoom = 64 * 1024;

// An output buffer that grows (zero-filled) up to a limit.
struct Growing {
    unsigned char* data;
    uint64_t used;
    uint64_t capacity;
    uint64_t limit;
};

bool Reserve(Growing* growing, uint64_t needed)
{
    if (needed <= growing->capacity)
        return true;
    if (needed > growing->limit)
        return false;
    uint64_t capacity = growing->capacity * 2 > needed ? growing->capacity * 2 : needed;
    if (capacity > growing->limit)
        capacity = growing->limit;
    if (capacity > SIZE_MAX)
        return false;
    unsigned char* grown = (unsigned char*)MemReAlloc(growing->data, (size_t)capacity);
    if (!grown)
        return false;
    growing->data = grown;
    growing->capacity = capacity;
    return true;
}

unsigned char* GrowingRoom(void* context, size_t* length)
{
    Growing* growing = (Growing*)context;
    if (!Reserve(growing, growing->used + 1))
        return nullptr;
    uint64_t room = growing->capacity - growing->used;
    if (room < *length)
        *length = (size_t)room;
    return growing->data + growing->used;
}

bool GrowingWrite(void* context, const unsigned char* data, size_t length)
{
    Growing* growing = (Growing*)context;
    if (!Reserve(growing, growing->used + length))
        return false;
    if (data != growing->data + growing->used)
        memcpy(growing->data + growing->used, data, length);
    growing->used += length;
    return true;
}

void SetError(ConversionError* error, ConversionError value)
{
    if (error)
        *error = value;
}

// Replaces the signature of a movie header, keeping its version byte.
void WriteHeader(unsigned char* output, const unsigned char* input, uint32_t signature,
                 uint32_t declaredLength)
{
    WriteLe32(output, (ReadLe32(input) & 0xFF000000u) | signature);
    WriteLe32(output + 4, declaredLength);
}

ConversionError ErrorOfDecode(DecodeResult result)
{
    return result == DecodeResult::Damaged ? ConversionError::DamagedMovie
                                           : ConversionError::OutOfMemory;
}

ConversionError ErrorOfDeflate(DeflateStatus status)
{
    switch (status) {
    case DeflateStatus::OutOfMemory: return ConversionError::OutOfMemory;
    case DeflateStatus::ThreadFailed: return ConversionError::ThreadFailed;
    default: return ConversionError::CompressorFailed;  // the output sink is this file's own
    }
}

// The result of a conversion: the output, or null with `buffer` freed.
unsigned char* Finish(unsigned char* buffer, Growing* output, uint32_t* size)
{
    MemFree(buffer);
    if (!output->data)
        return nullptr;
    *size = (uint32_t)output->used;
    unsigned char* fitted = (unsigned char*)MemReAlloc(output->data, (size_t)output->used);
    return fitted ? fitted : output->data;
}
}  // namespace

uint64_t CompressionBound(uint64_t bodyLength)
{
    return DeflatedBound(bodyLength);
}

unsigned char* DecompressMovie(const Progress* progress, unsigned char* buffer, uint32_t* size,
                               ConversionError* error)
{
    SetError(error, ConversionError::None);
    if (*size <= movieHeaderSize || !FindBodyDecoder(MovieSignature(ReadLe32(buffer))))
        return buffer;
    uint32_t declaredLength = ReadLe32(buffer + 4);
    uint64_t yield = (uint64_t)(*size - movieHeaderSize) * largestExpansion + firstRoom;
    Growing output = {nullptr, movieHeaderSize, 0, declaredLength};
    if (declaredLength >= movieHeaderSize &&
        !Reserve(&output, yield < declaredLength ? yield : declaredLength)) {
        SetError(error, ConversionError::OutOfMemory);
        return Finish(buffer, &output, size);
    }
    ByteSink sink = {GrowingWrite, GrowingRoom, &output};
    DecodeResult result = DecodeMovieBody(buffer, *size, &sink, progress, nullptr);
    if (result == DecodeResult::Decoded) {
        WriteHeader(output.data, buffer, signatureUncompressed, declaredLength);
    } else {
        SetError(error, ErrorOfDecode(result));
        MemFree(output.data);
        output.data = nullptr;
    }
    return Finish(buffer, &output, size);
}

unsigned char* CompressMovie(const Progress* progress, unsigned char* buffer, uint32_t* size,
                             ConversionError* error, unsigned threads, int level)
{
    SetError(error, ConversionError::None);
    if (*size <= movieHeaderSize || MovieSignature(ReadLe32(buffer)) != signatureUncompressed)
        return buffer;
    uint32_t declaredLength = ReadLe32(buffer + 4);
    if (declaredLength <= movieHeaderSize)
        return buffer;
    // Never read past the buffer: a truncated movie has only the body
    // bytes it holds compressed.
    uint32_t bodyLength = (declaredLength < *size ? declaredLength : *size) - movieHeaderSize;
    uint64_t bound = movieHeaderSize + CompressionBound(bodyLength);
    Growing output = {nullptr, movieHeaderSize, 0, 0xFFFFFFFFu};
    if (!Reserve(&output, bound < output.limit ? bound : output.limit)) {
        SetError(error, ConversionError::OutOfMemory);
        return Finish(buffer, &output, size);
    }
    // The room lets a whole body be deflated straight into the output.
    ByteSink sink = {GrowingWrite, GrowingRoom, &output};
    DeflateStatus status = DeflateBody(buffer + movieHeaderSize, bodyLength, threads, &sink,
                                       progress, nullptr, level);
    if (status == DeflateStatus::Done) {
        WriteHeader(output.data, buffer, signatureZlib, declaredLength);
    } else {
        SetError(error, ErrorOfDeflate(status));
        MemFree(output.data);
        output.data = nullptr;
    }
    return Finish(buffer, &output, size);
}
