// codec_tests.cpp - inflating and deflating movies: header rewriting, the
// declared-length rule, damage reports, whole and block deflate against
// independent inflaters, levels, failing workers, the output bound and
// progress. The streams are left in zlib-out/ for zlib_oracle.py, which
// reads them with Python's zlib.
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

bool Append(void* context, const unsigned char* data, size_t count)
{
    Bytes* bytes = (Bytes*)context;
    bytes->insert(bytes->end(), data, data + count);
    return true;
}

// The zlib stream of `body` by DeflateBody, within the bound; empty when
// the deflate fails.
Bytes Deflate(const Bytes& body, unsigned threads, DeflateShape shape,
              int level = deflateLevelDefault)
{
    Bytes stream;
    ByteSink sink = {Append, nullptr, &stream};
    uint64_t written = 0;
    DeflateStatus status = DeflateBody(body.data(), body.size(), threads, &sink, nullptr,
                                       &written, level, shape);
    EXPECT_EQ(DeflateStatus::Done, status);
    EXPECT_EQ(stream.size(), written);
    EXPECT_LE(written, CompressionBound(body.size()));
    return stream;
}

// The same through the streaming deflater, given the body in pieces of
// an odd size.
Bytes DeflateInPieces(const Bytes& body, unsigned threads, DeflateShape shape)
{
    Bytes stream;
    ByteSink sink = {Append, nullptr, &stream};
    BodyDeflater* deflater =
        OpenBodyDeflater(threads, body.size(), &sink, nullptr, deflateLevelDefault, shape);
    for (size_t at = 0; at < body.size(); at += 100003)
        EXPECT_TRUE(WriteBodyDeflater(deflater, body.data() + at,
                                      std::min<size_t>(100003, body.size() - at)));
    EXPECT_EQ(DeflateStatus::Done, FinishBodyDeflater(deflater, nullptr));
    return stream;
}

// What zlib's own inflate reads from `stream`: the whole stream, checksum
// included, or nothing. Garbage in the buffer shows a missed byte.
Bytes Inflate(const Bytes& stream, size_t bodyLength)
{
    Bytes decoded(bodyLength + 1, 0xA5);
    uLongf decodedLength = (uLongf)decoded.size();
    uLong streamLength = (uLong)stream.size();
    if (uncompress2(decoded.data(), &decodedLength, stream.data(), &streamLength) != Z_OK ||
        streamLength != stream.size())
        return Bytes();
    decoded.resize(decodedLength);
    return decoded;
}

// Keeps a stream and its body for zlib_oracle.py, which reads them with
// Python's zlib.
void KeepForOracle(const std::string& name, const Bytes& stream, const Bytes& body)
{
    ASSERT_TRUE(MakeFolder("zlib-out"));
    WriteWholeFile("zlib-out/" + name + ".zlib", stream);
    WriteWholeFile("zlib-out/" + name + ".body", body);
}

// Bodies around the block boundaries, deflated whole and in blocks by 1
// to 3 workers, given at once and in pieces: one zlib stream each that
// zlib's inflate reads back (and Python's), the blocks the same bytes
// whatever the workers and the pieces.
TEST(ParallelDeflate, BlockJoinsRoundTripThroughIndependentInflaters)
{
    const uint32_t block = (uint32_t)deflateBlockSize;
    const uint32_t lengths[] = {0, 1, block - 1, block, block + 1, 3 * block + 7};
    for (uint32_t length : lengths) {
        for (bool compressible : {true, false}) {
            Bytes body = PatternBytes(length, length + 3, compressible);
            std::string name = std::to_string(length) + (compressible ? "-text" : "-noise");
            SCOPED_TRACE(name);
            Bytes whole = Deflate(body, 2, DeflateShape::BySize);
            EXPECT_EQ(body, Inflate(whole, length));
            EXPECT_EQ(whole, DeflateInPieces(body, 2, DeflateShape::BySize));
            KeepForOracle(name + "-whole", whole, body);
            Bytes blocks = Deflate(body, 1, DeflateShape::Blocks);
            EXPECT_EQ(body, Inflate(blocks, length));
            KeepForOracle(name + "-blocks", blocks, body);
            for (unsigned threads = 2; threads <= 3; threads++)
                EXPECT_EQ(blocks, Deflate(body, threads, DeflateShape::Blocks)) << threads;
            EXPECT_EQ(blocks, DeflateInPieces(body, 3, DeflateShape::Blocks));
        }
    }
}

// The level reaches the compressor, whole and in blocks: the best level
// makes a smaller stream than the default, which a level left 0 gets;
// both read back.
TEST(ParallelDeflate, TheBestLevelMakesTheSmallestStream)
{
    Bytes body = PatternBytes(2 * (uint32_t)deflateBlockSize + 5, 14, true);
    for (DeflateShape shape : {DeflateShape::BySize, DeflateShape::Blocks}) {
        Bytes normal = Deflate(body, 2, shape);
        Bytes best = Deflate(body, 2, shape, deflateLevelBest);
        EXPECT_LT(best.size(), normal.size());
        EXPECT_EQ(normal, Deflate(body, 2, shape, 0));
        EXPECT_EQ(body, Inflate(normal, body.size()));
        EXPECT_EQ(body, Inflate(best, body.size()));
        KeepForOracle(shape == DeflateShape::Blocks ? "best-blocks" : "best-whole", best, body);
    }
}

