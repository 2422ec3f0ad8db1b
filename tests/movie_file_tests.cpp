// movie_file_tests.cpp - recognising bare movies, projectors and player
// programs, and reading byte ranges of files.
#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "test_support.h"

namespace {

struct InspectCase {
    const char* name;
    Bytes content;
    MovieInfo expected;
};

MovieInfo Inspect(const std::string& path, uint32_t* result = nullptr)
{
    MovieInfo info;
    FillBytes(&info, 0xAB, sizeof info);  // every field must be written
    uint32_t returned = InspectMovieFile(path.c_str(), &info);
    if (result)
        *result = returned;
    return info;
}

void ExpectInfo(const MovieInfo& expected, const MovieInfo& actual, const char* name)
{
    EXPECT_EQ(expected.header, actual.header) << name;
    EXPECT_EQ(expected.fileLength, actual.fileLength) << name;
    EXPECT_EQ(expected.playerSize, actual.playerSize) << name;
    EXPECT_EQ(expected.movieSize, actual.movieSize) << name;
}

Bytes Trailer(uint32_t magic, uint32_t movieSize)
{
    Bytes trailer(8);
    WriteLe32(trailer.data(), magic);
    WriteLe32(trailer.data() + 4, movieSize);
    return trailer;
}

TEST(InspectMovieFile, TableOfCases)
{
    Bytes bareMovie = MakeMovie("FWS", 10, 5000, PatternBytes(4992, 1, true));
    Bytes player = MakePlayerBytes(300000);
    Bytes cws = MakeMovie("CWS", 9, 123456, PatternBytes(199992, 2, false));
    Bytes projector = Concat(MakePlayerBytes(799992), Concat(cws, Trailer(projectorMagic, 200000)));
    Bytes noSignature = Concat(MakePlayerBytes(1000), Concat(Bytes(500, 'x'), Trailer(projectorMagic, 500)));
    Bytes trailerWithoutMz = MakeProjector(Bytes(1000, 'a'), bareMovie);
    trailerWithoutMz.erase(trailerWithoutMz.begin(), trailerWithoutMz.begin() + 1000);
    Bytes zws = MakeMovie("ZWS", 13, 9000, PatternBytes(100, 3, false));

    const InspectCase cases[] = {
        {"bare FWS movie", bareMovie, {0x0A535746, 5000, 0, 5000}},
        {"projector with CWS movie", projector, {0x09535743, 123456, 799992, 200000}},
        {"MZ, trailer, no signature", noSignature, {0, 0, 1000, 0}},
        {"player program", player, {0, 0, 300000, 0}},
        {"movie with a trailer but no MZ", trailerWithoutMz,
         {0x0A535746, 5000, 0, (uint32_t)trailerWithoutMz.size()}},
        {"bare ZWS movie", zws, {0x0D53575A, 9000, 0, 108}},
        {"empty file", Bytes(), {0, 0, 0, 0}},
        {"text file", Bytes({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}), {0, 0, 0, 0}},
        {"lower-case signature", MakeMovie("fws", 10, 100, Bytes(92, 0)), {0, 0, 0, 0}},
        {"three bytes CWS", Bytes({'C', 'W', 'S'}), {0x00535743, 0, 0, 3}},
        {"short MZ file", Bytes({'M', 'Z', 1, 2, 3}), {0, 0, 5, 0}},
        {"trailer with movie size 0", Concat(MakePlayerBytes(64), Trailer(projectorMagic, 0)),
         {0, 0, 64, 0}},
        {"trailer claiming the whole file", Concat(MakePlayerBytes(64), Trailer(projectorMagic, 64)),
         {0, 0, 0, 0}},
    };
    for (const InspectCase& test : cases) {
        WriteWholeFile("inspect.bin", test.content);
        uint32_t result = 0;
        MovieInfo info = Inspect("inspect.bin", &result);
        ExpectInfo(test.expected, info, test.name);
        EXPECT_EQ(test.expected.playerSize, result) << test.name;
    }
}

TEST(InspectMovieFile, FilesThatCannotBeOpened)
{
    RemoveFile("missing.swf");
    const char* paths[] = {"missing.swf", "", "."};
    for (const char* path : paths)
        ExpectInfo({0, 0, 0, 0}, Inspect(path), path);
    MovieInfo info;
    FillBytes(&info, 0xAB, sizeof info);
    EXPECT_EQ(0u, InspectMovieFile(nullptr, &info));
    ExpectInfo({0, 0, 0, 0}, info, "null path");
}

// A movie size larger than the bytes in front of the trailer would wrap
// the player size past the end of the file: the file is a player program.
TEST(InspectMovieFile, TrailerThatWouldWrapIsNoTrailer)
{
    Bytes movie = MakeUncompressedMovie(8, 100);
    const uint32_t sizes[] = {1000, 0xFFFFFFFF, 108 + 64 + 1};
    for (uint32_t movieSize : sizes) {
        Bytes file = Concat(Concat(MakePlayerBytes(64), movie), Trailer(projectorMagic, movieSize));
        WriteWholeFile("wrapped.exe", file);
        uint32_t result = 0;
        ExpectInfo({0, 0, (uint32_t)file.size(), 0}, Inspect("wrapped.exe", &result), "wrapped");
        EXPECT_EQ(file.size(), result);
    }
}

TEST(InspectMovieFile, ProjectorAroundTheBuiltPlayer)
{
    Bytes player = ReadWholeFile(FixturePath("player.exe"));
    ASSERT_GE(player.size(), 2u);
    ASSERT_EQ('M', player[0]);
    Bytes movie = MakeCompressedMovie(17, PatternBytes(3000, 5, true));
    WriteWholeFile("projector.exe", MakeProjector(player, movie));
    ExpectInfo({0x11535743, 3008, (uint32_t)player.size(), (uint32_t)movie.size()},
               Inspect("projector.exe"), "projector");
    ExpectInfo({0, 0, (uint32_t)player.size(), 0}, Inspect(FixturePath("player.exe")), "player");
}

// Sizes past 2 GiB need 64-bit positioning; past 4 GiB the format's
// 32-bit sizes cannot describe the file at all.
TEST(InspectMovieFile, LargeSparseFiles)
{
    const uint64_t size = 3ull << 30;
    const uint32_t movieSize = 0x10000008;
    Bytes header = MakeMovie("FWS", 30, movieSize, Bytes());
    RemoveFile("large.exe");
    bool made = WriteAt("large.exe", 0, Bytes({'M', 'Z'})) &&
                WriteAt("large.exe", size - 8 - movieSize, header) &&
                WriteAt("large.exe", size - 8, Trailer(projectorMagic, movieSize));
    if (!made) {
        RemoveFile("large.exe");
        GTEST_SKIP() << "no room for a sparse 3 GiB file here";
    }
    ExpectInfo({0x1E535746, movieSize, (uint32_t)(size - 8 - movieSize), movieSize},
               Inspect("large.exe"), "3 GiB projector");
    unsigned char* range = ReadFileRange("large.exe", (uint32_t)(size - 8), 8);
    ASSERT_NE(nullptr, range);
    EXPECT_EQ(projectorMagic, ReadLe32(range));
    MemFree(range);

    bool grown = WriteAt("large.exe", (5ull << 30) - 8, Trailer(projectorMagic, movieSize));
    if (grown)
        ExpectInfo({0, 0, 0, 0}, Inspect("large.exe"), "5 GiB file");
    RemoveFile("large.exe");
}

TEST(ReadFileRange, RangesInsideAndBeyondTheFile)
{
    Bytes content = PatternBytes(1000, 9, false);
    WriteWholeFile("range.bin", content);

    unsigned char* middle = ReadFileRange("range.bin", 100, 50);
    ASSERT_NE(nullptr, middle);
    EXPECT_EQ(Bytes(content.begin() + 100, content.begin() + 150), FromBlock(middle, 50));
    MemFree(middle);

    unsigned char* tail = ReadFileRange("range.bin", 990, 30);
    ASSERT_NE(nullptr, tail);
    Bytes expected(content.begin() + 990, content.end());
    expected.resize(30, 0);
    EXPECT_EQ(expected, FromBlock(tail, 30));
    MemFree(tail);

    unsigned char* beyond = ReadFileRange("range.bin", 5000, 16);
    ASSERT_NE(nullptr, beyond);
    EXPECT_EQ(Bytes(16, 0), FromBlock(beyond, 16));
    MemFree(beyond);

    EXPECT_EQ(nullptr, ReadFileRange("range.bin", 0, 0));
    EXPECT_EQ(nullptr, ReadFileRange(nullptr, 0, 10));
    RemoveFile("missing.bin");
    EXPECT_EQ(nullptr, ReadFileRange("missing.bin", 0, 10));
}

TEST(ReadFileRangeFully, RefusesRangesThatRunPastTheEnd)
{
    WriteWholeFile("range.bin", PatternBytes(100, 9, false));
    unsigned char* whole = ReadFileRangeFully("range.bin", 0, 100);
    EXPECT_NE(nullptr, whole);
    MemFree(whole);
    EXPECT_EQ(nullptr, ReadFileRangeFully("range.bin", 50, 51));
}

TEST(Memory, BlocksAreZeroFilledAndGrowthToo)
{
    unsigned char* block = (unsigned char*)MemAlloc(64);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(Bytes(64, 0), FromBlock(block, 64));
    FillBytes(block, 0x5A, 64);
    block = (unsigned char*)MemReAlloc(block, 4096);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(Bytes(64, 0x5A), FromBlock(block, 64));
    EXPECT_EQ(Bytes(4096 - 64, 0), FromBlock(block + 64, 4096 - 64));
    EXPECT_EQ(nullptr, MemReAlloc(block, 0));  // frees
    void* fresh = MemReAlloc(nullptr, 10);
    EXPECT_NE(nullptr, fresh);
    MemFree(fresh);
    MemFree(nullptr);
}

TEST(FillBytes, FillsWithTheLowByteOnly)
{
    unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ((void*)(bytes + 1), FillBytes(bytes + 1, 0x1FF, 4));
    EXPECT_EQ(Bytes({1, 0xFF, 0xFF, 0xFF, 0xFF, 6}), Bytes(bytes, bytes + 6));
    FillBytes(bytes, 0, 0);
    EXPECT_EQ(1, bytes[0]);
}

TEST(GetFullPath, ResolvesAgainstTheCurrentFolder)
{
    char* full = GetFullPath("some/../movie.swf");
    ASSERT_NE(nullptr, full);
    std::string path(full);
    MemFree(full);
    EXPECT_GT(path.size(), std::string("movie.swf").size());
    EXPECT_EQ("movie.swf", path.substr(path.size() - 9));
    EXPECT_EQ(std::string::npos, path.find(".."));
    EXPECT_EQ(nullptr, GetFullPath(""));
}

}  // namespace
