// player_version_tests.cpp - the player version a movie needs, the version
// of player programs (the test players, projectors and damaged copies), and
// on Windows the agreement of the system loader with the portable reader.
#include <gtest/gtest.h>

#include <cstring>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "movie/version_resource.h"
#include "test_support.h"

namespace {

uint32_t Header(const char* signature, uint8_t version)
{
    return (uint32_t)(unsigned char)signature[0] | (uint32_t)(unsigned char)signature[1] << 8 |
           (uint32_t)(unsigned char)signature[2] << 16 | (uint32_t)version << 24;
}

TEST(RequiredPlayerVersion, FollowsTheTableOfMovieVersions)
{
    const struct {
        const char* signature;
        uint8_t version;
        PackedVersion required;
    } cases[] = {
        {"FWS", 0, 0x00000000},  {"FWS", 8, 0x00080000},  {"CWS", 8, 0x00080000},
        {"CWS", 10, 0x000A0000}, {"CWS", 11, 0x000A0002}, {"CWS", 12, 0x000A0003},
        {"FWS", 13, 0x000B0000}, {"CWS", 17, 0x000B0004}, {"CWS", 22, 0x000B0009},
        {"CWS", 23, 0x000C0000}, {"FWS", 32, 0x00150000}, {"CWS", 255, 0x00F40000},
        {"ZWS", 5, 0x000B0000},  {"ZWS", 13, 0x000B0000}, {"ZWS", 14, 0x000B0001},
        {"ZWS", 30, 0x00130000}, {"zws", 5, 0x00050000},  // only the exact signature counts
    };
    for (const auto& test : cases) {
        EXPECT_EQ(test.required, RequiredPlayerVersion(Header(test.signature, test.version)))
            << test.signature << " " << (int)test.version;
    }
    EXPECT_EQ(0u, RequiredPlayerVersion(0));
}

TEST(PlayerIsNewEnough, MajorDecidesAndMinorBreaksTies)
{
    PackedVersion player112 = 0x000B0002;
    EXPECT_TRUE(PlayerIsNewEnough(player112, RequiredPlayerVersion(Header("CWS", 15))));
    EXPECT_FALSE(PlayerIsNewEnough(player112, RequiredPlayerVersion(Header("CWS", 16))));
    EXPECT_FALSE(PlayerIsNewEnough(0x000A0003, 0x000B0000));  // 10.3 below 11.0
    EXPECT_FALSE(PlayerIsNewEnough(0x000B0009, 0x000C0000));  // 11.9 below 12.0
    EXPECT_FALSE(PlayerIsNewEnough(0, RequiredPlayerVersion(Header("FWS", 1))));
    EXPECT_TRUE(PlayerIsNewEnough(0, RequiredPlayerVersion(0)));
}

// A version block of `size` bytes declaring `declaredLength`, with the
// fixed information's signature and `version` at each of `infoOffsets`
// (as far as they fit), the rest patterned.
Bytes VersionBlock(uint32_t declaredLength, size_t size, std::vector<size_t> infoOffsets,
                   PackedVersion version)
{
    Bytes block = PatternBytes((uint32_t)size, 5, true);
    block[0] = (unsigned char)declaredLength;
    block[1] = (unsigned char)(declaredLength >> 8);
    for (size_t offset : infoOffsets) {
        unsigned char field[12];
        WriteLe32(field, 0xFEEF04BD);
        WriteLe32(field + 4, 0x00010000);
        WriteLe32(field + 8, version);
        for (size_t i = 0; i < sizeof field && offset + i < size; i++)
            block[offset + i] = field[i];
        version += 0x10000;  // a later copy has another version
    }
    return block;
}

TEST(FixedFileVersionIn, ScansFourByteStepsWithinDeclaredLengthAndRealSize)
{
    const struct {
        const char* name;
        Bytes block;
        PackedVersion expected;
    } cases[] = {
        {"block without children", VersionBlock(92, 92, {40}, 0x00060000), 0x00060000},
        {"full block", VersionBlock(344, 344, {40}, 0x000B0002), 0x000B0002},
        {"past the last offset looked at", VersionBlock(92, 92, {44}, 0x00060000), 0},
        {"at the last offset of a longer block", VersionBlock(96, 96, {44}, 0x00060000),
         0x00060000},
        {"declared 53: offset 4 is the last", VersionBlock(53, 60, {4}, 0x00070000), 0x00070000},
        {"declared 52: only offset 0", VersionBlock(52, 60, {4}, 0x00070000), 0},
        {"not on a 4-byte step", VersionBlock(92, 92, {42}, 0x00060000), 0},
        {"the first of two", VersionBlock(200, 200, {8, 40}, 0x00080000), 0x00080000},
        {"no fixed information", VersionBlock(92, 92, {}, 0), 0},
        {"declared longer than the resource", VersionBlock(0xFFFF, 92, {40}, 0x00060000),
         0x00060000},
        {"declared longer, nothing found", VersionBlock(0xFFFF, 61, {}, 0), 0},
        {"version field beyond the resource", VersionBlock(0xFFFF, 48, {40}, 0x00060000), 0},
    };
    for (const auto& test : cases) {
        // An exact-size block, so that a read past its end is caught.
        unsigned char* resource = ToBlock(test.block);
        EXPECT_EQ(test.expected, FixedFileVersionIn(resource, test.block.size())) << test.name;
        MemFree(resource);
    }
    EXPECT_EQ(0u, FixedFileVersionIn(nullptr, 92));
}

uint16_t Le16(const Bytes& bytes, size_t at)
{
    return ReadLe16(bytes.data() + at);
}
uint32_t Le32(const Bytes& bytes, size_t at)
{
    return ReadLe32(bytes.data() + at);
}

void Put16(Bytes& bytes, size_t at, uint16_t value)
{
    bytes[at] = (unsigned char)value;
    bytes[at + 1] = (unsigned char)(value >> 8);
}

void Put32(Bytes& bytes, size_t at, uint32_t value)
{
    WriteLe32(bytes.data() + at, value);
}

struct Section {
    uint32_t virtualAddress, rawSize, rawPointer;
};

// File offsets of the parts of a test player's version resource, found
// by a plain walk that trusts the file (the players are well formed).
struct PlayerLayout {
    size_t peHeader;
    size_t optionalHeader;
    size_t resourceDirectoryField;  // the resource data directory's RVA
    size_t resourceRoot;
    size_t versionTypeEntry;  // the root's entry for type 16
    size_t dataEntry;         // of the version resource
    size_t data;              // the version block
    std::vector<Section> sections;