// A compressor that runs out of memory, or a worker thread the system
// refuses, fails the whole deflate with its own status, whichever worker
// it hits.
TEST(ParallelDeflate, FailingWorkersFailTheDeflate)
{
    Bytes body = PatternBytes(4 * (uint32_t)deflateBlockSize, 12, true);
    const struct {
        DeflateShape shape;
        unsigned threads;
        long allocations, threadStarts;
        DeflateStatus status;
    } cases[] = {
        {DeflateShape::BySize, 2, 0, -1, DeflateStatus::OutOfMemory},
        {DeflateShape::Blocks, 1, 2, -1, DeflateStatus::OutOfMemory},
        {DeflateShape::Blocks, 2, 0, -1, DeflateStatus::OutOfMemory},
        {DeflateShape::Blocks, 2, 3, -1, DeflateStatus::OutOfMemory},
        {DeflateShape::Blocks, 2, 6, -1, DeflateStatus::OutOfMemory},
        {DeflateShape::Blocks, 2, -1, 0, DeflateStatus::ThreadFailed},
        {DeflateShape::Blocks, 3, -1, 2, DeflateStatus::ThreadFailed},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(&test - cases);
        workAllocationsLeft = test.allocations;
        workThreadsLeft = test.threadStarts;
        Bytes stream;
        ByteSink sink = {Append, nullptr, &stream};
        EXPECT_EQ(test.status, DeflateBody(body.data(), body.size(), test.threads, &sink, nullptr,
                                           nullptr, deflateLevelDefault, test.shape));
        workAllocationsLeft = -1;
        workThreadsLeft = -1;
    }
    // The in-memory conversion says the same.
    Bytes movie = MakeMovie("FWS", 10, (uint32_t)body.size() + 8, body);
    workAllocationsLeft = 0;
    Failure error = FailureOf(FailureKind::None);
    EXPECT_TRUE(Convert(Compress, movie, nullptr, &error).empty());
    EXPECT_EQ(FailureKind::OutOfMemory, error.kind);
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
        ByteSource source = FileSource(file, 5 + test.movie->size());
        Failure failure = DecodeMovieSource(&source, 5, test.movie->size(), &fileSink, nullptr,
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
    MemFree(block);
    Bytes cut(cws.begin(), cws.begin() + 700000);
    for (const Bytes* movie : {&cws, &zws, &cut}) {
        CountingSink counted = {0, 0}, fromFile = {0, 0};
        ByteSink sink = {Count, nullptr, &counted}, fileSink = {Count, nullptr, &fromFile};
        DecodeReport report, fileReport;
        Failure whole = DecodeMovieBody(movie->data(), movie->size(), &sink, nullptr, &report);
        WriteWholeFile("pieces.bin", *movie);
        PlatformFile* file = OpenFileForRead("pieces.bin");
        ASSERT_NE(nullptr, file);
        ByteSource source = FileSource(file, movie->size());
        Failure pieces =
            DecodeMovieSource(&source, 0, movie->size(), &fileSink, nullptr, &fileReport);
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

// A codec that deflates in blocks, as long movies are, without one.
unsigned char* CompressInBlocks(const Progress* progress, unsigned char* buffer, uint32_t* size,
                                Failure*)
{
    Bytes stream = MakeMovie("CWS", buffer[3], ReadLe32(buffer + 4), Bytes());
    ByteSink sink = {Append, nullptr, &stream};
    DeflateStatus status = DeflateBody(buffer + 8, *size - 8, 2, &sink, progress, nullptr,
                                       deflateLevelDefault, DeflateShape::Blocks);
    MemFree(buffer);
    *size = (uint32_t)stream.size();
    return status == DeflateStatus::Done ? ToBlock(stream) : nullptr;
}

// Every conversion reports from 0 to the end, never going back; in steps
// but for a whole body deflated in one call.
TEST(Progress, ReachesTheEndAndNeverGoesBack)
{
    Bytes body = PatternBytes(3 << 20, 11, true);
    Bytes movie = MakeMovie("FWS", 10, (uint32_t)body.size() + 8, body);
    Bytes compressed = Convert(Compress, movie);
    const struct {
        Codec codec;
        const Bytes* input;
        size_t leastReports;
    } cases[] = {{Compress, &movie, 2}, {CompressInBlocks, &movie, 4},
                 {DecompressMovie, &compressed, 4}};
    for (const auto& test : cases) {
        SCOPED_TRACE(&test - cases);
        Reports reports = {{}, 0, false};
        Progress progress = {Record, &reports};
        Bytes result = Convert(test.codec, *test.input, nullptr, nullptr, &progress);
        EXPECT_EQ(test.codec == DecompressMovie ? movie : Convert(DecompressMovie, result), movie);
        ASSERT_GE(reports.done.size(), test.leastReports);
        EXPECT_FALSE(reports.totalChanged);
        EXPECT_EQ(0u, reports.done.front());
        EXPECT_EQ(reports.total, reports.done.back());
        EXPECT_TRUE(std::is_sorted(reports.done.begin(), reports.done.end()));
    }
}

}  // namespace
