// movie_file_tests.cpp - recognising bare movies, projectors and player
// programs, and reading byte ranges of files.
#include <gtest/gtest.h>

#include <cstring>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "test_support.h"

namespace {

// The four sizes of the original record.
struct Sizes {
    uint32_t header;
    uint32_t fileLength;
    uint32_t playerSize;
    uint32_t movieSize;
};

struct InspectCase {
    const char* name;
    Bytes content;
    Sizes expected;
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

void ExpectInfo(const Sizes& expected, const MovieInfo& actual, const char* name)
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

// Projectors of every layout around the built players, and damaged ones:
// each case a fault in where the player ends, the movie starts or the
// sizes are checked against the file.
TEST(InspectMovie, EveryLayoutAndDamagedOnes)
{
    Bytes elf32 = ReadWholeFile(FixturePath("linux-player-i386"));
    Bytes elf64 = ReadWholeFile(FixturePath("linux-player-x86_64"));
    Bytes windows = ReadWholeFile(FixturePath("player.exe"));
    ASSERT_GT(elf32.size(), 64u);
    ASSERT_GT(elf64.size(), 64u);
    Bytes movie = MakeCompressedMovie(17, PatternBytes(3000, 5, true));
    const uint32_t size = (uint32_t)movie.size();
    const uint32_t header = 0x11535743;
    const uint32_t declared = 3008;

    Bytes sizePastEnd = MakeLayoutProjector("linux-i386", elf32, movie);
    WriteLe32(&sizePastEnd[elf32.size()], size + 1);
    Bytes wrongMagic = MakeLayoutProjector("linux-x86_64", elf64, movie);
    wrongMagic[elf64.size() + 15] = 0;  // 00 FF FF FF: not the sign-extended magic
    Bytes highSizeBits = MakeLayoutProjector("linux-x86_64", elf64, movie);
    highSizeBits[elf64.size() + 4] = 1;
    Bytes tablePastEnd = MakeLayoutProjector("linux-i386", elf32, movie);
    WriteLe32(&tablePastEnd[0x20], (uint32_t)tablePastEnd.size() - 100);  // e_shoff
    Bytes table64PastEnd = MakeLayoutProjector("linux-x86_64", elf64, movie);
    table64PastEnd[0x2F] = 0x80;  // e_shoff beyond any file
    Bytes trailingBytes = Concat(MakeLayoutProjector("linux-i386", elf32, movie), Bytes(10, 7));
    // A one-byte movie whose header only the bytes after it would complete.
    Bytes oneByteMovie = MakeLayoutProjector("linux-i386", elf32, movie);
    WriteLe32(&oneByteMovie[elf32.size()], 1);

    const struct {
        const char* name;
        Bytes content;
        MovieInfo expected;
    } cases[] = {
        {"windows", MakeProjector(windows, movie),
         {header, declared, (uint32_t)windows.size(), size, PlayerLayout::Windows, (uint32_t)windows.size()}},
        {"linux-i386", MakeLayoutProjector("linux-i386", elf32, movie),
         {header, declared, (uint32_t)elf32.size(), size, PlayerLayout::LinuxI386, (uint32_t)elf32.size() + 8}},
        {"linux-x86_64", MakeLayoutProjector("linux-x86_64", elf64, movie),
         {header, declared, (uint32_t)elf64.size(), size, PlayerLayout::LinuxX86_64, (uint32_t)elf64.size() + 16}},
        {"bytes after the movie", trailingBytes,
         {header, declared, (uint32_t)elf32.size(), size, PlayerLayout::LinuxI386, (uint32_t)elf32.size() + 8}},
        // The trailer after a Windows movie is written again by every Save,
        // so it completes the header of a 3-byte movie.
        {"windows movie shorter than its header", MakeProjector(windows, Bytes{'C', 'W', 'S'}),
         {0x56535743, 0x03FA1234, (uint32_t)windows.size(), 3, PlayerLayout::Windows, (uint32_t)windows.size()}},
        {"movie shorter than its header", oneByteMovie,
         {0, 0, (uint32_t)elf32.size(), 0, PlayerLayout::LinuxI386, 0}},
        {"ELF player alone", elf64,
         {0, 0, (uint32_t)elf64.size(), 0, PlayerLayout::LinuxX86_64, 0}},
        {"bare movie", movie, {header, declared, 0, size, PlayerLayout::None, 0}},
        {"movie size past the end", sizePastEnd,
         {0, 0, (uint32_t)elf32.size(), 0, PlayerLayout::LinuxI386, 0}},
        {"wrong magic", wrongMagic,
         {0, 0, (uint32_t)elf64.size(), 0, PlayerLayout::LinuxX86_64, 0}},
        {"64-bit size beyond 32 bits", highSizeBits,
         {0, 0, (uint32_t)elf64.size(), 0, PlayerLayout::LinuxX86_64, 0}},
        {"section header table past the end", tablePastEnd, {0, 0, 0, 0, PlayerLayout::None, 0}},
        {"64-bit section header offset past the end", table64PastEnd,
         {0, 0, 0, 0, PlayerLayout::None, 0}},
        {"ELF header cut short", Bytes(elf32.begin(), elf32.begin() + 20),
         {0, 0, 0, 0, PlayerLayout::None, 0}},
    };
    for (const auto& test : cases) {
        WriteWholeFile("layout.bin", test.content);
        MovieInfo location;
        FillBytes(&location, 0xAB, sizeof location);
        InspectMovie("layout.bin", &location);
        EXPECT_EQ((int)test.expected.layout, (int)location.layout) << test.name;
        EXPECT_EQ(test.expected.header, location.header) << test.name;
        EXPECT_EQ(test.expected.fileLength, location.fileLength) << test.name;
        EXPECT_EQ(test.expected.playerSize, location.playerSize) << test.name;
        EXPECT_EQ(test.expected.movieOffset, location.movieOffset) << test.name;
        EXPECT_EQ(test.expected.movieSize, location.movieSize) << test.name;
        // The dialog's inspection knows Windows projectors only.
        MovieInfo info = Inspect("layout.bin");
        bool windowsOrBare = test.expected.layout == PlayerLayout::Windows ||
                             (test.expected.layout == PlayerLayout::None && test.expected.movieSize);
        EXPECT_EQ(windowsOrBare ? test.expected.movieSize : 0, info.movieSize) << test.name;
    }
}

// A NAME.app folder: the movie is a file inside, the version comes from
// an XML property list only.
TEST(InspectMovie, AppFolders)
{
    Bytes movie = MakeUncompressedMovie(30, 500);
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>\n"
        "  <key>CFBundleShortVersionString</key>\n  <string>32.0.0.465</string>\n</dict></plist>";
    const struct {
        const char* path;
        std::string infoList;
        bool withMovie;
        PlayerLayout layout;
        PackedVersion version;
    } cases[] = {
        {"Game.app", xml, true, PlayerLayout::MacApp, 0x00200000},
        {"Upper.APP/", xml, true, PlayerLayout::MacApp, 0x00200000},
        {"Binary.app", "bplist00\xd1\x01\x02_\x10\x1a" "CFBundleShortVersionString", true,
         PlayerLayout::MacApp, 0},
        {"NoVersion.app", "<plist><dict></dict></plist>", true, PlayerLayout::MacApp, 0},
        {"NotAnApp", xml, true, PlayerLayout::None, 0},
        {"Empty.app", xml, false, PlayerLayout::None, 0},
    };
    MakeFolder("apps");
    for (const auto& test : cases) {
        std::string path = std::string("apps/") + test.path;
        ASSERT_TRUE(MakeAppFolder(path, movie, test.infoList)) << path;
        if (!test.withMovie)
            RemoveFile(path + "/Contents/Resources/movie.swf");
        MovieInfo location;
        InspectMovie(path.c_str(), &location);
        EXPECT_EQ((int)test.layout, (int)location.layout) << path;
        bool app = test.layout == PlayerLayout::MacApp;
        EXPECT_EQ(app ? movie.size() : 0u, location.movieSize) << path;
        EXPECT_EQ(0u, location.playerSize) << path;
        EXPECT_EQ(test.version, PlayerVersionOf(path.c_str(), location.layout)) << path;
    }
}

TEST(ParseVersionText, MajorAndMinor)
{
    const struct {
        const char* text;
        PackedVersion expected;
    } cases[] = {
        {"32.0.0.465", 0x00200000}, {"11.2", 0x000B0002}, {"10", 0x000A0000},
        {"9.</string>", 0x00090000}, {"x1.0", 0}, {"", 0}, {"70000.1", 0},
    };
    for (const auto& test : cases)
        EXPECT_EQ(test.expected, ParseVersionText(test.text, strlen(test.text))) << test.text;
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
