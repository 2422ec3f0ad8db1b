// length_cap.h - keeps the fuzz targets clear of the codec's up-front
// allocation of a compressed movie's declared length: a "CWS" header that
// declares more than 1 MiB is lowered to that. To be removed once the
// decompressor grows its output with what decodes.
#pragma once

#include <cstddef>

#include "../common/bytes.h"

const uint32_t fuzzDeclaredLengthCap = 1u << 20;

// Lowers the declared length of a "CWS" movie at `movie` (`size` bytes).
inline void CapDeclaredLength(unsigned char* movie, size_t size)
{
    if (size > 8 && movie[0] == 'C' && movie[1] == 'W' && movie[2] == 'S' &&
        ReadLe32(movie + 4) > fuzzDeclaredLengthCap)
        WriteLe32(movie + 4, fuzzDeclaredLengthCap);
}
