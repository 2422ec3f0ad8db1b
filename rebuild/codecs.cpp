// codecs.cpp - the in-memory conversions: the decode driver and the
// deflater writing into a buffer that grows with the output.
#include "rebuild/codecs.h"

#include <cstring>

#include "common/byte_buffer.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/parallel_deflate.h"

namespace {
// A deflate stream expands its input at most about 1,032 times; a little
// more leaves room for the stream's own header and final block.
const uint64_t largestExpansion = 1040;
const uint64_t firstRoom = 64 * 1024;

unsigned char* GrowingRoom(void* context, size_t* length)
{
    ByteBuffer* growing = (ByteBuffer*)context;
    if (!ReserveBytes(growing, growing->used + 1))
        return nullptr;
    uint64_t room = growing->capacity - growing->used;
    if (room < *length)
        *length = (size_t)room;
    return growing->data + growing->used;
}

bool GrowingWrite(void* context, const unsigned char* data, size_t length)
{
    return AppendBytes((ByteBuffer*)context, data, length);
}

void SetFailure(Failure* failure, FailureKind kind)
{
    if (failure)
        *failure = FailureOf(kind);
}

// Replaces the signature of a movie header, keeping its version byte.
void WriteHeader(unsigned char* output, const unsigned char* input, uint32_t signature,
                 uint32_t declaredLength)
{
    WriteLe32(output, (ReadLe32(input) & 0xFF000000u) | signature);
    WriteLe32(output + 4, declaredLength);
}

// A decode into memory stops only when memory runs out.
FailureKind KindOfDecode(const Failure& decoded)
{
    return decoded.kind == FailureKind::DamagedMovie ? FailureKind::DamagedMovie
                                                     : FailureKind::OutOfMemory;
}

FailureKind KindOfDeflate(DeflateStatus status)
{
    switch (status) {
    case DeflateStatus::OutOfMemory: return FailureKind::OutOfMemory;
    case DeflateStatus::ThreadFailed: return FailureKind::ThreadFailed;
    default: return FailureKind::ConversionFailed;  // the output sink is this file's own
    }
}

// The result of a conversion: the output, or null with `buffer` freed.
unsigned char* Finish(unsigned char* buffer, ByteBuffer* output, uint32_t* size)
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
                               Failure* failure)
{
    SetFailure(failure, FailureKind::None);
    if (*size <= movieHeaderSize || !FindBodyDecoder(MovieSignature(ReadLe32(buffer))))
        return buffer;
    uint32_t declaredLength = ReadLe32(buffer + 4);
    uint64_t yield = (uint64_t)(*size - movieHeaderSize) * largestExpansion + firstRoom;
    ByteBuffer output = {nullptr, movieHeaderSize, 0, declaredLength};
    if (declaredLength >= movieHeaderSize &&
        !ReserveBytes(&output, yield < declaredLength ? yield : declaredLength)) {
        SetFailure(failure, FailureKind::OutOfMemory);
        return Finish(buffer, &output, size);
    }
    ByteSink sink = {GrowingWrite, GrowingRoom, &output};
    Failure decoded = DecodeMovieBody(buffer, *size, &sink, progress, nullptr);
    if (!Failed(decoded)) {
        WriteHeader(output.data, buffer, signatureUncompressed, declaredLength);
    } else {
        SetFailure(failure, KindOfDecode(decoded));
        MemFree(output.data);
        output.data = nullptr;
    }
    return Finish(buffer, &output, size);
}

unsigned char* CompressMovie(const Progress* progress, unsigned char* buffer, uint32_t* size,
                             Failure* failure, unsigned threads, int level)
{
    SetFailure(failure, FailureKind::None);
    if (*size <= movieHeaderSize || MovieSignature(ReadLe32(buffer)) != signatureUncompressed)
        return buffer;
    uint32_t declaredLength = ReadLe32(buffer + 4);
    if (declaredLength <= movieHeaderSize)
        return buffer;
    // Never read past the buffer: a truncated movie has only the body
    // bytes it holds compressed.
    uint32_t bodyLength = (declaredLength < *size ? declaredLength : *size) - movieHeaderSize;
    uint64_t bound = movieHeaderSize + CompressionBound(bodyLength);
    ByteBuffer output = {nullptr, movieHeaderSize, 0, 0xFFFFFFFFu};
    if (!ReserveBytes(&output, bound < output.limit ? bound : output.limit)) {
        SetFailure(failure, FailureKind::OutOfMemory);
        return Finish(buffer, &output, size);
    }
    // The room lets a whole body be deflated straight into the output.
    ByteSink sink = {GrowingWrite, GrowingRoom, &output};
    DeflateStatus status = DeflateBody(buffer + movieHeaderSize, bodyLength, threads, &sink,
                                       progress, nullptr, level);
    if (status == DeflateStatus::Done) {
        WriteHeader(output.data, buffer, signatureZlib, declaredLength);
    } else {
        SetFailure(failure, KindOfDeflate(status));
        MemFree(output.data);
        output.data = nullptr;
    }
    return Finish(buffer, &output, size);
}
