// movie_facts.h - what a movie holds, read from its uncompressed body as it
// streams past: the stage, the frame rate and count, and a census of the
// top-level tags with the few facts some of them carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Tag codes are 10 bits wide.
const uint32_t tagCodeCount = 1024;
// The Metadata text is kept up to this many bytes; a longer text is cut.
const uint32_t metadataTextCap = 1024 * 1024;

// The facts of one movie body (the bytes after the 8-byte header). A fact
// whose bytes the body does not hold is absent (its `has...` flag false).
struct MovieFacts {
    bool hasStage;            // the frame rectangle was read whole
    int64_t stageWidthTwips;  // xMax - xMin, in twips (1/20 pixel)
    int64_t stageHeightTwips;
    bool hasFrames;           // the frame rate and count were read
    uint16_t frameRate;       // 8.8 fixed point: frames a second times 256
    uint16_t frameCount;
    uint32_t tagCount;        // complete top-level tags, the End tag included
    bool endTag;              // an End tag closed the movie within the body
    uint32_t tagCounts[tagCodeCount];  // complete tags by code
    bool hasBackground;       // from the first SetBackgroundColor tag
    uint32_t background;      // 0xRRGGBB
    bool hasFileAttributes;   // from the first FileAttributes tag
    uint8_t fileAttributes;   // its first byte (the fileAttribute... bits)
    bool hasMetadata;         // from the first Metadata tag
    std::string metadata;     // its text up to the terminating zero, at most metadataTextCap bytes
    bool isProtected;         // a Protect tag
    bool debugger;            // an EnableDebugger or EnableDebugger2 tag
};

// Bits of the first byte of a FileAttributes tag.
const uint8_t fileAttributeUseNetwork = 0x01;
const uint8_t fileAttributeActionScript3 = 0x08;
const uint8_t fileAttributeHasMetadata = 0x10;
const uint8_t fileAttributeUseGpu = 0x20;
const uint8_t fileAttributeUseDirectBlit = 0x40;

// 2 when the movie's FileAttributes say ActionScript 3, else 1.
int ActionScriptVirtualMachine(const MovieFacts& facts);

// The numbers of the facts as both front ends write them, exactly and
// without the zeros that end a fraction. Twips as pixels (1/20): "550",
// "551.25", "-0.05". An 8.8 fixed-point frame rate: 0x1800 "24", 0x1DF7
// "29.96484375".
std::string FormatTwips(int64_t twips);
std::string FormatFrameRate(uint16_t rate);

// The walk over one body, fed in pieces of any size: a piece may end
// inside the rectangle, a tag header or a tag body. Tag bodies are skipped
// without being held, except the few bytes of the tags it reads. A tag
// counts, and its facts stand, only once its whole body has gone by.
struct FactsReader {
    MovieFacts facts;
    int stage;                 // where the walk stands (movie_facts.cpp)
    unsigned char held[17];    // the rectangle, frame fields or tag header read so far
    uint32_t heldCount;
    uint32_t heldNeeded;       // bytes `held` must reach before the next step
    uint32_t tagCode;          // the tag whose body is going by
    uint32_t tagLeft;          // its body bytes still to come
    uint32_t tagRead;          // its body bytes seen so far
    unsigned char tagBytes[3]; // the first bytes of a tag whose bytes are read
    bool keepingText;          // a Metadata text still before its terminating zero
    std::string text;          // that text so far
};

// Readies `reader` for a new body.
void BeginFacts(FactsReader* reader);
// Walks `length` more bytes of the body. Returns true while more bytes can
// still change the facts, false once the walk is over (an End tag read).
bool ReadFacts(FactsReader* reader, const unsigned char* data, size_t length);
// The body has ended: a tag still going by ran past the end and counts for
// nothing. The facts are final afterwards.
void EndFacts(FactsReader* reader);