    size_t OffsetOfRva(uint32_t rva) const
    {
        for (const Section& section : sections) {
            if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize)
                return section.rawPointer + (rva - section.virtualAddress);
        }
        ADD_FAILURE() << "RVA " << rva << " is in no section";
        return 0;
    }

    uint32_t RvaOfOffset(size_t offset) const
    {
        for (const Section& section : sections) {
            if (offset >= section.rawPointer && offset - section.rawPointer < section.rawSize)
                return (uint32_t)(section.virtualAddress + (offset - section.rawPointer));
        }
        ADD_FAILURE() << "offset " << offset << " is in no section";
        return 0;
    }
};

size_t EntryWithId(const Bytes& file, size_t directory, uint16_t id)
{
    size_t count = Le16(file, directory + 12) + Le16(file, directory + 14);
    for (size_t entry = directory + 16; entry < directory + 16 + 8 * count; entry += 8) {
        if (Le16(file, entry) == id)
            return entry;
    }
    ADD_FAILURE() << "no resource entry " << id;
    return directory;
}

PlayerLayout Locate(const Bytes& file)
{
    PlayerLayout layout;
    layout.peHeader = Le32(file, 0x3C);
    layout.optionalHeader = layout.peHeader + 24;
    bool pe32Plus = Le16(file, layout.optionalHeader) == 0x20B;
    layout.resourceDirectoryField = layout.optionalHeader + (pe32Plus ? 112 : 96) + 16;
    size_t sectionTable = layout.optionalHeader + Le16(file, layout.peHeader + 20);
    for (size_t index = 0; index < Le16(file, layout.peHeader + 6); index++) {
        size_t header = sectionTable + 40 * index;
        layout.sections.push_back(
            {Le32(file, header + 12), Le32(file, header + 16), Le32(file, header + 20)});
    }
    size_t root = layout.OffsetOfRva(Le32(file, layout.resourceDirectoryField));
    layout.resourceRoot = root;
    layout.versionTypeEntry = EntryWithId(file, root, 16);
    size_t names = root + (Le32(file, layout.versionTypeEntry + 4) & 0x7FFFFFFF);
    size_t languages = root + (Le32(file, EntryWithId(file, names, 1) + 4) & 0x7FFFFFFF);
    layout.dataEntry = root + Le32(file, languages + 16 + 4);
    layout.data = layout.OffsetOfRva(Le32(file, layout.dataEntry));
    return layout;
}

