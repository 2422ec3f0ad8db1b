// movie_facts.cpp - the walk over a movie body: the frame rectangle, the
// frame rate and count, then the top-level tags, each a 16-bit header
// (code << 6 | length, with a 32-bit length after it when the short one is
// 0x3F) and its body. Sprites are tags like any other: not entered.
#include "movie/movie_facts.h"

#include <cstdio>
#include <cstring>

#include "common/bytes.h"

namespace {

// Where the walk stands.
enum Stage {
    stageRectangleSize,  // the first byte of the rectangle: how wide its fields are
    stageRectangle,
    stageFrames,         // frame rate and frame count, 16 bits each
    stageTagHeader,
    stageTagBody,
    stageOver,           // an End tag was read, or the body ended
};

const uint32_t shortLengthMask = 0x3F;
const uint32_t longLengthMarker = 0x3F;
const uint32_t shortHeaderSize = 2;
const uint32_t longHeaderSize = 6;
const uint32_t frameFieldsSize = 4;

// What the walk does with a tag of a code it knows; the others are counted
// and skipped.
enum class TagRole { End, Background, FileAttributes, Metadata, Protect, Debugger };

struct KnownTag {
    uint16_t code;
    TagRole role;
    uint8_t bytesRead;  // from the start of the first such tag's body
    const char* name;
};

const KnownTag knownTags[] = {
    {0, TagRole::End, 0, "End"},
    {9, TagRole::Background, 3, "SetBackgroundColor"},
    {24, TagRole::Protect, 0, "Protect"},
    {58, TagRole::Debugger, 0, "EnableDebugger"},
    {64, TagRole::Debugger, 0, "EnableDebugger2"},
    {69, TagRole::FileAttributes, 1, "FileAttributes"},
    {77, TagRole::Metadata, 0, "Metadata"},  // its text is read up to its zero
};

const KnownTag* FindKnownTag(uint32_t code)
{
    for (const KnownTag& tag : knownTags) {
        if (tag.code == code)
            return &tag;
    }
    return nullptr;
}

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

// Moves bytes into `held` until it has `heldNeeded`; returns how many of
// `length` it took.
size_t Hold(FactsReader* reader, const unsigned char* data, size_t length)
{
    size_t taken = Smaller(length, reader->heldNeeded - reader->heldCount);
    memcpy(reader->held + reader->heldCount, data, taken);
    reader->heldCount += (uint32_t)taken;
    return taken;
}

void Expect(FactsReader* reader, int stage, uint32_t bytes)
{
    reader->stage = stage;
    reader->heldCount = 0;
    reader->heldNeeded = bytes;
}

// A signed field of `width` bits at bit `position` of `bytes`, most
// significant bit first.
int64_t SignedBits(const unsigned char* bytes, uint32_t position, uint32_t width)
{
    if (width == 0)
        return 0;
    uint64_t value = 0;
    for (uint32_t i = 0; i < width; i++) {
        uint32_t bit = position + i;
        value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
    }
    uint64_t sign = (uint64_t)1 << (width - 1);
    return (int64_t)(value ^ sign) - (int64_t)sign;
}

// The rectangle: 5 bits of field width, then xMin, xMax, yMin, yMax.
uint32_t RectangleSize(unsigned char first)
{
    uint32_t width = first >> 3;
    return (5 + 4 * width + 7) / 8;
}

void ReadRectangle(FactsReader* reader)
{
    uint32_t width = reader->held[0] >> 3;
    const unsigned char* bits = reader->held;
    MovieFacts* facts = &reader->facts;
    facts->stageWidthTwips = SignedBits(bits, 5 + width, width) - SignedBits(bits, 5, width);
    facts->stageHeightTwips =
        SignedBits(bits, 5 + 3 * width, width) - SignedBits(bits, 5 + 2 * width, width);
    facts->hasStage = true;
}

void ReadFrameFields(FactsReader* reader)
{
    reader->facts.frameRate = ReadLe16(reader->held);
    reader->facts.frameCount = ReadLe16(reader->held + 2);
    reader->facts.hasFrames = true;
}

bool IsFirstOfItsCode(const FactsReader* reader)
{
    return reader->facts.tagCounts[reader->tagCode] == 0;
}

// The tag whose body has now gone by whole: it counts, and the first of a
// known code gives its facts.
void CompleteTag(FactsReader* reader)
{
    MovieFacts* facts = &reader->facts;
    const KnownTag* known = FindKnownTag(reader->tagCode);
    bool first = IsFirstOfItsCode(reader);
    facts->tagCount++;
    facts->tagCounts[reader->tagCode]++;
    Expect(reader, stageTagHeader, shortHeaderSize);
    if (!known)
        return;
    const unsigned char* bytes = reader->tagBytes;
    bool whole = reader->tagRead >= known->bytesRead;  // a shorter body gives nothing
    switch (known->role) {
    case TagRole::End:
        facts->endTag = true;
        reader->stage = stageOver;
        break;
    case TagRole::Background:
        if (first && whole) {
            facts->hasBackground = true;
            facts->background = (uint32_t)bytes[0] << 16 | (uint32_t)bytes[1] << 8 | bytes[2];
        }
        break;
    case TagRole::FileAttributes:
        if (first && whole) {
            facts->hasFileAttributes = true;
            facts->fileAttributes = bytes[0];
        }
        break;
    case TagRole::Metadata:
        if (first) {
            facts->hasMetadata = true;
            facts->metadata.swap(reader->text);
        }
        break;
    case TagRole::Protect: facts->isProtected = true; break;
    case TagRole::Debugger: facts->debugger = true; break;
    }
}

void StartTag(FactsReader* reader)
{
    uint32_t header = ReadLe16(reader->held);
    if (reader->heldNeeded == shortHeaderSize && (header & shortLengthMask) == longLengthMarker) {
        reader->heldNeeded = longHeaderSize;  // the 32-bit length follows
        return;
    }
    reader->tagCode = header >> 6;
    reader->tagLeft = reader->heldNeeded == longHeaderSize ? ReadLe32(reader->held + 2)
                                                           : header & shortLengthMask;
    reader->tagRead = 0;
    reader->text.clear();
    reader->keepingText = reader->tagCode == 77 && IsFirstOfItsCode(reader);
    reader->stage = stageTagBody;
    if (reader->tagLeft == 0)
        CompleteTag(reader);
}

// Keeps what the walk reads of the tag body in `data`: the first bytes of
// a known tag, or the Metadata text up to its zero.
void KeepTagBytes(FactsReader* reader, const unsigned char* data, size_t length)
{
    const KnownTag* known = FindKnownTag(reader->tagCode);
    if (known && reader->tagRead < known->bytesRead) {
        size_t wanted = Smaller(length, known->bytesRead - reader->tagRead);
        memcpy(reader->tagBytes + reader->tagRead, data, wanted);
    }
    if (!reader->keepingText)
        return;
    const unsigned char* zero = (const unsigned char*)memchr(data, 0, length);
    size_t textLength = zero ? (size_t)(zero - data) : length;
    size_t room = metadataTextCap - reader->text.size();
    reader->text.append((const char*)data, Smaller(textLength, room));
    if (zero || reader->text.size() == metadataTextCap)
        reader->keepingText = false;
}

size_t SkipTagBody(FactsReader* reader, const unsigned char* data, size_t length)
{
    size_t taken = Smaller(length, reader->tagLeft);
    KeepTagBytes(reader, data, taken);
    reader->tagLeft -= (uint32_t)taken;
    reader->tagRead += (uint32_t)taken;  // never above the tag's 32-bit length
    if (reader->tagLeft == 0)
        CompleteTag(reader);
    return taken;
}

// One step of the walk over `data`; returns how many bytes it used.
size_t Step(FactsReader* reader, const unsigned char* data, size_t length)
{
    if (reader->stage == stageTagBody)
        return SkipTagBody(reader, data, length);
    size_t taken = Hold(reader, data, length);
    if (reader->heldCount < reader->heldNeeded)
        return taken;
    switch (reader->stage) {
    case stageRectangleSize:
        reader->stage = stageRectangle;
        reader->heldNeeded = RectangleSize(reader->held[0]);
        if (reader->heldNeeded > 1)
            break;
        [[fallthrough]];  // a rectangle of 0-bit fields is its first byte alone
    case stageRectangle:
        ReadRectangle(reader);
        Expect(reader, stageFrames, frameFieldsSize);
        break;
    case stageFrames:
        ReadFrameFields(reader);
        Expect(reader, stageTagHeader, shortHeaderSize);
        break;
    case stageTagHeader:
        StartTag(reader);
        break;
    }
    return taken;
}

}  // namespace

