// codec_tests.cpp - inflating and deflating movies: header rewriting, the
// declared-length rule, damage reports, parallel deflate against an
// independent inflater, the output bound and progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <zlib.h>

#include "failing_work_memory.h"
#include "rebuild/body_decode.h"
#include "rebuild/lzma_body.h"
#include "rebuild/parallel_deflate.h"

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "test_support.h"

namespace {

typedef unsigned char* (*Codec)(const Progress*, unsigned char*, uint32_t*, Failure*);

unsigned char* Compress(const Progress* progress, unsigned char* buffer, uint32_t* size,
                        Failure* error)
{
    return CompressMovie(progress, buffer, size, error);
}

// Runs a codec on a copy of `movie`; `*same` tells whether the buffer
// came back untouched.
Bytes Convert(Codec codec, const Bytes& movie, bool* same = nullptr,
              Failure* error = nullptr, const Progress* progress = nullptr)
{
    unsigned char* block = ToBlock(movie);
    uint32_t size = (uint32_t)movie.size();
    unsigned char* result = codec(progress, block, &size, error);
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
        {DecompressMovie, MakeMovie("CWS", 10, 500, Bytes())},  // exactly 8 bytes
        {DecompressMovie, MakeMovie("cws", 10, 108, ZlibStream(Bytes(100, 1)))},
        {Compress, MakeCompressedMovie(10, Bytes(100, 1))},
        {Compress, MakeMovie("ZWS", 13, 500, PatternBytes(50, 1, false))},
        {Compress, MakeMovie("FWS", 10, 500, Bytes())},
        {Compress, MakeMovie("FWS", 10, 8, Bytes(20, 1))},  // declares no body
        {Compress, MakeMovie("FWS", 10, 3, Bytes(20, 1))},
    };
    for (const Case& test : cases) {
        bool same = false;
        Failure error = FailureOf(FailureKind::DamagedMovie);
        EXPECT_EQ(test.movie, Convert(test.codec, test.movie, &same, &error));
        EXPECT_TRUE(same);
        EXPECT_EQ(FailureKind::None, error.kind);
    }
}

TEST(Codecs, RoundTripKeepsVersionAndDeclaredLength)
{
    Bytes movie = MakeMovie("FWS", 10, 5000, PatternBytes(4992, 4, true));
    bool same = true;
    Bytes compressed = Convert(Compress, movie, &same);
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
        Failure error = FailureOf(FailureKind::None);
        Bytes compressed = Convert(Compress, movie, nullptr, &error);
        ASSERT_EQ(FailureKind::None, error.kind) << length;
        EXPECT_LE(compressed.size(), 8u + CompressionBound(length)) << length;
        EXPECT_EQ(movie, Convert(DecompressMovie, compressed)) << length;
    }
}

// The bound holds for the worst input at every size the format allows,
// without wrapping: zlib's own bound for one stream, and per block the
// flush marker that ends it.
TEST(Codecs, CompressionBoundHoldsUpTo4GiB)
{
    const uint64_t lengths[] = {0, 1, deflateBlockSize - 1, deflateBlockSize,
                                deflateBlockSize + 1, 39045158, 0xFFFFFFF7u, 0xFFFFFFFFu};
    uint64_t previous = 0;
    for (uint64_t length : lengths) {
        uint64_t bound = CompressionBound(length);
        uint64_t blocks = length / deflateBlockSize + 1;
        EXPECT_GE(bound, compressBound((uLong)length) + blocks * 5) << length;
        EXPECT_GT(bound, previous) << length;
        previous = bound;
    }
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
        Failure error = FailureOf(FailureKind::None);
        unsigned char* block = ToBlock(*movie);
        uint32_t size = (uint32_t)movie->size();
        EXPECT_EQ(nullptr, DecompressMovie(nullptr, block, &size, &error));
        EXPECT_EQ(FailureKind::DamagedMovie, error.kind);
        EXPECT_EQ(movie->size(), size);
    }
}

TEST(CompressMovie, BytesBeyondTheDeclaredLengthAreLeftOut)
{
    Bytes movie = Concat(MakeMovie("FWS", 8, 408, PatternBytes(400, 9, true)), Bytes(30, 0xCC));
    Bytes compressed = Convert(Compress, movie);
    EXPECT_EQ(Bytes(movie.begin(), movie.begin() + 408), Convert(DecompressMovie, compressed));
}

TEST(CompressMovie, TruncatedMovieHasTheBytesItHoldsCompressed)
{
    Bytes body = PatternBytes(300, 10, true);
    Bytes movie = MakeMovie("FWS", 8, 1008, body);
    Bytes compressed = Convert(Compress, movie);
    ASSERT_FALSE(compressed.empty());
    EXPECT_EQ(1008u, ReadLe32(compressed.data() + 4));
    EXPECT_EQ(Concat(MakeMovie("FWS", 8, 1008, body), Bytes(700, 0)),
              Convert(DecompressMovie, compressed));
}

