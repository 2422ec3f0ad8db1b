// movie_facts.cpp - fuzz target: the walk over a movie body must not
// crash, and must give the same facts fed whole as fed in pieces. The
// first input byte picks the piece size; the rest is the body.
#include "movie/movie_facts.h"
#include "fuzz_support.h"

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
    FUZZ_CHECK(SameFacts(whole.facts, pieces.facts));
    // Every tag has a 2-byte header; the text comes from the body.
    FUZZ_CHECK(whole.facts.tagCount <= size / 2 && whole.facts.metadata.size() <= size);
    return 0;
}
