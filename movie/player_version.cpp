// player_version.cpp - the oldest player that plays a movie, from the
// movie's format version.
#include "player_version.h"

#include "movie_file.h"

namespace {

// Movie versions first..last need the player `requiredAtFirst` plus
// `step` for each version after the first.
struct RequirementRange {
    uint32_t first;
    uint32_t last;
    PackedVersion requiredAtFirst;
    PackedVersion step;
};

const RequirementRange requirementRanges[] = {
    {0, 10, 0x00000000, 0x10000},    // v.0
    {11, 11, 0x000A0002, 0},         // 10.2
    {12, 12, 0x000A0003, 0},         // 10.3
    {13, 22, 0x000B0000, 1},         // 11.0 to 11.9
    {23, 255, 0x000C0000, 0x10000},  // 12.0 to 244.0
};

// LZMA-compressed movies arrived with player 11.0, whatever version the
// header claims.
const uint32_t firstLzmaMovieVersion = 13;

}  // namespace

PackedVersion RequiredPlayerVersion(uint32_t header)
{
    uint32_t version = MovieVersion(header);
    if (MovieSignature(header) == signatureLzma && version < firstLzmaMovieVersion)
        version = firstLzmaMovieVersion;
    for (const RequirementRange& range : requirementRanges) {
        if (version >= range.first && version <= range.last)
            return range.requiredAtFirst + (version - range.first) * range.step;
    }
    return 0;
}
