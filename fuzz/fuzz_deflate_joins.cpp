// deflate_joins.cpp - fuzz target: the blocks of the parallel deflater,
// each deflated by libdeflate on its own and opened up to be followed by
// the next, must make one zlib stream that zlib's inflate and libdeflate
// both read back as the input, checksum included, to its last byte. The
// first byte picks the level, the next two the lengths the blocks
// alternate between (1 byte to 33 KiB, across a window's reach); the rest
// is the body.
#include <cstring>
#include <vector>
#include <zlib.h>

#include "rebuild/deflate_whole.h"
#include "fuzz_support.h"

namespace {
// Deflates `body` in blocks of the two lengths in turn into one stream.
std::vector<unsigned char> DeflateInBlocks(int level, const std::vector<size_t>& lengths,
                                           const unsigned char* body, size_t length)
{
    std::vector<unsigned char> stream(2);
    ZlibHeader(level, stream.data());
    PieceDeflater* deflater = NewPieceDeflater(level);
    FUZZ_CHECK(deflater != nullptr);
    size_t at = 0;
    for (size_t i = 0; at < length || i == 0; i++) {
        size_t piece = length - at < lengths[i % 2] ? length - at : lengths[i % 2];
        bool last = at + piece == length;
        size_t start = stream.size(), written = 0;
        stream.resize(start + PieceBound(piece));
        FUZZ_CHECK(DeflatePiece(deflater, body + at, piece, last, stream.data() + start,
                                PieceBound(piece), &written) == DeflateStatus::Done);
        stream.resize(start + written);
        at += piece;
    }
    FreePieceDeflater(deflater);
    uLong adler = adler32(1, body, (uInt)length);
    for (int shift = 24; shift >= 0; shift -= 8)
        stream.push_back((unsigned char)(adler >> shift));
    return stream;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    int level = data[0] % 12 + 1;
    std::vector<size_t> lengths = {1 + (size_t)data[1] * 67, 1 + (size_t)data[2] * 131};
    const unsigned char* body = data + 3;
    size_t length = size - 3;
    std::vector<unsigned char> stream = DeflateInBlocks(level, lengths, body, length);

    std::vector<unsigned char> decoded(length + 1);
    uLongf decodedLength = (uLongf)decoded.size();
    uLong used = (uLong)stream.size();
    FUZZ_CHECK(uncompress2(decoded.data(), &decodedLength, stream.data(), &used) == Z_OK);
    FUZZ_CHECK(used == stream.size() && decodedLength == length);
    FUZZ_CHECK(memcmp(decoded.data(), body, length) == 0);

    size_t consumed = 0, produced = 0;
    FUZZ_CHECK(InflateWhole(stream.data(), stream.size(), decoded.data(), decoded.size(),
                            &consumed, &produced));
    FUZZ_CHECK(consumed == stream.size() && produced == length);
    FUZZ_CHECK(memcmp(decoded.data(), body, length) == 0);
    return 0;
}
