// memory_tests.cpp - memory bounded by what a movie really holds, not by
// what its header declares: peak resident memory read from getrusage,
// in a test program of its own so that no other test's peak hides it.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "common/bytes.h"
#include "rebuild/body_decode.h"
#include "rebuild/rebuild.h"
#include "test_support.h"

namespace {

const uint64_t mebibyte = 1024 * 1024;

// The most memory this process has held so far.
uint64_t PeakBytes()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (uint64_t)usage.ru_maxrss * 1024;
}

bool CountOnly(void* context, const unsigned char*, size_t length)
{
    *(uint64_t*)context += length;
    return true;
}

// A 16-byte movie: the header and an empty zlib stream.
Bytes TinyMovieDeclaring(uint32_t declaredLength)
{
    return MakeMovie("CWS", 10, declaredLength, ZlibStream(Bytes()));
}

TEST(Memory, ADeclaredLengthCostsNothingUntilDecoded)
{
    Bytes movie = TinyMovieDeclaring(0xFFFFFFFFu);
    ASSERT_EQ(16u, movie.size());
    uint64_t before = PeakBytes();
    uint64_t counted = 0;
    ByteSink sink = {CountOnly, nullptr, &counted};
    DecodeReport report;
    EXPECT_EQ(FailureKind::None,
              DecodeMovieBody(movie.data(), movie.size(), &sink, nullptr, &report).kind);
    EXPECT_EQ(0xFFFFFFFFu - 8u, counted);
    EXPECT_EQ(counted, report.padded);
    EXPECT_LT(PeakBytes() - before, 8 * mebibyte);
}

// Saves of a zero bomb and of a movie that declares far more than it
// holds stream their output: memory stays near the stored movie.
TEST(Memory, SavesStreamWhatTheMovieYields)
{
    Bytes zeros(64 * mebibyte, 0);
    WriteWholeFile("bomb.swf", MakeCompressedMovie(10, zeros));
    zeros = Bytes();
    WriteWholeFile("tiny.swf", TinyMovieDeclaring(64 * mebibyte + 8));
    const struct {
        const char* input;
        MovieAction action;
        uint64_t padded;
    } cases[] = {
        {"bomb.swf", MovieAction::Decompress, 0},
        {"tiny.swf", MovieAction::Decompress, 64 * mebibyte},
        {"tiny.swf", MovieAction::Compress, 64 * mebibyte},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.input);
        uint64_t before = PeakBytes();
        RebuildDetails details = {2, 0, false, Damage::None, 0, 0};
        ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, test.input, "out.swf", nullptr,
                                             MakeRebuildMode(PlayerAction::Remove, test.action),
                                             &details)));
        EXPECT_EQ(test.padded, details.paddedBytes);
        EXPECT_LT(PeakBytes() - before, 16 * mebibyte);
        RemoveFile("out.swf");
    }
}

}  // namespace
