// movie_facts_fuzz.cpp - the walk over a movie body must not crash, and
// must give the same facts fed whole as fed in pieces. The first input
// byte picks the piece size; the rest is the body.
#include <cstdlib>
#include <cstring>

#include "movie/movie_facts.h"

namespace {

bool SameFacts(const MovieFacts& a, const MovieFacts& b)
{
    return a.hasStage == b.hasStage && a.stageWidthTwips == b.stageWidthTwips &&
           a.stageHeightTwips == b.stageHeightTwips && a.hasFrames == b.hasFrames &&
           a.frameRate == b.frameRate && a.frameCount == b.frameCount &&
           a.tagCount == b.tagCount && a.endTag == b.endTag &&
           memcmp(a.tagCounts, b.tagCounts, sizeof a.tagCounts) == 0 &&
           a.hasBackground == b.hasBackground && a.background == b.background &&
           a.hasFileAttributes == b.hasFileAttributes && a.fileAttributes == b.fileAttributes &&
           a.hasMetadata == b.hasMetadata && a.metadata == b.metadata &&
           a.isProtected == b.isProtected && a.debugger == b.debugger;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    size_t pieceSize = data[0] % 16 + 1;
    data++;
    size--;
    static FactsReader whole, pieces;
    BeginFacts(&whole);
    ReadFacts(&whole, data, size);
    EndFacts(&whole);
    BeginFacts(&pieces);
    for (size_t at = 0; at < size; at += pieceSize)
        ReadFacts(&pieces, data + at, size - at < pieceSize ? size - at : pieceSize);
    EndFacts(&pieces);
    if (!SameFacts(whole.facts, pieces.facts))
        abort();
    if (whole.facts.tagCount > size / 2 || whole.facts.metadata.size() > size)
        abort();  // every tag has a 2-byte header; the text comes from the body
    return 0;
}
