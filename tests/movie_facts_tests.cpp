// movie_facts_tests.cpp - the walk over movie bodies: what it reads from
// well-formed and cut bodies, the same whatever the pieces it is fed in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "movie/movie_facts.h"
#include "test_support.h"

namespace {

// The frame rectangle with fields of `width` bits, most significant first.
Bytes Rectangle(uint32_t width, int32_t xMin, int32_t xMax, int32_t yMin, int32_t yMax)
{
    std::vector<bool> bits;
    for (int i = 4; i >= 0; i--)
        bits.push_back((width >> i) & 1);
    for (int32_t field : {xMin, xMax, yMin, yMax}) {
        for (int i = (int)width - 1; i >= 0; i--)
            bits.push_back(((uint32_t)field >> i) & 1);
    }
    Bytes bytes((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); i++)
        bytes[i / 8] |= bits[i] << (7 - i % 8);
    return bytes;
}

Bytes Le16(uint32_t value) { return {(unsigned char)value, (unsigned char)(value >> 8)}; }
Bytes Le32(uint32_t value) { return Concat(Le16(value & 0xFFFF), Le16(value >> 16)); }

// A tag with a short header when its body allows, unless `longHeader`.
Bytes Tag(uint32_t code, const Bytes& body, bool longHeader = false)
{
    if (body.size() < 0x3F && !longHeader)
        return Concat(Le16(code << 6 | (uint32_t)body.size()), body);
    return Concat(Concat(Le16(code << 6 | 0x3F), Le32((uint32_t)body.size())), body);
}

// A tag header that declares `length` body bytes, without them.
Bytes TagHeader(uint32_t code, uint32_t length)
{
    return Concat(Le16(code << 6 | 0x3F), Le32(length));
}

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined = Concat(joined, part);
    return joined;
}

const Bytes stage550 = Rectangle(15, 0, 11025, 0, 8000);  // 551.25 x 400 pixels
const Bytes frames = Concat(Le16(0x1DF7), Le16(3));
const Bytes end = Tag(0, {});

MovieFacts Walk(const Bytes& body, size_t pieceSize)
{
    FactsReader reader;
    BeginFacts(&reader);
    for (size_t at = 0; at < body.size(); at += pieceSize)
        ReadFacts(&reader, body.data() + at, std::min(pieceSize, body.size() - at));
    EndFacts(&reader);
    return reader.facts;
}

std::string Describe(const MovieFacts& facts)
{
    std::string text = "stage " + std::to_string(facts.hasStage) + " " +
                       std::to_string(facts.stageWidthTwips) + "x" +
                       std::to_string(facts.stageHeightTwips) + ", frames " +
                       std::to_string(facts.hasFrames) + " " + std::to_string(facts.frameRate) +
                       "/" + std::to_string(facts.frameCount) + ", tags " +
                       std::to_string(facts.tagCount) + " end " + std::to_string(facts.endTag) +
                       ", background " + std::to_string(facts.hasBackground) + " " +
                       std::to_string(facts.background) + ", attributes " +
                       std::to_string(facts.hasFileAttributes) + " " +
                       std::to_string(facts.fileAttributes) + ", metadata " +
                       std::to_string(facts.hasMetadata) + " " +
                       std::to_string(facts.metadata.size()) + " \"" +
                       facts.metadata.substr(0, 40) + "\", protected " +
                       std::to_string(facts.isProtected) + ", debugger " +
                       std::to_string(facts.debugger) + ", codes";
    for (uint32_t code = 0; code < tagCodeCount; code++) {
        if (facts.tagCounts[code])
            text += " " + std::to_string(code) + ":" + std::to_string(facts.tagCounts[code]);
    }
    return text;
}

// What a case expects; facts it does not name are those of an empty body.
struct Expected {
    bool hasStage;
    int64_t width, height;
    bool hasFrames;
    uint32_t tags;
    bool endTag;
    const char* codes;  // tagCounts as Describe writes them
    int background;     // -1: none
    int attributes;     // -1: none
    const char* metadata;  // null: none
    size_t metadataSize;
    bool isProtected, debugger;
};