// Bodies around the block boundaries, deflated with 1 to 3 workers: one
// zlib stream that an independent inflater reads back, and the same bytes
// whatever the number of workers.
TEST(ParallelDeflate, BlockBoundariesRoundTripThroughUncompress)
{
    const uint32_t block = (uint32_t)deflateBlockSize;
    const uint32_t lengths[] = {0, 1, block - 1, block, block + 1, 5 * block + 7};
    for (uint32_t length : lengths) {
        for (bool compressible : {true, false}) {
            Bytes body = PatternBytes(length, length + 3, compressible);
            Bytes first;
            for (unsigned threads = 1; threads <= 3; threads++) {
                SCOPED_TRACE(testing::Message() << length << " bytes, " << threads << " threads");
                Bytes stream;
                ByteSink sink = {[](void* context, const unsigned char* data, size_t count) {
                                     Bytes* bytes = (Bytes*)context;
                                     bytes->insert(bytes->end(), data, data + count);
                                     return true;
                                 },
                                 nullptr, &stream};
                uint64_t written = 0;
                ASSERT_EQ(DeflateStatus::Done,
                          DeflateBody(body.data(), length, threads, &sink, nullptr, &written));
                EXPECT_EQ(stream.size(), written);
                EXPECT_LE(written, CompressionBound(length));
                Bytes decoded(length + 1, 0xA5);  // garbage shows a missed byte
                uLongf decodedLength = (uLongf)decoded.size();
                ASSERT_EQ(Z_OK, uncompress(decoded.data(), &decodedLength, stream.data(),
                                           (uLong)stream.size()));
                decoded.resize(decodedLength);
                EXPECT_EQ(body, decoded);
                if (threads == 1)
                    first = stream;
                EXPECT_EQ(first, stream);
            }
        }
    }
}

// A worker that runs out of memory fails the whole conversion.
TEST(ParallelDeflate, FailingWorkerFailsTheConversion)
{
    Bytes movie = MakeMovie("FWS", 10, 0, PatternBytes(4 * (uint32_t)deflateBlockSize, 12, true));
    WriteLe32(movie.data() + 4, (uint32_t)movie.size());
    for (long allowed : {0L, 3L, 6L}) {
        workAllocationsLeft = allowed;
        Failure error = FailureOf(FailureKind::None);
        unsigned char* block = ToBlock(movie);
        uint32_t size = (uint32_t)movie.size();
        EXPECT_EQ(nullptr, CompressMovie(nullptr, block, &size, &error, 2)) << allowed;
        EXPECT_EQ(FailureKind::OutOfMemory, error.kind) << allowed;
    }
    workAllocationsLeft = -1;
}

// A sink that counts what it is given and keeps nothing.
struct CountingSink {
    uint64_t bytes;
    uint64_t nonZero;
};

bool Count(void* context, const unsigned char* data, size_t length)
{
    CountingSink* sink = (CountingSink*)context;
    sink->bytes += length;
    for (size_t i = 0; i < length; i++)
        sink->nonZero += data[i] != 0;
    return true;
}

// Each kind of damage is told apart, with where it was found and how much
// of the body came before it; a short stream is padded, not damaged.
TEST(DecodeMovieBody, ReportsDamagePrecisely)
{
    Bytes body = PatternBytes(200000, 13, false);
    Bytes good = MakeCompressedMovie(10, body);
    Bytes badChecksum = good;
    badChecksum.back() ^= 1;
    Bytes cut(good.begin(), good.begin() + good.size() / 2);
    Bytes corrupt = good;
    corrupt[10] |= 0x06;  // the first block's type becomes the reserved one
    Bytes tooShort = MakeMovie("CWS", 10, 5, ZlibStream(body));
    Bytes padded = MakeMovie("CWS", 10, 300008, ZlibStream(body));
    Bytes trailing = Concat(good, Bytes(10, 7));
    const struct {
        const Bytes* movie;
        FailureKind result;
        Damage damage;
        uint64_t offsetFrom, offsetTo;  // where the damage may be reported
        uint64_t deliveredAtMost, padded;
    } cases[] = {
        {&good, FailureKind::None, Damage::None, 0, 0, 200000, 0},
        {&trailing, FailureKind::None, Damage::None, 0, 0, 200000, 0},
        {&badChecksum, FailureKind::DamagedMovie, Damage::BadChecksum, good.size() - 4, good.size(),
         200000, 0},
        {&cut, FailureKind::DamagedMovie, Damage::CutShort, cut.size(), cut.size(), 120000, 0},
        {&corrupt, FailureKind::DamagedMovie, Damage::DataError, 10, 12, 0, 0},
        {&tooShort, FailureKind::DamagedMovie, Damage::DeclaredTooShort, 4, 4, 0, 0},
        {&padded, FailureKind::None, Damage::None, 0, 0, 300000, 100000},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(&test - cases);
        CountingSink counted = {0, 0};
        ByteSink sink = {Count, nullptr, &counted};
        DecodeReport report;
        EXPECT_EQ(test.result, DecodeMovieBody(test.movie->data(), test.movie->size(), &sink,
                                               nullptr, &report)
                                   .kind);
        EXPECT_EQ(test.damage, report.damage);
        EXPECT_GE(report.damageOffset, test.offsetFrom);
        EXPECT_LE(report.damageOffset, test.offsetTo);
        EXPECT_EQ(counted.bytes, report.delivered);
        EXPECT_LE(report.delivered, test.deliveredAtMost);
        EXPECT_EQ(test.padded, report.padded);
        if (test.result == FailureKind::None) {
            EXPECT_EQ(test.deliveredAtMost, report.delivered);
            EXPECT_EQ(good.size(), report.streamEnd);
        }
        // Read from a file in pieces, behind 5 other bytes, the movie
        // decodes to the same body and the same report.
        WriteWholeFile("pieces.bin", Concat(Bytes(5, 'p'), *test.movie));
        PlatformFile* file = OpenFileForRead("pieces.bin");
        ASSERT_NE(nullptr, file);
        CountingSink fromFile = {0, 0};
        ByteSink fileSink = {Count, nullptr, &fromFile};
        DecodeReport fileReport;
        Failure failure = DecodeMovieFile(file, 5, test.movie->size(), &fileSink, nullptr,
                                          &fileReport);
        CloseFile(file);
        EXPECT_EQ(test.result, failure.kind);
        EXPECT_EQ(counted.bytes, fromFile.bytes);
        EXPECT_EQ(counted.nonZero, fromFile.nonZero);
        EXPECT_EQ(report.damage, fileReport.damage);
        EXPECT_EQ(report.damageOffset, fileReport.damageOffset);
        EXPECT_EQ(report.padded, fileReport.padded);
        EXPECT_EQ(report.streamEnd, fileReport.streamEnd);
    }
}