// Both readers of a player's version: the portable one, and the one that
// GetPlayerVersion uses (on Windows the system loader). They must agree.
PackedVersion ExpectReadersAgree(const std::string& path, const char* name)
{
    PackedVersion portable = ReadVersionResourceOfFile(path.c_str());
    EXPECT_EQ(portable, GetPlayerVersion(path.c_str())) << name << ": the loader disagrees";
    return portable;
}

TEST(GetPlayerVersion, ReadsTheTestPlayers)
{
    const struct {
        const char* name;
        PackedVersion expected;
    } cases[] = {
        {"player-11.2.exe", 0x000B0002}, {"player-10.0.exe", 0x000A0000},
        {"player-9.0.exe", 0x00090000},  {"player-32.0.exe", 0x00200000},
        {"player-other-id.exe", 0},      {"player.exe", 0},
        {"no-such-player.exe", 0},
    };
    for (const auto& test : cases)
        EXPECT_EQ(test.expected, ExpectReadersAgree(FixturePath(test.name), test.name))
            << test.name;

    WriteWholeFile("movie.swf", MakeUncompressedMovie(10, 500));
    EXPECT_EQ(0u, ExpectReadersAgree("movie.swf", "a movie"));
    EXPECT_EQ(0u, GetPlayerVersion(""));
    EXPECT_EQ(0u, GetPlayerVersion(nullptr));
    EXPECT_EQ(0u, ReadVersionResourceOfFile(nullptr));
}

// The 9.0 player's block has no children: the fixed information stands at
// the last offset that the scan looks at.
TEST(GetPlayerVersion, NinePlayerHasTheShortestBlock)
{
    Bytes file = ReadWholeFile(FixturePath("player-9.0.exe"));
    ASSERT_FALSE(file.empty());
    PlayerLayout layout = Locate(file);
    EXPECT_EQ(92u, Le16(file, layout.data));
    EXPECT_EQ(0xFEEF04BDu, Le32(file, layout.data + 40));
}

TEST(GetPlayerVersion, ReadsThePlayerOfAProjector)
{
    Bytes player = ReadWholeFile(FixturePath("player-11.2.exe"));
    ASSERT_FALSE(player.empty());
    for (uint8_t movieVersion : {15, 16}) {
        WriteWholeFile("projector.exe",
                       MakeProjector(player, MakeUncompressedMovie(movieVersion, 3000)));
        MovieInfo info;
        ASSERT_EQ(player.size(), InspectMovieFile("projector.exe", &info));
        PackedVersion version = ExpectReadersAgree("projector.exe", "projector");
        EXPECT_EQ(0x000B0002u, version);
        EXPECT_EQ(movieVersion == 15,
                  PlayerIsNewEnough(version, RequiredPlayerVersion(info.header)));
    }
}

TEST(GetPlayerVersion, ReadsNamesWithoutExtension)
{
    Bytes player = ReadWholeFile(FixturePath("player-10.0.exe"));
    ASSERT_TRUE(MakeFolder("folder.with.dots"));
    for (const char* name : {"player-without-extension", "folder.with.dots/player"}) {
        WriteWholeFile(name, player);
        EXPECT_EQ(0x000A0000u, ExpectReadersAgree(name, name)) << name;
    }
}

// Damaged copies of a test player: each reader gives 0 or the right
// version, without reading outside the file, and releases it.
struct Damage {
    const char* name;
    void (*patch)(Bytes& file, const PlayerLayout& layout);
    bool keepsVersion;  // the reader still finds the player's own version
};

void ExpectDamagedCopies(const char* fixture, PackedVersion version, const Damage* cases,
                         size_t count)
{
    Bytes original = ReadWholeFile(FixturePath(fixture));
    ASSERT_FALSE(original.empty());
    PlayerLayout layout = Locate(original);
    for (size_t index = 0; index < count; index++) {
        const Damage& damage = cases[index];
        Bytes file = original;
        damage.patch(file, layout);
        WriteWholeFile("damaged.exe", file);
        PackedVersion expected = damage.keepsVersion ? version : 0;
        EXPECT_EQ(expected, ExpectReadersAgree("damaged.exe", damage.name))
            << fixture << ": " << damage.name;
        RemoveFile("damaged.exe");
        EXPECT_FALSE(FileExists("damaged.exe")) << damage.name << ": the file is still held";
    }
}

