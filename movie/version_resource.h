// version_resource.h - the portable reader of a Windows program's version
// resource, behind GetPlayerVersion (player_version.h). Callers that want a
// player's version ask PlayerVersionOf; these are its parts, for the
// Windows build's fallback, the tests and the fuzzers.
#pragma once

#include <cstddef>

#include "common/byte_source.h"
#include "movie/player_version.h"

// The version of the PE program file at `path`, read straight from its
// section table and resource directory. Safe on any input; 0 when there
// is no readable version.
PackedVersion ReadVersionResourceOfFile(const char* path);
// The same for the program file whose bytes `source` holds.
PackedVersion ReadVersionResourceOfSource(const ByteSource* source);

// The file version in a version resource of `size` bytes: the fixed file
// information is looked for at 4-byte steps within the block's declared
// length and within `size`. 0 when it is not found.
PackedVersion FixedFileVersionIn(const unsigned char* resource, size_t size);