// Streams longer than the pieces a file is read in, whole or cut, zlib
// or LZMA: the same body and report as from memory.
TEST(DecodeMovieFile, ReadsAcrossPieces)
{
    Bytes body = PatternBytes(900000, 11, false);
    Bytes cws = MakeCompressedMovie(10, body);
    Bytes fws = MakeMovie("FWS", 15, 900008, body);
    uint32_t size = 0;
    unsigned char* block = LzmaEncodeMovie(fws.data(), (uint32_t)fws.size(), &size, nullptr);
    ASSERT_NE(nullptr, block);
    Bytes zws = FromBlock(block, size);
    Bytes cut(cws.begin(), cws.begin() + 700000);
    for (const Bytes* movie : {&cws, &zws, &cut}) {
        CountingSink counted = {0, 0}, fromFile = {0, 0};
        ByteSink sink = {Count, nullptr, &counted}, fileSink = {Count, nullptr, &fromFile};
        DecodeReport report, fileReport;
        Failure whole = DecodeMovieBody(movie->data(), movie->size(), &sink, nullptr, &report);
        WriteWholeFile("pieces.bin", *movie);
        PlatformFile* file = OpenFileForRead("pieces.bin");
        ASSERT_NE(nullptr, file);
        Failure pieces =
            DecodeMovieFile(file, 0, movie->size(), &fileSink, nullptr, &fileReport);
        CloseFile(file);
        EXPECT_EQ(movie == &cut ? FailureKind::DamagedMovie : FailureKind::None, pieces.kind);
        EXPECT_EQ(whole.kind, pieces.kind);
        EXPECT_EQ(whole.damage, pieces.damage);
        EXPECT_EQ(whole.offset, pieces.offset);
        EXPECT_EQ(counted.bytes, fromFile.bytes);
        EXPECT_EQ(counted.nonZero, fromFile.nonZero);
        EXPECT_EQ(report.streamEnd, fileReport.streamEnd);
    }
}

// A record of every report a conversion made.
struct Reports {
    std::vector<uint64_t> done;
    uint64_t total;
    bool totalChanged;
};

void Record(void* context, uint64_t done, uint64_t total)
{
    Reports* reports = (Reports*)context;
    if (!reports->done.empty() && total != reports->total)
        reports->totalChanged = true;
    reports->total = total;
    reports->done.push_back(done);
}

// Both directions report from 0 to the end, never going back, in steps.
TEST(Progress, ReachesTheEndAndNeverGoesBack)
{
    Bytes body = PatternBytes(3 << 20, 11, true);
    Bytes movie = MakeMovie("FWS", 10, (uint32_t)body.size() + 8, body);
    Bytes compressed;
    for (Codec codec : {Compress, DecompressMovie}) {
        Reports reports = {{}, 0, false};
        Progress progress = {Record, &reports};
        Bytes result = Convert(codec, codec == Compress ? movie : compressed, nullptr, nullptr,
                               &progress);
        ASSERT_FALSE(result.empty());
        if (codec == Compress)
            compressed = result;
        else
            EXPECT_EQ(movie, result);
        ASSERT_GE(reports.done.size(), 4u);
        EXPECT_FALSE(reports.totalChanged);
        EXPECT_EQ(0u, reports.done.front());
        EXPECT_EQ(reports.total, reports.done.back());
        EXPECT_TRUE(std::is_sorted(reports.done.begin(), reports.done.end()));
    }
}

}  // namespace
