// rebuild.h - writing a rebuilt movie or projector, and extracting the
// player program of a projector.
#pragma once

#include <cstdint>

#include "../common/platform.h"
#include "../common/progress.h"
#include "body_decode.h"

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
struct MovieLocation;

// The file whose player a Save in `mode` puts in front of the movie of
// `moviePath` (inspected as `source`): `playerPath` for AddReplace,
// `moviePath` itself for Keep when it holds a player; null when the output
// holds no player. The player version check applies to this file.
const char* SavedPlayerSource(RebuildMode mode, const char* moviePath, const char* playerPath,
                              const MovieInfo& source);
// The same for a source of any layout (LocateMovie): Keep names
// `moviePath` whenever it has a player, a .app folder included.
const char* SavedPlayerSource(RebuildMode mode, const char* moviePath, const char* playerPath,
                              const MovieLocation& source);

// Why an output was not written. Whatever the reason but NotFlushed, no
// output file was created and an existing file of the output's name is as
// it was.
enum class RebuildError {
    None,
    NothingToDo,     // mode 0
    NoMovie,         // the source holds no movie, or cannot be opened
    NoPlayer,        // the source holds no player program (extract)
    FolderPlayer,    // the player is a .app folder, which is never written (keep, extract)
    ReadFailed,      // a piece of a source could not be read whole
    DamagedMovie,    // the compressed movie is damaged
    OutOfMemory,     // a piece or a conversion did not fit in memory
    ConversionFailed,
    CreateFailed,    // no file can be created in the output's folder
    WriteFailed,     // writing, flushing or moving the output into place failed
    OutputExists,    // CommitMode::NoReplace, and a file had the output's name
    // The output replaced the file of its name, but the folder could not be
    // flushed: after a power cut the replaced file may come back.
    NotFlushed,
};

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
};

// Writes to `outPath` the source `moviePath` (a file or a .app folder of
// any layout, see LocateMovie) rebuilt by `mode`: the player bytes (the
// source's own for Keep, those of `playerPath` for AddReplace, none for
// Remove), the movie as stored, decompressed or recompressed, and next to
// it the movie size and magic of the player's layout whenever player
// bytes were written (a Windows player gets the projector trailer).
// The movie is decompressed or recompressed (zlib or LZMA; any compressed
// movie is decoded first); an LZMA output is assembled in memory (its
// header holds the compressed length) and written when complete.
// `progress` (may be null) shows conversions: while
// decompressing by compressed bytes consumed, while compressing by body
// bytes deflated. The stored movie is held in memory; the converted one
// is streamed to the output. Returns true when the output was written
// completely. The output is written beside its destination and moved over
// it only when complete, so `outPath` may name the source or the player
// file. `commit` says whether an existing file of that name is replaced
// (see CommitMode). On false, `*error` (if not null) says why.
bool RebuildMovieFile(const Progress* progress, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, RebuildError* error = nullptr,
                      RebuildDetails* details = nullptr,
                      CommitMode commit = CommitMode::Replace);

// A Save written in full beside the destination (see CreateOutputBeside),
// still open and not yet in place.
struct WrittenOutput {
    PlatformFile* file;
};

// RebuildMovieFile without its last step: on true the output is written
// in full to a temporary file beside `outPath` and left, open, in
// `*written`, which PlaceWrittenOutput then puts in place. That step
// waits for the disk (it flushes the file before the rename); a caller
// with more files to write can take it to another thread and go on.
bool WriteMovieOutput(const Progress* progress, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, WrittenOutput* written,
                      RebuildError* error = nullptr, RebuildDetails* details = nullptr);

// Flushes a written output to the disk and moves it to `outPath` as
// `commit` says, then flushes the folder (see CommitOutput): None,
// OutputExists, WriteFailed or NotFlushed. Nothing of the output but the
// destination is left afterwards, whatever the result.
RebuildError PlaceWrittenOutput(WrittenOutput* written, const char* outPath, CommitMode commit);
// PlaceWrittenOutput in two steps, for a batch that flushes a folder once
// for all the outputs it put there (see NameOutput): the output flushed
// and named (on None it stays open in `*written`, otherwise it is gone),
// then, once FlushOutputFolder has flushed its folder, finished with what
// that returned.
RebuildError NameWrittenOutput(WrittenOutput* written, const char* outPath, CommitMode commit);
RebuildError FinishWrittenOutput(WrittenOutput* written, bool folderFlushed);

// Writes the player program of `moviePath` (the bytes in front of its
// movie, or the whole of a player program without one; for Linux
// programs the ELF file proper) to `outPath`.
// Returns true when the output was written completely; as above otherwise.
bool ExtractPlayer(const char* moviePath, const char* outPath, RebuildError* error = nullptr,
                   CommitMode commit = CommitMode::Replace);
