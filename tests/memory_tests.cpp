// memory_tests.cpp - memory bounded by what a movie really holds, not by
// what its header declares: peak resident memory read from getrusage,
// in a test program of its own so that no other test's peak hides it.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "rebuild/body_decode.h"
#include "rebuild/file_facts.h"
#include "rebuild/movie_check.h"
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

// Appends `pieces` pieces of `piece` to the file, never holding more.
void AppendPieces(const std::string& path, const Bytes& piece, uint32_t pieces)
{
    FILE* file = fopen(path.c_str(), "ab");
    ASSERT_NE(nullptr, file);
    for (uint32_t i = 0; i < pieces; i++)
        ASSERT_EQ(piece.size(), fwrite(piece.data(), 1, piece.size(), file));
    fclose(file);
}

// Whether two files hold the same bytes, compared a piece at a time.
bool SameFiles(const std::string& a, const std::string& b)
{
    FILE* first = fopen(a.c_str(), "rb");
    FILE* second = fopen(b.c_str(), "rb");
    bool same = first && second;
    std::vector<char> x(1 << 20), y(1 << 20);
    while (same) {
        size_t read = fread(x.data(), 1, x.size(), first);
        same = fread(y.data(), 1, y.size(), second) == read &&
               memcmp(x.data(), y.data(), read) == 0;
        if (read == 0)
            break;
    }
    if (first)
        fclose(first);
    if (second)
        fclose(second);
    return same;
}

// A movie beyond the limit of whole conversions is read and written in
// pieces: saves to and from every form, behind a player that stores the
// movie size in front of it, its check and its facts take a few MiB.
TEST(Memory, MoviesBeyondTheWholeLimitAreConvertedInPieces)
{
    const uint32_t pieces = (uint32_t)(wholeMovieLimit / mebibyte) + 8;
    Bytes piece = PatternBytes((uint32_t)mebibyte, 3, true);
    Bytes movie = MakeUncompressedMovie(15, 0);
    WriteLe32(movie.data() + 4, (uint32_t)(movieHeaderSize + pieces * mebibyte));
    WriteWholeFile("big.swf", movie);
    AppendPieces("big.swf", piece, pieces);
    piece = Bytes();
    uint64_t before = PeakBytes();
    Bytes player = ReadWholeFile(FixturePath("linux-player-x86_64"));
    WriteWholeFile("player", MakeLayoutProjector("linux-x86_64", player, Bytes()));
    RebuildMode addCompress = MakeRebuildMode(PlayerAction::AddReplace, MovieAction::Compress);
    RebuildMode removeDecompress =
        MakeRebuildMode(PlayerAction::Remove, MovieAction::Decompress);
    ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, "big.swf", "big", "player", addCompress)));
    MovieCheck check;
    ASSERT_FALSE(Failed(CheckMovieFile("big", nullptr, &check)));
    EXPECT_EQ(MovieHealth::Intact, check.health);
    EXPECT_EQ(PlayerLayout::LinuxX86_64, check.info.layout);
    FactsReader reader;
    EXPECT_FALSE(Failed(ReadMovieFileFacts("big", check.info, &reader)));
    ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, "big", "back.swf", nullptr, removeDecompress)));
    EXPECT_TRUE(SameFiles("big.swf", "back.swf"));
    // Far less than the movie itself (the sanitizers' own keeping of freed
    // memory included).
    EXPECT_LT(PeakBytes() - before, pieces * mebibyte);
}

}  // namespace