TEST(MovieFacts, WalksBodiesWholeAndInAnyPieces)
{
    const Bytes bigText(metadataTextCap + 10, 'm');
    const struct {
        const char* name;
        Bytes body;
        Expected expected;
    } cases[] = {
        {"every fact; the first of each tag counts; nothing after End",
         Join({stage550, frames, Tag(69, {0x19, 0, 0, 0}), Tag(9, {0xFF, 0x00, 0x80}),
               Tag(9, {1, 2, 3}), Tag(77, Concat(Text("<rdf:RDF>caf\xc3\xa9"), {0, 'x'})),
               Tag(77, Text("second")), Tag(24, {}), Tag(64, {0, 0}, true), Tag(1, {}), end,
               Tag(58, {}), Tag(1, {})}),
         {true, 11025, 8000, true, 9, true, " 0:1 1:1 9:2 24:1 64:1 69:1 77:2", 0xFF0080, 0x19,
          "<rdf:RDF>caf\xc3\xa9", 14, true, true}},
        {"a tag running past the end counts for nothing",
         Join({stage550, frames, Tag(1, {}), TagHeader(24, 10), {1, 2, 3, 4}}),
         {true, 11025, 8000, true, 1, false, " 1:1", -1, -1, nullptr, 0, false, false}},
        {"a first Metadata tag running past the end gives no text",
         Join({stage550, frames, TagHeader(77, 100), Text("<x/>")}),
         {true, 11025, 8000, true, 0, false, "", -1, -1, nullptr, 0, false, false}},
        {"a long tag header cut short",
         Join({stage550, frames, Tag(1, {}), {0x3F, 0x06, 9}}),
         {true, 11025, 8000, true, 1, false, " 1:1", -1, -1, nullptr, 0, false, false}},
        {"a header cut inside the rectangle", Bytes(stage550.begin(), stage550.begin() + 5),
         {false, 0, 0, false, 0, false, "", -1, -1, nullptr, 0, false, false}},
        {"cut inside the frame fields", Concat(stage550, {0xF7}),
         {true, 11025, 8000, false, 0, false, "", -1, -1, nullptr, 0, false, false}},
        {"an empty body", {}, {false, 0, 0, false, 0, false, "", -1, -1, nullptr, 0, false, false}},
        {"a rectangle of 0-bit fields, and a closing End tag",
         Join({Rectangle(0, 0, 0, 0, 0), frames, end}),
         {true, 0, 0, true, 1, true, " 0:1", -1, -1, nullptr, 0, false, false}},
        {"xMax below xMin; 31-bit fields",
         Join({Rectangle(31, 1073741823, -1073741824, -20, 30), frames, end}),
         {true, -2147483647, 50, true, 1, true, " 0:1", -1, -1, nullptr, 0, false, false}},
        {"a first tag too short for its facts gives none, and decides",
         Join({stage550, frames, Tag(9, {1, 2}), Tag(9, {1, 2, 3}), Tag(69, {}), Tag(69, {8}),
               end}),
         {true, 11025, 8000, true, 5, true, " 0:1 9:2 69:2", -1, -1, nullptr, 0, false, false}},
        {"Metadata without its zero, and longer than the cap",
         Join({stage550, frames, Tag(77, bigText), Tag(58, {}), end}),
         {true, 11025, 8000, true, 3, true, " 0:1 58:1 77:1", -1, -1, "mmmm", metadataTextCap,
          false, true}},
        {"zeros after the frame fields are an End tag",
         Join({stage550, frames, Bytes(100, 0)}),
         {true, 11025, 8000, true, 1, true, " 0:1", -1, -1, nullptr, 0, false, false}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        MovieFacts whole = Walk(test.body, test.body.size() + 1);
        const Expected& expected = test.expected;
        EXPECT_EQ(expected.hasStage, whole.hasStage);
        EXPECT_EQ(expected.width, whole.stageWidthTwips);
        EXPECT_EQ(expected.height, whole.stageHeightTwips);
        EXPECT_EQ(expected.hasFrames, whole.hasFrames);
        if (expected.hasFrames) {
            EXPECT_EQ(0x1DF7, whole.frameRate);
            EXPECT_EQ(3, whole.frameCount);
        }
        EXPECT_EQ(expected.tags, whole.tagCount);
        EXPECT_EQ(expected.endTag, whole.endTag);
        std::string described = Describe(whole);
        EXPECT_EQ(expected.codes, described.substr(described.find(", codes") + 7));
        EXPECT_EQ(expected.background, whole.hasBackground ? (int)whole.background : -1);
        EXPECT_EQ(expected.attributes, whole.hasFileAttributes ? whole.fileAttributes : -1);
        EXPECT_EQ(expected.metadata != nullptr, whole.hasMetadata);
        EXPECT_EQ(expected.metadataSize, whole.metadata.size());
        EXPECT_EQ(0u, whole.metadata.find(expected.metadata ? expected.metadata : ""));
        EXPECT_EQ(expected.isProtected, whole.isProtected);
        EXPECT_EQ(expected.debugger, whole.debugger);
        for (size_t pieceSize : {1, 2, 3, 7, 64, 4096}) {
            MovieFacts pieces = Walk(test.body, pieceSize);
            EXPECT_EQ(described, Describe(pieces)) << "in pieces of " << pieceSize;
            EXPECT_EQ(whole.metadata, pieces.metadata) << "in pieces of " << pieceSize;
        }
    }
}

}  // namespace
