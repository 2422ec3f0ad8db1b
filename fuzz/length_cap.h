// length_cap.h - keeps the fuzz targets clear of the padding rule's cost:
// a compressed movie whose stream ends short of its declared length is
// padded with zeros up to it, so 16 bytes can ask for 4 GiB of output, in
// memory or on disk. A "CWS" header that declares more than 1 MiB is
// lowered to that, which keeps every run fast and within libFuzzer's
// memory limit. (Whether such a movie should be padded in full is the
// codec's question, not the fuzzers'.)
#pragma once

#include <cstddef>

#include "common/bytes.h"

const uint32_t fuzzDeclaredLengthCap = 1u << 20;

// Lowers the declared length of a "CWS" movie at `movie` (`size` bytes);
// with `everySignature`, that of an "FWS" or "ZWS" movie too, for the
// readers that pad every movie.
inline void CapDeclaredLength(unsigned char* movie, size_t size, bool everySignature = false)
{
    if (size <= 8)
        return;
    bool capped = movie[0] == 'C' || (everySignature && (movie[0] == 'F' || movie[0] == 'Z'));
    if (capped && movie[1] == 'W' && movie[2] == 'S' && ReadLe32(movie + 4) > fuzzDeclaredLengthCap)
        WriteLe32(movie + 4, fuzzDeclaredLengthCap);
}

// Lowers the declared length of every "ZWS" header anywhere in `data`,
// for the scan, which decodes candidates wherever they start: an LZMA
// decoder's dictionary is as large as the body a movie declares.
inline void CapEveryLzmaDeclaredLength(unsigned char* data, size_t size)
{
    for (size_t i = 0; i + 8 < size; i++) {
        if (data[i] == 'Z' && data[i + 1] == 'W' && data[i + 2] == 'S')
            CapDeclaredLength(data + i, size - i, true);
    }
}
