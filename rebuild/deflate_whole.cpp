// deflate_whole.cpp - libdeflate for whole bodies and for the blocks of the
// parallel deflater, with zlib's inflate finding where a block's final
// deflate block starts.
#include "rebuild/deflate_whole.h"

#include <cstring>
#include <libdeflate.h>
#include <zlib.h>

#include "rebuild/work_memory.h"

namespace {
// The bytes an opened-up piece may grow by: a byte for the header of the
// empty stored block when the final block ended on a byte boundary (or
// two when its 3 bits cross one), and its two lengths.
const size_t joinBytes = 5;
// Where the walking inflater writes; what it writes is only counted.
const size_t walkOutputSize = 256 * 1024;

// libdeflate's states come from the workers' memory, like zlib's, so that
// running out of it fails a conversion the same way. Installed once,
// before the first state exists, as libdeflate asks.
void UseWorkMemory()
{
    static const bool installed = (libdeflate_set_memory_allocator(AllocateWork, FreeWork), true);
    (void)installed;
}

int ClampLevel(int level)
{
    return level < 1 ? deflateLevelDefault : level > 12 ? 12 : level;
}

voidpf ZlibAlloc(voidpf, uInt items, uInt size)
{
    return AllocateWork((size_t)items * size);
}

void ZlibFree(voidpf, voidpf block)
{
    FreeWork(block);
}
}  // namespace

struct PieceDeflater {
    libdeflate_compressor* compressor;
    z_stream walker;  // raw inflate, once walkerReady
    bool walkerReady;
    unsigned char* walkOutput;
};

namespace {
// Finds, by inflating the raw deflate stream at `stream` (`length` bytes)
// a deflate block at a time, the bit where its final block's header
// starts and the bit where that block ends. CompressorFailed unless the
// stream ends with its final block exactly at its last byte and yields
// `expected` bytes.
DeflateStatus WalkBlocks(PieceDeflater* deflater, const unsigned char* stream, size_t length,
                         size_t expected, uint64_t* finalHeader, uint64_t* end)
{
    z_stream* walker = &deflater->walker;
    if (inflateReset(walker) != Z_OK)
        return DeflateStatus::CompressorFailed;
    walker->next_in = (Bytef*)stream;
    walker->avail_in = (uInt)length;
    uint64_t header = 0;  // the first block starts the stream
    for (;;) {
        walker->next_out = deflater->walkOutput;
        walker->avail_out = (uInt)walkOutputSize;
        int status = inflate(walker, Z_BLOCK);
        if (status == Z_MEM_ERROR)
            return DeflateStatus::OutOfMemory;
        if (status != Z_OK)
            return DeflateStatus::CompressorFailed;  // damage, or no progress: not whole
        // Bit 7 of data_type: stopped between two blocks; bit 6: the final
        // block has begun; the low bits: unused bits of the last byte read.
        if (walker->data_type & 128) {
            uint64_t position = (uint64_t)walker->total_in * 8 - (walker->data_type & 63);
            if (walker->data_type & 64) {
                *finalHeader = header;
                *end = position;
                bool whole = (position + 7) / 8 == length && walker->total_out == expected;
                return whole ? DeflateStatus::Done : DeflateStatus::CompressorFailed;
            }
            header = position;
        }
    }
}

// Clears the final bit of the block at bit `finalHeader` of `stream` and
// puts an empty stored block after the end at bit `end`: its 3 header bits
// (0: not final, stored), zeros to the byte boundary, then its lengths 0
// and 0xFFFF. Returns the new length.
size_t OpenUp(unsigned char* stream, uint64_t finalHeader, uint64_t end)
{
    stream[finalHeader / 8] &= (unsigned char)~(1u << (finalHeader % 8));
    size_t used = (size_t)((end + 7) / 8);
    if (end % 8 != 0)
        stream[end / 8] &= (unsigned char)((1u << (end % 8)) - 1);
    size_t aligned = (size_t)((end + 3 + 7) / 8);
    for (size_t i = used; i < aligned; i++)
        stream[i] = 0;
    static const unsigned char lengths[4] = {0x00, 0x00, 0xFF, 0xFF};
    memcpy(stream + aligned, lengths, sizeof lengths);
    return aligned + sizeof lengths;
}
}  // namespace

