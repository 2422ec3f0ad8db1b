// collection_walk.h - every file inside a collection (an archive, and the
// archives within it down to archiveNestingLimit levels) inspected as a
// file on disk would be: its layout and movie, the identity of the movie
// and of the file, and the facts of the movie.
//
// Memory stays flat whatever the size of the archive: an entry up to the
// memory limit is read once, into memory, and inspected and decoded
// there. A larger one is hashed as it streams past, keeping only its
// first and last 64 KiB; whatever else inspection needs is read again
// from the archive (opened anew down to the entry, from the nearest
// archive held in memory), in order, so a movie at the end of a large
// projector costs one more pass. A compressed movie is held as stored
// while it decodes, as for a file. A large entry that is itself an
// archive is read as it streams (formats that must seek, 7z, then fail
// for that entry with libarchive's reason).
#pragma once

#include <cstdint>
#include <string>

#include "common/byte_source.h"
#include "common/sha256.h"
#include "movie/archive_entries.h"
#include "movie/movie_file.h"
#include "rebuild/file_facts.h"

// An archive inside an archive inside ... is opened down to this level;
// deeper ones are reported as files.
const int archiveNestingLimit = 4;
// Entries up to this size are held in memory while they are inspected.
const uint64_t defaultEntryMemoryLimit = 64 * 1024 * 1024;

// One file inside the collection, or an archive inside it that failed.
struct CollectionEntry {
    std::string name;  // "ARCHIVE!/PATH", nested "outer.zip!/inner.7z!/game.swf"
    std::string path;  // its path within the innermost archive, as stored
    int depth;         // 1 for an entry of the collection file itself
    // The entry (or, for an archive inside, the rest of it) cannot be
    // read: `error` says why, in libarchive's words where it gave some.
    // Nothing below is set then.
    bool failed;
    std::string error;
    uint64_t size;           // bytes of the entry
    MovieInfo location;  // as InspectMovie reads a file of these bytes
    bool hasFileSha256;
    unsigned char fileSha256[sha256Size];  // of the entry's bytes
    // The identity of its movie (ReadMovieIdentity): with hasMovieSha256
    // false, `movieError` says why there is none (NoMovie for a file without).
    bool hasMovieSha256;
    unsigned char movieSha256[sha256Size];
    FailureKind movieError;
    // The facts of the movie when it decoded (the walk's own reader,
    // valid during the callback); else null.
    const FactsReader* facts;
    // The entry's bytes, for a caller that reads more of them (a check,
    // a scan, a copy): valid during the callback; null when failed.
    const ByteSource* source;
};

struct CollectionOptions {
    // Decode each movie for its identity and facts (one decode gives
    // both); without it only the layout and the file's hash are read, and
    // hasMovieSha256 is false with movieError None.
    bool facts;
    uint64_t memoryLimit;  // see above; 0 for defaultEntryMemoryLimit
    // When not empty, the name ("ARCHIVE!/PATH") of the one entry wanted:
    // every other entry is passed over unread, but for the archives on the
    // way to it. It is reported as any entry is (an archive itself is
    // then walked: its entries are reported).
    std::string only;
};

// Receives each entry in the order of the archive; returns false to stop.
typedef bool (*CollectionEntryCallback)(const CollectionEntry& entry, void* context);

// Walks the collection file at `path`, showing its entries under
// `name!/...`. Directories are passed over, links and devices skipped
// (they hold no bytes of their own). Returns false when the collection
// itself cannot be read to its end, with `*error` saying why; the entries
// before the damage were delivered. An archive inside that fails is one
// failed entry, and the walk goes on after it.
bool WalkCollection(const char* path, const std::string& name, const CollectionOptions& options,
                    CollectionEntryCallback callback, void* context, std::string* error);

// Whether the file at `path` starts an archive that WalkCollection reads
// (libarchive's detection over its first 64 KiB). A caller asks only
// about files that hold no movie: a self-extracting archive is a program.
bool IsCollectionFile(const char* path);