int ActionScriptVirtualMachine(const MovieFacts& facts)
{
    bool as3 = facts.hasFileAttributes && (facts.fileAttributes & fileAttributeActionScript3);
    return as3 ? 2 : 1;
}

namespace {
// `whole` and a fraction of `digits` decimals ("0.05" is 0, 5, 2), without
// the zeros that end the fraction.
std::string FormatFixed(uint64_t whole, uint64_t fraction, int digits)
{
    std::string text = std::to_string(whole);
    if (fraction == 0)
        return text;
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%0*llu", digits, (unsigned long long)fraction);
    std::string decimals = buffer;
    decimals.erase(decimals.find_last_not_of('0') + 1);
    return text + "." + decimals;
}
}  // namespace

std::string FormatTwips(int64_t twips)
{
    uint64_t size = twips < 0 ? 0 - (uint64_t)twips : (uint64_t)twips;
    std::string text = FormatFixed(size / 20, size % 20 * 5, 2);
    return twips < 0 ? "-" + text : text;
}

std::string FormatFrameRate(uint16_t rate)
{
    // 1/256 = 0.00390625: every fraction has at most 8 decimals.
    return FormatFixed(rate >> 8, (uint64_t)(rate & 0xFF) * 390625, 8);
}

void BeginFacts(FactsReader* reader)
{
    MovieFacts* facts = &reader->facts;
    facts->hasStage = false;
    facts->stageWidthTwips = facts->stageHeightTwips = 0;
    facts->hasFrames = false;
    facts->frameRate = facts->frameCount = 0;
    facts->tagCount = 0;
    facts->endTag = false;
    memset(facts->tagCounts, 0, sizeof facts->tagCounts);
    facts->hasBackground = facts->hasFileAttributes = facts->hasMetadata = false;
    facts->background = 0;
    facts->fileAttributes = 0;
    facts->metadata.clear();
    facts->isProtected = facts->debugger = false;
    Expect(reader, stageRectangleSize, 1);
    reader->tagCode = reader->tagLeft = reader->tagRead = 0;
    reader->keepingText = false;
    reader->text.clear();
}

bool ReadFacts(FactsReader* reader, const unsigned char* data, size_t length)
{
    while (length != 0 && reader->stage != stageOver) {
        size_t taken = Step(reader, data, length);
        data += taken;
        length -= taken;
    }
    return reader->stage != stageOver;
}

void EndFacts(FactsReader* reader)
{
    reader->stage = stageOver;
    reader->text.clear();
}