void ZlibHeader(int level, unsigned char header[2])
{
    // FLEVEL, as libdeflate_zlib_compress sets it; the check bits make
    // the 16-bit header a multiple of 31.
    level = ClampLevel(level);
    unsigned hint = level < 2 ? 0 : level < 6 ? 1 : level < 8 ? 2 : 3;
    unsigned value = 0x7800u | hint << 6;
    value |= 31 - value % 31;
    header[0] = (unsigned char)(value >> 8);
    header[1] = (unsigned char)value;
}

uint32_t FastAdler32(uint32_t adler, const unsigned char* data, size_t length)
{
    return libdeflate_adler32(adler, data, length);
}

size_t WholeDeflatedBound(size_t length)
{
    return libdeflate_zlib_compress_bound(nullptr, length);
}

size_t DeflateWhole(int level, const unsigned char* data, size_t length, unsigned char* output,
                    size_t room)
{
    UseWorkMemory();
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(ClampLevel(level));
    if (!compressor)
        return 0;
    size_t written = libdeflate_zlib_compress(compressor, data, length, output, room);
    libdeflate_free_compressor(compressor);
    return written;
}

bool InflateWhole(const unsigned char* stream, size_t length, unsigned char* output, size_t room,
                  size_t* consumed, size_t* produced)
{
    UseWorkMemory();
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    if (!decompressor)
        return false;
    libdeflate_result result = libdeflate_zlib_decompress_ex(decompressor, stream, length, output,
                                                             room, consumed, produced);
    libdeflate_free_decompressor(decompressor);
    return result == LIBDEFLATE_SUCCESS;
}

PieceDeflater* NewPieceDeflater(int level)
{
    UseWorkMemory();
    PieceDeflater* deflater = (PieceDeflater*)AllocateWork(sizeof(PieceDeflater));
    if (!deflater)
        return nullptr;
    memset(deflater, 0, sizeof *deflater);
    deflater->walker.zalloc = ZlibAlloc;
    deflater->walker.zfree = ZlibFree;
    deflater->compressor = libdeflate_alloc_compressor(ClampLevel(level));
    deflater->walkOutput = (unsigned char*)AllocateWork(walkOutputSize);
    deflater->walkerReady = inflateInit2(&deflater->walker, -MAX_WBITS) == Z_OK;
    if (!deflater->compressor || !deflater->walkOutput || !deflater->walkerReady) {
        FreePieceDeflater(deflater);
        return nullptr;
    }
    return deflater;
}

void FreePieceDeflater(PieceDeflater* deflater)
{
    if (!deflater)
        return;
    libdeflate_free_compressor(deflater->compressor);
    if (deflater->walkerReady)
        inflateEnd(&deflater->walker);
    FreeWork(deflater->walkOutput);
    FreeWork(deflater);
}

size_t PieceBound(size_t length)
{
    return libdeflate_deflate_compress_bound(nullptr, length) + joinBytes;
}

DeflateStatus DeflatePiece(PieceDeflater* deflater, const unsigned char* data, size_t length,
                           bool last, unsigned char* output, size_t room, size_t* written)
{
    *written = room < joinBytes ? 0
                                : libdeflate_deflate_compress(deflater->compressor, data, length,
                                                              output, room - joinBytes);
    if (*written == 0)
        return DeflateStatus::CompressorFailed;
    if (last)
        return DeflateStatus::Done;
    uint64_t finalHeader = 0, end = 0;
    DeflateStatus status = WalkBlocks(deflater, output, *written, length, &finalHeader, &end);
    if (status == DeflateStatus::Done)
        *written = OpenUp(output, finalHeader, end);
    return status;
}
