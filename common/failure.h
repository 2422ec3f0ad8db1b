// failure.h - how every operation of the core says what went wrong: one
// kind from one enum, and a small record of the detail a message needs.
// Each front end turns kinds into its own words in one table.
#pragma once

#include <cstdint>

// What is wrong with a damaged compressed movie.
enum class Damage {
    None,
    DataError,         // the stream is corrupt at the failure's offset
    CutShort,          // the input ended before the stream did
    BadChecksum,       // the stream decoded to its end, but its check value is wrong
    DeclaredTooShort,  // the header declares a length below its own 8 bytes
    BadProperties,     // the codec's properties in front of the stream are invalid
};

enum class FailureKind {
    None,              // it worked
    NothingToDo,       // a Save that asks to keep both parts as they are
    // What the input holds.
    NoMovie,           // the file holds no movie, or cannot be opened
    NoPlayer,          // the file holds no player program
    FolderPlayer,      // the player is a .app folder, which is never written
    CutHeader,         // the movie ends inside its 8-byte header
    ShortLength,       // the movie declares a length shorter than its header
    CannotDecode,      // no decoder for the movie's compression in this build
    DamagedMovie,      // see Failure::damage and Failure::offset
    ReadFailed,        // a piece of an input could not be read whole
    // What the work needs.
    OutOfMemory,
    ThreadFailed,      // a worker thread could not be started
    ConversionFailed,  // a codec failed, or a result would not fit the format's 32-bit sizes
    Stopped,           // the receiver of the bytes asked to stop
    Cancelled,         // the caller's cancel flag was set (see Progress::cancel)
    // The output. Whatever the kind, no output file was created and an
    // existing file of the output's name is as it was.
    CreateFailed,      // no file can be created in the output's folder
    WriteFailed,       // writing, flushing or moving the output into place failed
    OutputExists,      // the output was not to replace a file, and its name was taken
    // The one exception to the rule above: the output replaced the file of
    // its name, but its folder could not be flushed to the disk, so after a
    // power cut the file it replaced may come back.
    NotFlushed,
};

struct Failure {
    FailureKind kind;
    Damage damage;    // with DamagedMovie; None otherwise
    uint64_t offset;  // with DamagedMovie: the byte of the compressed stream (0 = its first)
                      // where the damage was found
};

inline Failure FailureOf(FailureKind kind) { return Failure{kind, Damage::None, 0}; }
inline Failure NoFailure() { return FailureOf(FailureKind::None); }
inline bool Failed(const Failure& failure) { return failure.kind != FailureKind::None; }
