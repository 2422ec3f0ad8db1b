// player_version.h - the player version a movie needs, the version of a
// player program, and the rule between them.
//
// Versions are packed: major number in the high 16 bits, minor number in
// the low 16 bits (the most significant half of a Windows file version),
// compared as unsigned numbers; 0 stands for no version.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_source.h"
#include "movie/movie_file.h"

typedef uint32_t PackedVersion;

inline uint32_t VersionMajor(PackedVersion version) { return version >> 16; }
inline uint32_t VersionMinor(PackedVersion version) { return version & 0xFFFF; }

// The oldest player that plays a movie with this MovieInfo header (0 for
// no movie). Every "ZWS" movie needs at least 11.0.
PackedVersion RequiredPlayerVersion(uint32_t header);

// Whether a player of version `player` is new enough for `required`.
inline bool PlayerIsNewEnough(PackedVersion player, PackedVersion required)
{
    return player >= required;
}

// The one question for a player's version: the version of the player of
// `path` (a file or a .app folder) inspected as `layout`. A Windows
// program's version resource, the CFBundleShortVersionString of a .app
// folder's XML Contents/Info.plist; 0 for Linux programs, which carry no
// version field of their own, for a binary property list, and for no
// player.
PackedVersion PlayerVersionOf(const char* path, PlayerLayout layout);
// The same for a program file whose bytes `source` holds (an archive's
// entry, say): a Windows program's version resource, read by the portable
// reader; 0 for every other layout.
PackedVersion PlayerVersionOfSource(const ByteSource* source, PlayerLayout layout);

// The original entry, for Windows programs: the file version (major.minor)
// of the program file at `path` from its version resource (type 16,
// identifier 1); 0 when it has none or the file cannot be read. On Windows
// the file is loaded as data by the system; elsewhere the portable reader
// of version_resource.h is used.
PackedVersion GetPlayerVersion(const char* path);

// The version at the start of a text such as "32.0.0.465" ("major.minor",
// a missing minor number counting as 0); 0 when it starts with no number
// or a number does not fit in 16 bits.
PackedVersion ParseVersionText(const char* text, size_t length);
