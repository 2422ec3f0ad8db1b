// codecs.cpp - zlib inflate and deflate of movie bodies. The library
// writes straight into the output buffer, one piece at a time, and each
// piece is handed to the sink, which moves the progress bar.
#include "codecs.h"

#include <cstring>
#include <zlib.h>

#include "../common/bytes.h"
#include "../movie/movie_file.h"

namespace {
// Output is produced in pieces, and the bar moves once a piece: about one
// piece a percent, and never less than this. Larger pieces spare zlib the
// copy of its window that ends every call.
const uint32_t smallestPiece = 64 * 1024;
// Stored blocks of the deflate stream stay within CompressionBound for
// any input only with zlib's larger symbol buffer (memory level 9).
const int deflateMemoryLevel = 9;

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

uint32_t PieceSize(const ProgressSink* sink)
{
    uint32_t percent = sink->capacity / 100;
    return percent > smallestPiece ? percent : smallestPiece;
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
}  // namespace

uint32_t ProgressPosition(uint32_t done, uint32_t capacity)
{
    if (capacity <= 99)
        return 0;
    return done / (capacity / 100);
}

int SinkWrite(const unsigned char* data, int length, ProgressSink* sink)
{
    uint32_t accepted = Smaller((uint32_t)length, sink->capacity - sink->done);
    sink->done += accepted;
    if (sink->capacity > 99)
        SetProgressPosition(sink->progressBar, ProgressPosition(sink->done, sink->capacity));
    if (data != sink->cursor && accepted != 0)
        memcpy(sink->cursor, data, accepted);
    sink->cursor += accepted;
    return sink->done < sink->capacity ? 1 : 0;
}

uint32_t CompressionBound(uint32_t bodyLength)
{
    uint32_t scaled = bodyLength * 110u / 100u + 128u;  // wraps from 39,045,158 on
    uint64_t blocks = (uint64_t)bodyLength + 5u * (bodyLength / 31744u) + 133u;
    uint64_t bound = scaled > blocks ? scaled : blocks;
    const uint64_t largest = 0xFFFFFFFFu - movieHeaderSize;
    return (uint32_t)(bound < largest ? bound : largest);
}

// Inflates the zlib stream `input` into the sink. Output beyond the sink's
// capacity is inflated into `scratch` and dropped, so that the whole
// stream is still checked. True when the stream ended with a valid
// checksum.
static bool InflateInto(ProgressSink* sink, const unsigned char* input, uint32_t inputLength,
                        ConversionError* error)
{
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK) {
        SetError(error, ConversionError::OutOfMemory);
        return false;
    }
    unsigned char* scratch = nullptr;
    uint32_t pieceSize = PieceSize(sink);
    stream.next_in = (Bytef*)input;
    stream.avail_in = inputLength;
    int status = Z_OK;
    while (status == Z_OK) {
        uint32_t room = sink->capacity - sink->done;
        if (room != 0) {
            stream.next_out = sink->cursor;
            stream.avail_out = Smaller(room, pieceSize);
        } else {
            if (!scratch && !(scratch = (unsigned char*)MemAlloc(smallestPiece))) {
                status = Z_MEM_ERROR;
                break;
            }
            stream.next_out = scratch;
            stream.avail_out = smallestPiece;
        }
        unsigned char* start = stream.next_out;
        status = inflate(&stream, Z_NO_FLUSH);
        uint32_t produced = (uint32_t)(stream.next_out - start);
        if (room != 0 && produced != 0)
            SinkWrite(start, (int)produced, sink);
    }
    inflateEnd(&stream);
    MemFree(scratch);
    if (status == Z_STREAM_END)
        return true;
    // Z_BUF_ERROR: the input ended before the stream did.
    SetError(error, status == Z_MEM_ERROR ? ConversionError::OutOfMemory
                                          : ConversionError::DamagedMovie);
    return false;
}

unsigned char* DecompressMovie(WindowHandle progressBar, unsigned char* buffer, uint32_t* size,
                               ConversionError* error)
{
    SetError(error, ConversionError::None);
    if (*size <= movieHeaderSize || MovieSignature(ReadLe32(buffer)) != signatureZlib)
        return buffer;
    uint32_t declaredLength = ReadLe32(buffer + 4);
    unsigned char* output = nullptr;
    if (declaredLength < movieHeaderSize)
        SetError(error, ConversionError::DamagedMovie);
    else if (!(output = (unsigned char*)MemAlloc(declaredLength)))
        SetError(error, ConversionError::OutOfMemory);
    if (output) {
        ProgressSink sink = {progressBar, 0, declaredLength - movieHeaderSize,
                             output + movieHeaderSize};
        if (InflateInto(&sink, buffer + movieHeaderSize, *size - movieHeaderSize, error)) {
            WriteHeader(output, buffer, signatureUncompressed, declaredLength);
            *size = declaredLength;
        } else {
            MemFree(output);
            output = nullptr;
        }
    }
    MemFree(buffer);
    return output;
}

// Deflates `input` into the sink as one zlib stream. True when the whole
// stream fitted.
static bool DeflateInto(ProgressSink* sink, const unsigned char* input, uint32_t inputLength,
                        ConversionError* error)
{
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (deflateInit2(&stream, 9, Z_DEFLATED, MAX_WBITS, deflateMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        SetError(error, ConversionError::OutOfMemory);
        return false;
    }
    stream.next_in = (Bytef*)input;
    stream.avail_in = inputLength;
    uint32_t pieceSize = PieceSize(sink);
    int status = Z_OK;
    while (status == Z_OK && sink->done < sink->capacity) {
        stream.next_out = sink->cursor;
        stream.avail_out = Smaller(sink->capacity - sink->done, pieceSize);
        unsigned char* start = stream.next_out;
        status = deflate(&stream, Z_FINISH);
        uint32_t produced = (uint32_t)(stream.next_out - start);
        if (produced != 0)
            SinkWrite(start, (int)produced, sink);
    }
    deflateEnd(&stream);
    if (status == Z_STREAM_END)
        return true;
    SetError(error, ConversionError::CompressorFailed);
    return false;
}

unsigned char* CompressMovie(WindowHandle progressBar, unsigned char* buffer, uint32_t* size,
                             ConversionError* error)
{
    SetError(error, ConversionError::None);
    if (*size <= movieHeaderSize || MovieSignature(ReadLe32(buffer)) != signatureUncompressed)
        return buffer;
    uint32_t declaredLength = ReadLe32(buffer + 4);
    if (declaredLength <= movieHeaderSize)
        return buffer;
    // Never read past the buffer: a truncated movie has only the body
    // bytes it holds compressed.
    uint32_t bodyLength = Smaller(declaredLength, *size) - movieHeaderSize;
    uint32_t capacity = CompressionBound(bodyLength);
    unsigned char* output = (unsigned char*)MemAlloc((size_t)capacity + movieHeaderSize);
    if (!output) {
        SetError(error, ConversionError::OutOfMemory);
        MemFree(buffer);
        return nullptr;
    }
    ProgressSink sink = {progressBar, 0, capacity, output + movieHeaderSize};
    if (DeflateInto(&sink, buffer + movieHeaderSize, bodyLength, error)) {
        WriteHeader(output, buffer, signatureZlib, declaredLength);
        *size = sink.done + movieHeaderSize;
    } else {
        MemFree(output);
        output = nullptr;
    }
    MemFree(buffer);
    return output;
}
