// codec_tests.cpp - inflating and deflating movies in memory: header
// rewriting, the declared-length rule, damaged streams, the output bound
// and the progress rule.
#include <gtest/gtest.h>

#include <zlib.h>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "test_support.h"

namespace {

typedef unsigned char* (*Codec)(WindowHandle, unsigned char*, uint32_t*, ConversionError*);

// Runs a codec on a copy of `movie`; `*same` tells whether the buffer
// came back untouched.
Bytes Convert(Codec codec, const Bytes& movie, bool* same = nullptr,
          ConversionError* error = nullptr, WindowHandle bar = nullptr)
{
    unsigned char* block = ToBlock(movie);
    uint32_t size = (uint32_t)movie.size();
    unsigned char* result = codec(bar, block, &size, error);
    if (same)
        *same = result == block;
    Bytes bytes = FromBlock(result, size);
    if (!result)
        bytes.clear();
    MemFree(result);
    return bytes;
}

TEST(Codecs, PassThroughWhatTheyDoNotConvert)
{
    struct Case {
        Codec codec;
        Bytes movie;
    } cases[] = {
        {DecompressMovie, MakeUncompressedMovie(10, 100)},
        {DecompressMovie, MakeMovie("ZWS", 13, 500, PatternBytes(50, 1, false))},
        {DecompressMovie, MakeMovie("CWS", 10, 500, Bytes())},  // exactly 8 bytes
        {DecompressMovie, MakeMovie("cws", 10, 108, ZlibStream(Bytes(100, 1)))},
        {CompressMovie, MakeCompressedMovie(10, Bytes(100, 1))},
        {CompressMovie, MakeMovie("ZWS", 13, 500, PatternBytes(50, 1, false))},
        {CompressMovie, MakeMovie("FWS", 10, 500, Bytes())},
        {CompressMovie, MakeMovie("FWS", 10, 8, Bytes(20, 1))},  // declares no body
        {CompressMovie, MakeMovie("FWS", 10, 3, Bytes(20, 1))},
    };
    for (const Case& test : cases) {
        bool same = false;
        ConversionError error = ConversionError::DamagedMovie;
        EXPECT_EQ(test.movie, Convert(test.codec, test.movie, &same, &error));
        EXPECT_TRUE(same);
        EXPECT_EQ(ConversionError::None, error);
    }
}

TEST(Codecs, RoundTripKeepsVersionAndDeclaredLength)
{
    Bytes movie = MakeMovie("FWS", 10, 5000, PatternBytes(4992, 4, true));
    bool same = true;
    Bytes compressed = Convert(CompressMovie, movie, &same);
    EXPECT_FALSE(same);
    ASSERT_GT(compressed.size(), 8u);
    EXPECT_EQ(0x0A535743u, ReadLe32(compressed.data()));
    EXPECT_EQ(5000u, ReadLe32(compressed.data() + 4));
    EXPECT_LT(compressed.size(), movie.size() / 4);

    // The body is a plain zlib stream of the uncompressed body.
    Bytes body(4992);
    uLongf bodyLength = (uLongf)body.size();
    ASSERT_EQ(Z_OK, uncompress(body.data(), &bodyLength, compressed.data() + 8,
                               (uLong)compressed.size() - 8));
    EXPECT_EQ(Bytes(movie.begin() + 8, movie.end()), body);

    EXPECT_EQ(movie, Convert(DecompressMovie, compressed));
}

TEST(Codecs, IncompressibleBodiesStayWithinTheBound)
{
    const uint32_t lengths[] = {1, 1000, 4u << 20};
    for (uint32_t length : lengths) {
        Bytes movie = MakeMovie("FWS", 20, length + 8, PatternBytes(length, length, false));
        ConversionError error = ConversionError::None;
        Bytes compressed = Convert(CompressMovie, movie, nullptr, &error);
        ASSERT_EQ(ConversionError::None, error) << length;
        EXPECT_LE(compressed.size(), 8u + length + 5 * (length / 31744) + 133) << length;
        EXPECT_EQ(movie, Convert(DecompressMovie, compressed)) << length;
    }
}

TEST(Codecs, CompressionBound)
{
    const struct {
        uint32_t bodyLength, bound;
    } cases[] = {
        {1, 134},           {5000 - 8, 5619},         {100000, 110128},
        {1000000, 1100128}, {39045157, 42949800},     {39045158, 39051441},
        {0xFFFFFFF7, 0xFFFFFFF7},  // capped so that the header still fits
    };
    for (const auto& test : cases)
        EXPECT_EQ(test.bound, CompressionBound(test.bodyLength)) << test.bodyLength;
}

// A stream that ends cleanly at another length than the header declares
// gives exactly the declared length: cut, or padded with zeros.
TEST(DecompressMovie, DeclaredLengthDecides)
{
    Bytes body = PatternBytes(6000, 6, true);
    Bytes shortStream = MakeMovie("CWS", 9, 10000, ZlibStream(body));
    Bytes expected = Concat(MakeMovie("FWS", 9, 10000, body), Bytes(3992, 0));
    EXPECT_EQ(expected, Convert(DecompressMovie, shortStream));

    Bytes longStream = MakeMovie("CWS", 9, 1008, ZlibStream(body));
    EXPECT_EQ(MakeMovie("FWS", 9, 1008, Bytes(body.begin(), body.begin() + 1000)),
              Convert(DecompressMovie, longStream));

    Bytes exact = MakeMovie("CWS", 9, 6008, ZlibStream(body));
    EXPECT_EQ(MakeMovie("FWS", 9, 6008, body), Convert(DecompressMovie, exact));

    Bytes headerOnly = MakeMovie("CWS", 9, 8, ZlibStream(body));
    EXPECT_EQ(MakeMovie("FWS", 9, 8, Bytes()), Convert(DecompressMovie, headerOnly));

    Bytes trailing = Concat(exact, Bytes(16, 0xEE));
    EXPECT_EQ(MakeMovie("FWS", 9, 6008, body), Convert(DecompressMovie, trailing));
}

TEST(DecompressMovie, DamagedStreamsFail)
{
    Bytes body = PatternBytes(20000, 7, true);
    Bytes good = MakeCompressedMovie(12, body);

    Bytes badChecksum = good;
    badChecksum.back() ^= 1;
    Bytes truncated(good.begin(), good.end() - 10);
    Bytes corrupt = good;
    corrupt[good.size() / 2] ^= 0x55;
    corrupt[good.size() / 2 + 1] ^= 0xAA;
    Bytes notZlib = MakeMovie("CWS", 12, 20008, PatternBytes(500, 8, false));
    Bytes declaresTooLittle = MakeMovie("CWS", 12, 7, ZlibStream(body));
    // A stream cut at the declared length must still be checked to its end.
    Bytes cutAndBroken = MakeMovie("CWS", 12, 108, ZlibStream(body));
    cutAndBroken.back() ^= 1;

    const Bytes* cases[] = {&badChecksum, &truncated, &corrupt, &notZlib, &declaresTooLittle,
                            &cutAndBroken};
    for (const Bytes* movie : cases) {
        ConversionError error = ConversionError::None;
        unsigned char* block = ToBlock(*movie);
        uint32_t size = (uint32_t)movie->size();
        EXPECT_EQ(nullptr, DecompressMovie(nullptr, block, &size, &error));
        EXPECT_EQ(ConversionError::DamagedMovie, error);
        EXPECT_EQ(movie->size(), size);
    }
}

TEST(CompressMovie, BytesBeyondTheDeclaredLengthAreLeftOut)
{
    Bytes movie = Concat(MakeMovie("FWS", 8, 408, PatternBytes(400, 9, true)), Bytes(30, 0xCC));
    Bytes compressed = Convert(CompressMovie, movie);
    EXPECT_EQ(Bytes(movie.begin(), movie.begin() + 408), Convert(DecompressMovie, compressed));
}

TEST(CompressMovie, TruncatedMovieHasTheBytesItHoldsCompressed)
{
    Bytes body = PatternBytes(300, 10, true);
    Bytes movie = MakeMovie("FWS", 8, 1008, body);
    Bytes compressed = Convert(CompressMovie, movie);
    ASSERT_FALSE(compressed.empty());
    EXPECT_EQ(1008u, ReadLe32(compressed.data() + 4));
    EXPECT_EQ(Concat(MakeMovie("FWS", 8, 1008, body), Bytes(700, 0)),
              Convert(DecompressMovie, compressed));
}

TEST(Progress, PositionRule)
{
    EXPECT_EQ(0u, ProgressPosition(50, 99));
    EXPECT_EQ(37u, ProgressPosition(37, 100));
    EXPECT_EQ(100u, ProgressPosition(1000, 1000));
    EXPECT_EQ(55u, ProgressPosition(555, 1000));
    EXPECT_EQ(125u, ProgressPosition(250, 250));
    EXPECT_EQ(199u, ProgressPosition(199, 199));
}

TEST(Progress, SinkStoresWhatFitsAndReportsFullness)
{
    unsigned char output[8 + 4] = {0};
    ProgressSink sink = {nullptr, 0, 4, output + 8};
    const unsigned char piece[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(1, SinkWrite(piece, 3, &sink));
    EXPECT_EQ(0, SinkWrite(piece, 10, &sink));
    EXPECT_EQ(4u, sink.done);
    EXPECT_EQ(output + 12, sink.cursor);
    EXPECT_EQ(Bytes({1, 2, 3, 1}), Bytes(output + 8, output + 12));
    EXPECT_EQ(0, SinkWrite(piece, 5, &sink));
    EXPECT_EQ(4u, sink.done);
}

#ifndef _WIN32
// The front ends' progress display: conversions move it piece by piece.
TEST(Progress, ConversionsMoveTheDisplay)
{
    ProgressDisplay display = {0, 0, nullptr, nullptr};
    Bytes body = PatternBytes(1 << 20, 11, false);
    Bytes movie = MakeCompressedMovie(10, body);
    Bytes result = Convert(DecompressMovie, movie, nullptr, nullptr, &display);
    EXPECT_EQ(MakeMovie("FWS", 10, (1 << 20) + 8, body), result);
    EXPECT_GE(display.updates, 8u);
    EXPECT_EQ(100u, display.position);
}
#endif

}  // namespace
