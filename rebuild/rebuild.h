// rebuild.h - writing a rebuilt movie or projector, and extracting the
// player program of a projector.
#pragma once

#include "common/byte_source.h"

#include <cstdint>

#include "common/failure.h"
#include "common/platform.h"
#include "common/progress.h"
#include "rebuild/output_file.h"

// What Save does with the movie body.
// CompressLzma writes an LZMA-compressed ("ZWS") movie.
enum class MovieAction : uint16_t { Keep = 0, Decompress = 1, Compress = 2, CompressLzma = 3 };
// What Save does with the player program in front of the movie.
enum class PlayerAction : uint16_t { Keep = 0, Remove = 1, AddReplace = 2 };

// A Save request: PlayerAction in the high 16 bits, MovieAction in the low
// 16 bits. 0 (Keep for both) asks for nothing.
typedef uint32_t RebuildMode;

inline RebuildMode MakeRebuildMode(PlayerAction player, MovieAction movie)
{
    return (uint32_t)player << 16 | (uint32_t)movie;
}
inline PlayerAction PlayerActionOf(RebuildMode mode) { return (PlayerAction)(mode >> 16); }
inline MovieAction MovieActionOf(RebuildMode mode) { return (MovieAction)(mode & 0xFFFF); }

struct MovieInfo;

// The file whose player a Save in `mode` puts in front of the movie of
// `moviePath` (inspected as `source`): `playerPath` for AddReplace,
// `moviePath` itself for Keep when it has a player of any layout (a .app
// folder too); null when the output holds no player. The player version
// check applies to this file.
const char* SavedPlayerSource(RebuildMode mode, const char* moviePath, const char* playerPath,
                              const MovieInfo& source);

// Settings of one Save beyond its mode, and what it found; for callers
// that want them.
struct RebuildDetails {
    unsigned threads;      // in: deflate workers for Compress (0: one per core)
    uint64_t paddedBytes;  // out: zeros written after a stream that ended short of the declared length
    // in: with Decompress, a damaged compressed movie is written anyway with
    // the body bytes that decoded before the damage, declaring the length
    // written (the body is then held in memory before it is written).
    bool salvage;
    // out, after a salvage: the damage (None when the movie was whole), the
    // byte of the compressed stream where it was found (0 = its first), and
    // the length the written movie declares (header included).
    Damage damage;
    uint64_t damageOffset;
    uint64_t salvagedLength;
    // in: the deflate level of Compress (deflate_whole.h); 0 for the
    // default, whose output is no larger than zlib's level 9.
    int level = 0;
};

// Writes to `outPath` the source `moviePath` (a file or a .app folder of
// any layout, see InspectMovie) rebuilt by `mode`: the player bytes (the
// source's own for Keep, those of `playerPath` for AddReplace, none for
// Remove), the movie as stored, decompressed or recompressed, and next to
// it the movie size and magic of the player's layout whenever player
// bytes were written (a Windows player gets the projector trailer).
// The movie is decompressed or recompressed (zlib or LZMA; any compressed
// movie is decoded first); sizes stored in front of the movie (an LZMA
// movie's compressed length, a Linux projector's movie size, a salvage's
// declared length) are written once the movie is.
// `progress` (may be null) shows conversions: while
// decompressing by compressed bytes consumed, while compressing by body
// bytes deflated; its cancel flag stops the work between pieces and
// within conversions (Cancelled, nothing written) until the output is
// placed. A stored movie beyond wholeMovieLimit is read in pieces; the
// converted one is streamed to the output. The output is written beside its destination
// and moved over it only when complete, so `outPath` may name the source
// or the player file. `commit` says whether an existing file of that name
// is replaced (see CommitMode). Whatever the failure, no output file was created and an existing file
// of the output's name is as it was.
Failure RebuildMovieFile(const Progress* progress, const char* moviePath, const char* outPath,
                         const char* playerPath, RebuildMode mode,
                         RebuildDetails* details = nullptr,
                         CommitMode commit = CommitMode::Replace);

// RebuildMovieFile without its last step: when nothing failed the output
// is written in full beside `outPath` and left, open, in `*written`, which
// PlaceOutput (output_file.h) then puts in place. That step waits for the
// disk; a caller with more files to write can take it to another thread
// and go on.
Failure WriteMovieOutput(const Progress* progress, const char* moviePath, const char* outPath,
                         const char* playerPath, RebuildMode mode, OutputFile* written,
                         RebuildDetails* details = nullptr);

// The same for an input whose bytes `input` holds (an archive's entry),
// inspected as `source` (InspectMovieSource): its player, when kept, and
// its movie are read from it.
Failure WriteMovieOutputOf(const Progress* progress, const ByteSource* input,
                           const MovieInfo& source, const char* outPath, const char* playerPath,
                           RebuildMode mode, OutputFile* written, RebuildDetails* details);

// Writes the player program of `moviePath` (the bytes in front of its
// movie, or the whole of a player program without one; for Linux
// programs the ELF file proper) to `outPath`. `progress` (may be null)
// reports nothing; its cancel flag, set before the output is placed,
// makes it Cancelled with nothing written.
Failure ExtractPlayer(const char* moviePath, const char* outPath,
                      CommitMode commit = CommitMode::Replace, const Progress* progress = nullptr);
// The same for an input whose bytes `input` holds, inspected as `source`.
Failure ExtractPlayerOf(const ByteSource* input, const MovieInfo& source, const char* outPath,
                        CommitMode commit, const Progress* progress = nullptr);