const Damage damages[] = {
    {"PE header beyond the file",
     [](Bytes& file, const PlayerLayout&) { Put32(file, 0x3C, 0x7FFFFFF0); }, false},
    {"no PE signature",
     [](Bytes& file, const PlayerLayout& layout) { file[layout.peHeader + 1] = 'F'; }, false},
    {"unknown optional header",
     [](Bytes& file, const PlayerLayout& layout) { Put16(file, layout.optionalHeader, 0x107); },
     false},
    {"no sections",
     [](Bytes& file, const PlayerLayout& layout) { Put16(file, layout.peHeader + 6, 0); }, false},
    {"section table beyond the file",
     [](Bytes& file, const PlayerLayout& layout) { Put16(file, layout.peHeader + 20, 0xFFF0); },
     false},
    {"no resource directory",
     [](Bytes& file, const PlayerLayout& layout) { Put32(file, layout.resourceDirectoryField, 0); },
     false},
    {"resource directory in no section",
     [](Bytes& file, const PlayerLayout& layout) {
         Put32(file, layout.resourceDirectoryField, 0x7FFFF000);
     },
     false},
    {"types declared as named entries",
     [](Bytes& file, const PlayerLayout& layout) {
         Put16(file, layout.resourceRoot + 12, Le16(file, layout.resourceRoot + 14));
         Put16(file, layout.resourceRoot + 14, 0);
     },
     false},
    {"65535 types declared",
     [](Bytes& file, const PlayerLayout& layout) { Put16(file, layout.resourceRoot + 14, 0xFFFF); },
     false},
    {"type subdirectory beyond the file",
     [](Bytes& file, const PlayerLayout& layout) {
         Put32(file, layout.versionTypeEntry + 4, 0xFFFFFFF0);
     },
     false},
    {"type subdirectory is the root",
     [](Bytes& file, const PlayerLayout& layout) {
         Put32(file, layout.versionTypeEntry + 4, 0x80000000);
     },
     false},
    {"type entry leads to data",
     [](Bytes& file, const PlayerLayout& layout) { file[layout.versionTypeEntry + 7] &= 0x7F; },
     false},
    {"resource data in no section",
     [](Bytes& file, const PlayerLayout& layout) { Put32(file, layout.dataEntry, 0xFFFFFFF0); },
     false},
    {"resource size beyond the file",
     [](Bytes& file, const PlayerLayout& layout) { Put32(file, layout.dataEntry + 4, 0xFFFFFFFF); },
     true},
    {"resource size ends before the version",
     [](Bytes& file, const PlayerLayout& layout) { Put32(file, layout.dataEntry + 4, 44); }, false},
    {"resource size ends after the version",
     [](Bytes& file, const PlayerLayout& layout) { Put32(file, layout.dataEntry + 4, 52); }, true},
    {"resource in the last two bytes, declaring 65535",
     [](Bytes& file, const PlayerLayout& layout) {
         Put16(file, file.size() - 2, 0xFFFF);
         Put32(file, layout.dataEntry, layout.RvaOfOffset(file.size() - 2));
         Put32(file, layout.dataEntry + 4, 0xFFFFFFFF);
     },
     false},
    {"cut to nothing", [](Bytes& file, const PlayerLayout&) { file.clear(); }, false},
    {"cut in the resource directory",
     [](Bytes& file, const PlayerLayout& layout) { file.resize(layout.resourceRoot + 20); }, false},
    {"cut after the signature",
     [](Bytes& file, const PlayerLayout& layout) { file.resize(layout.data + 44); }, false},
    {"cut after the version",
     [](Bytes& file, const PlayerLayout& layout) { file.resize(layout.data + 52); }, true},
};

TEST(GetPlayerVersion, DamagedPlayersGiveTheirVersionOrNone)
{
    size_t count = sizeof damages / sizeof damages[0];
    ExpectDamagedCopies("player-11.2.exe", 0x000B0002, damages, count);  // PE32+
    ExpectDamagedCopies("player-32.0.exe", 0x00200000, damages, count);  // PE32
}

}  // namespace
