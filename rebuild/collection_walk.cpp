// collection_walk.cpp - the walk over a collection's entries: each entry
// read once (into memory up to the limit), inspected, hashed and decoded;
// archives inside opened in turn; large entries read again on demand.
#include "rebuild/collection_walk.h"

#include <cstring>

#include "common/byte_source.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "rebuild/movie_identity.h"

namespace {

const uint32_t blockSize = 64 * 1024;

// One archive open in the chain from the collection file down.
struct Level {
    ArchiveReader* reader;
    std::string name;       // the name its entries are shown under
    int depth;              // of its entries: 1 for the collection file's
    const Level* parent;
    unsigned char* bytes;   // the archive's bytes when held in memory (owned), else null
    size_t size;
    uint64_t entryIndex;    // of its current entry, counting every header from 0
};

struct Walk {
    const char* path;
    CollectionOptions options;
    CollectionEntryCallback callback;
    void* context;
    FactsReader* reader;  // with options.facts
    bool stopped;         // the callback asked to stop
};

// An entry's bytes after the pass that read it: all of them, or the
// first and last blocks of an entry larger than the memory limit.
struct EntryBytes {
    uint64_t size;
    bool whole;
    unsigned char* bytes;  // whole: the entry (MemAlloc); else null
    unsigned char* head;   // not whole: its first block (MemAlloc)
    unsigned char* tail;   // not whole: its last bytes (MemAlloc, 2 blocks)
    uint32_t tailSize;
    bool hashed;
    unsigned char sha256[sha256Size];
};

void FreeEntryBytes(EntryBytes* entry)
{
    MemFree(entry->bytes);
    MemFree(entry->head);
    MemFree(entry->tail);
}

uint64_t Smaller(uint64_t a, uint64_t b) { return a < b ? a : b; }

// Reads until `buffer` is full or the entry ends: the count, or -1.
int64_t FillBlock(ArchiveReader* reader, unsigned char* buffer, size_t size)
{
    size_t filled = 0;
    while (filled < size) {
        int64_t count = ReadArchiveEntry(reader, buffer + filled, size - filled);
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        filled += (size_t)count;
    }
    return (int64_t)filled;
}

// ---- Reading a large entry again -------------------------------------

// The readers opened anew down to one entry, innermost last.
struct Reopened {
    ArchiveReader* readers[archiveNestingLimit + 1];
    int count;
};

void CloseReopened(Reopened* chain)
{
    for (int i = chain->count - 1; i >= 0; i--)
        CloseArchive(chain->readers[i]);
    chain->count = 0;
}

// Moves a fresh reader onto its entry number `index`.
bool AdvanceTo(ArchiveReader* reader, uint64_t index)
{
    ArchiveEntry entry;
    for (uint64_t i = 0; i <= index; i++) {
        EntryStep step = NextArchiveEntry(reader, &entry);
        if (step != EntryStep::Entry && step != EntryStep::BadEntry)
            return false;
    }
    return true;
}

// Opens the chain down to the current entry of `level`, starting from the
// nearest archive held in memory, or from the collection file.
bool Reopen(const Walk* walk, const Level* level, Reopened* chain)
{
    const Level* path[archiveNestingLimit + 1];
    int count = 0;
    for (const Level* at = level; at; at = at->bytes ? nullptr : at->parent)
        path[count++] = at;
    const Level* base = path[count - 1];
    std::string error;
    chain->count = 0;
    ArchiveReader* reader = base->bytes ? OpenArchiveInMemory(base->bytes, base->size, &error)
                                        : OpenArchiveFile(walk->path, &error);
    for (int i = count - 1; reader; i--) {
        chain->readers[chain->count++] = reader;
        if (!AdvanceTo(reader, path[i]->entryIndex))
            break;
        if (i == 0)
            return true;
        reader = OpenArchiveInEntry(reader, nullptr, 0, &error);
    }
    CloseReopened(chain);
    return false;
}

// A large entry as a byte source: its first and last bytes from memory,
// the rest read again from the archive a block at a time, going forward;
// a read behind the stream opens the chain anew.
struct Reread {
    const Walk* walk;
    const Level* level;
    const EntryBytes* entry;
    Reopened chain;
    uint64_t position;      // of the reopened stream within the entry
    unsigned char* window;  // the block last read from it (MemAlloc)
    uint64_t windowStart;
    uint32_t windowSize;
};

// Reads the block that starts at `start` into the window.
bool FetchBlock(Reread* reread, uint64_t start)
{
    if (reread->chain.count == 0 || reread->position > start) {
        CloseReopened(&reread->chain);
        reread->position = 0;
        if (!Reopen(reread->walk, reread->level, &reread->chain))
            return false;
    }
    ArchiveReader* reader = reread->chain.readers[reread->chain.count - 1];
    reread->windowSize = 0;
    while (reread->position <= start) {
        int64_t count = FillBlock(reader, reread->window, blockSize);
        if (count <= 0)
            return false;
        reread->windowStart = reread->position;
        reread->windowSize = (uint32_t)count;
        reread->position += (uint64_t)count;
    }
    return reread->windowStart == start;
}

// Copies what `bytes` (`size` bytes at `start`) hold of the range.
uint32_t CopyHeld(const unsigned char* bytes, uint64_t start, uint64_t size, uint64_t offset,
                  unsigned char* buffer, uint32_t count)
{
    if (!bytes || offset < start || offset >= start + size)
        return 0;
    uint32_t length = (uint32_t)Smaller(count, start + size - offset);
    memcpy(buffer, bytes + (offset - start), length);
    return length;
}

uint32_t ReadAgain(const ByteSource* source, uint64_t offset, void* buffer, uint32_t count)
{
    Reread* reread = (Reread*)source->context;
    const EntryBytes* entry = reread->entry;
    unsigned char* out = (unsigned char*)buffer;
    uint32_t done = 0;
    count = (uint32_t)Smaller(count, entry->size - offset);
    while (done < count) {
        uint64_t at = offset + done;
        uint32_t want = count - done;
        uint32_t copied = CopyHeld(entry->head, 0, Smaller(blockSize, entry->size), at, out + done, want);
        if (!copied)
            copied = CopyHeld(entry->tail, entry->size - entry->tailSize, entry->tailSize, at,
                              out + done, want);
        if (!copied)
            copied = CopyHeld(reread->window, reread->windowStart, reread->windowSize, at,
                              out + done, want);
        if (!copied && !FetchBlock(reread, at - at % blockSize))
            break;
        done += copied;
    }
    return done;
}

}  // namespace

namespace {

// ---- Reading an entry once --------------------------------------------

bool WalkLevel(Walk* walk, Level* level, std::string* error);

// Copies `count` bytes; none (and no pointer is looked at) for 0.
void CopyBytes(unsigned char* to, const unsigned char* from, size_t count)
{
    if (count != 0)
        memcpy(to, from, count);
}

// An entry past the memory limit: from here on only its first and last
// blocks are kept. `block` is the block that passes the limit.
bool StopHoldingWhole(EntryBytes* entry, const unsigned char* block, uint32_t count)
{
    entry->whole = false;
    entry->head = (unsigned char*)MemAlloc(blockSize);
    entry->tail = (unsigned char*)MemAlloc(2 * blockSize);
    if (!entry->head || !entry->tail)
        return false;
    // The first block may still be arriving (a limit below its size).
    uint32_t held = (uint32_t)Smaller(blockSize, entry->size);
    CopyBytes(entry->head, entry->bytes, held);
    CopyBytes(entry->head + held, block, (size_t)Smaller(blockSize - held, count));
    uint32_t last = (uint32_t)Smaller(2 * blockSize, entry->size);
    CopyBytes(entry->tail, entry->bytes + entry->size - last, last);
    entry->tailSize = last;
    MemFree(entry->bytes);
    entry->bytes = nullptr;
    return true;
}

// Keeps one more block read from the entry: all bytes while the entry is
// within the memory limit, else its first block and its last two.
bool KeepBlock(EntryBytes* entry, const unsigned char* block, uint32_t count, uint64_t limit,
               size_t* capacity)
{
    if (count == 0)
        return true;
    uint64_t total = entry->size + count;
    if (entry->whole && total <= limit) {
        if (total > *capacity) {
            size_t grown = (size_t)Smaller(limit, total < *capacity * 2 ? *capacity * 2 : total);
            unsigned char* bytes = (unsigned char*)MemReAlloc(entry->bytes, grown);
            if (!bytes)
                return false;
            entry->bytes = bytes;
            *capacity = grown;
        }
        memcpy(entry->bytes + entry->size, block, count);
    } else {
        if (entry->whole && !StopHoldingWhole(entry, block, count))
            return false;
        uint32_t kept = (uint32_t)Smaller(2 * blockSize - count, entry->tailSize);
        memmove(entry->tail, entry->tail + entry->tailSize - kept, kept);
        memcpy(entry->tail + kept, block, count);
        entry->tailSize = kept + count;
    }
    entry->size = total;
    return true;
}

// Reads the rest of the current entry of `reader`, after `first` (the
// `firstSize` bytes read already), hashing every byte. False with
// `*error` when the entry cannot be read or kept.
bool ReadEntryBytes(ArchiveReader* reader, const unsigned char* first, uint32_t firstSize,
                    uint64_t limit, EntryBytes* entry, std::string* error)
{
    FillBytes(entry, 0, sizeof *entry);
    entry->whole = true;
    Sha256* hash = BeginSha256();
    unsigned char* block = (unsigned char*)MemAlloc(blockSize);
    size_t capacity = 0;
    bool kept = hash && block && KeepBlock(entry, first, firstSize, limit, &capacity) &&
                UpdateSha256(hash, first, firstSize);
    int64_t count = firstSize == blockSize ? 1 : 0;
    while (kept && count > 0) {
        count = FillBlock(reader, block, blockSize);
        kept = count >= 0 && KeepBlock(entry, block, (uint32_t)count, limit, &capacity) &&
               UpdateSha256(hash, block, (size_t)count);
    }
    MemFree(block);
    entry->hashed = FinishSha256(hash, entry->sha256);
    if (!kept || !entry->hashed) {
        *error = count < 0 ? ArchiveError(reader) : "out of memory";
        FreeEntryBytes(entry);
        return false;
    }
    return true;
}

// ---- Inspecting an entry ----------------------------------------------

bool Report(Walk* walk, const CollectionEntry& record)
{
    if (!walk->stopped && !walk->callback(record, walk->context))
        walk->stopped = true;
    return !walk->stopped;
}

void BeginRecord(const Level* level, const ArchiveEntry& entry, CollectionEntry* record)
{
    *record = CollectionEntry();
    record->name = EntryDisplayName(level->name, entry.path);
    record->path = entry.path;
    record->depth = level->depth;
    record->movieError = FailureKind::NoMovie;
}

void ReportFailure(Walk* walk, const Level* level, const ArchiveEntry& entry,
                   const std::string& error)
{
    CollectionEntry record;
    BeginRecord(level, entry, &record);
    record.failed = true;
    record.error = error;
    Report(walk, record);
}

// An entry read and located (`record->location`), with the identity and
// facts of its movie, to the callback.
void ReportFile(Walk* walk, const ByteSource* source, const EntryBytes& bytes,
                CollectionEntry* record)
{
    record->size = bytes.size;
    record->hasFileSha256 = bytes.hashed;
    memcpy(record->fileSha256, bytes.sha256, sha256Size);
    if (!walk->options.facts)
        record->movieError = FailureKind::None;
    else if (record->location.movieSize != 0) {
        record->movieError =
            ReadMovieIdentity(source, record->location, walk->reader, record->movieSha256).kind;
        record->hasMovieSha256 = record->movieError == FailureKind::None;
    }
    record->facts = record->hasMovieSha256 ? walk->reader : nullptr;
    record->source = source;
    Report(walk, *record);
}

// Walks an archive inside an entry: `opened` is its reader (null when it
// could not be opened, for the reason in `*error`), and its level takes
// `bytes` (may be null). A failure after its first entry is reported as
// the entry's; before it, or when it ends without an entry, the result
// is false (with `*error` its reason, if any) and nothing is reported:
// the stream may be no archive at all.
bool WalkInner(Walk* walk, Level* level, const ArchiveEntry& entry, ArchiveReader* opened,
               unsigned char* bytes, size_t size, std::string* error)
{
    Level inner = {opened, EntryDisplayName(level->name, entry.path), level->depth + 1, level,
                   bytes, size, 0};
    bool walked = opened && WalkLevel(walk, &inner, error);
    bool started = opened && inner.entryIndex != 0;
    if (!walked && started && !walk->stopped)
        ReportFailure(walk, level, entry, *error);
    CloseArchive(opened);
    MemFree(bytes);
    // Read to its end without one entry, it was no archive (zeros read as
    // an empty tar file, say): the entry is a file.
    return started;
}

}  // namespace

namespace {

// An entry's first block as a source of its full size, which notes any
// read beyond the block instead of making one.
struct HeadOnly {
    ByteSource source;  // first, so that the source is the record
    bool missed;
};

uint32_t ReadHeadOnly(const ByteSource* source, uint64_t offset, void* buffer, uint32_t count)
{
    HeadOnly* head = (HeadOnly*)source;
    if (offset + count > blockSize) {
        head->missed = true;
        return 0;
    }
    memcpy(buffer, (const unsigned char*)source->context + offset, count);
    return count;
}

// An entry larger than the memory limit that starts an archive, and that
// inspection reads nothing more of (no program, no movie), is opened as an
// archive as it streams, without a first pass over it.
bool StreamsAsArchive(const Walk* walk, const Level* level, const ArchiveEntry& entry,
                      const unsigned char* first, int64_t count)
{
    if (count != blockSize || !entry.sizeKnown || entry.size <= walk->options.memoryLimit ||
        level->depth >= archiveNestingLimit || !LooksLikeArchive(first, blockSize, false))
        return false;
    HeadOnly head = {{entry.size, ReadHeadOnly, (void*)first}, false};
    MovieInfo location;
    InspectMovieSource(&head.source, &location);
    return !head.missed && location.movieSize == 0 && location.layout == PlayerLayout::None;
}

void InspectEntry(Walk* walk, Level* level, const ArchiveEntry& entry, EntryBytes* bytes);

// Reads the current entry of `level` from its start again (after a stream
// that looked like an archive and was none) and inspects it as a file.
void InspectAgain(Walk* walk, Level* level, const ArchiveEntry& entry)
{
    Reopened chain;
    EntryBytes bytes;
    std::string error = "the entry cannot be read again";
    bool read = Reopen(walk, level, &chain) &&
                ReadEntryBytes(chain.readers[chain.count - 1], nullptr, 0,
                               walk->options.memoryLimit, &bytes, &error);
    CloseReopened(&chain);
    if (!read) {
        ReportFailure(walk, level, entry, error);
        return;
    }
    InspectEntry(walk, level, entry, &bytes);
    FreeEntryBytes(&bytes);
}

void VisitEntry(Walk* walk, Level* level, const ArchiveEntry& entry)
{
    unsigned char* first = (unsigned char*)MemAlloc(blockSize);
    int64_t count = first ? FillBlock(level->reader, first, blockSize) : -1;
    if (count < 0) {
        ReportFailure(walk, level, entry, first ? ArchiveError(level->reader) : "out of memory");
        MemFree(first);
        return;
    }
    if (StreamsAsArchive(walk, level, entry, first, count)) {
        std::string error;
        ArchiveReader* inner = OpenArchiveInEntry(level->reader, first, (size_t)count, &error);
        MemFree(first);
        if (!WalkInner(walk, level, entry, inner, nullptr, 0, &error))
            InspectAgain(walk, level, entry);
        return;
    }
    EntryBytes bytes;
    std::string error;
    bool read = ReadEntryBytes(level->reader, first, (uint32_t)count, walk->options.memoryLimit,
                               &bytes, &error);
    MemFree(first);
    if (!read) {
        ReportFailure(walk, level, entry, error);
        return;
    }
    InspectEntry(walk, level, entry, &bytes);
    FreeEntryBytes(&bytes);
}

// An entry that holds no movie may be an archive: opened from its bytes
// in memory (which the inner level then owns), or read again as a stream.
bool OpenedAsArchive(Walk* walk, Level* level, const ArchiveEntry& entry, EntryBytes* bytes)
{
    if (level->depth >= archiveNestingLimit)
        return false;
    std::string error;
    if (bytes->whole) {
        if (!LooksLikeArchive(bytes->bytes, (size_t)bytes->size, true))
            return false;
        ArchiveReader* inner = OpenArchiveInMemory(bytes->bytes, (size_t)bytes->size, &error);
        unsigned char* owned = bytes->bytes;
        bytes->bytes = nullptr;
        // Its first header was read from these bytes already: failing
        // before it now is damage, not another kind of file.
        if (!WalkInner(walk, level, entry, inner, owned, (size_t)bytes->size, &error))
            ReportFailure(walk, level, entry, error);
        return true;
    }
    // With a memory limit below one block the head may be the whole entry.
    size_t headSize = (size_t)Smaller(blockSize, bytes->size);
    if (!LooksLikeArchive(bytes->head, headSize, headSize == bytes->size))
        return false;
    Reopened chain;
    ArchiveReader* inner = Reopen(walk, level, &chain)
                               ? OpenArchiveInEntry(chain.readers[chain.count - 1], nullptr, 0, &error)
                               : nullptr;
    if (!inner && error.empty())
        error = "the entry cannot be read again";
    bool walked = WalkInner(walk, level, entry, inner, nullptr, 0, &error);
    CloseReopened(&chain);
    return walked;
}

void InspectEntry(Walk* walk, Level* level, const ArchiveEntry& entry, EntryBytes* bytes)
{
    Reread reread = {walk, level, bytes, {}, 0, nullptr, 0, 0};
    ByteSource source = MemorySource(bytes->bytes, bytes->whole ? (size_t)bytes->size : 0);
    if (!bytes->whole) {
        reread.window = (unsigned char*)MemAlloc(blockSize);
        source = ByteSource{bytes->size, ReadAgain, &reread};
    }
    CollectionEntry record;
    BeginRecord(level, entry, &record);
    InspectMovieSource(&source, &record.location);
    // A program without a movie may be a self-extracting archive.
    bool inner = record.location.movieSize == 0 && OpenedAsArchive(walk, level, entry, bytes);
    if (!inner && (bytes->whole || reread.window))
        ReportFile(walk, &source, *bytes, &record);
    else if (!inner)
        ReportFailure(walk, level, entry, "out of memory");
    CloseReopened(&reread.chain);
    MemFree(reread.window);
}

// Whether `name` names an entry inside the archive named `archive`.
bool IsInside(const std::string& name, const std::string& archive)
{
    return name.size() > archive.size() + 2 && name.compare(0, archive.size(), archive) == 0 &&
           name.compare(archive.size(), 2, "!/") == 0;
}

// Whether an entry is to be read: every one, or the one asked for, those
// that may hold it and those it holds.
bool IsWanted(const Walk* walk, const Level* level, const ArchiveEntry& entry)
{
    const std::string& only = walk->options.only;
    if (only.empty())
        return true;
    std::string name = EntryDisplayName(level->name, entry.path);
    return only == name || IsInside(only, name) || IsInside(name, only);
}

// Walks the entries of one archive; false when it cannot be read to its
// end (`*error` says why).
bool WalkLevel(Walk* walk, Level* level, std::string* error)
{
    ArchiveEntry entry;
    for (uint64_t index = 0; !walk->stopped; index++) {
        EntryStep step = NextArchiveEntry(level->reader, &entry);
        level->entryIndex = index;
        if (step == EntryStep::End)
            return true;
        if (step == EntryStep::Failed) {
            *error = ArchiveError(level->reader);
            return false;
        }
        if (step == EntryStep::BadEntry && IsWanted(walk, level, entry))
            ReportFailure(walk, level, entry, ArchiveError(level->reader));
        else if (step == EntryStep::Entry && entry.type == EntryType::Regular &&
                 IsWanted(walk, level, entry))
            VisitEntry(walk, level, entry);
    }
    return true;
}

}  // namespace

bool WalkCollection(const char* path, const std::string& name, const CollectionOptions& options,
                    CollectionEntryCallback callback, void* context, std::string* error)
{
    error->clear();
    ArchiveReader* reader = OpenArchiveFile(path, error);
    if (!reader)
        return false;
    Walk walk = {path, options, callback, context, nullptr, false};
    if (walk.options.memoryLimit == 0)
        walk.options.memoryLimit = defaultEntryMemoryLimit;
    if (options.facts)
        walk.reader = new FactsReader();
    Level top = {reader, name, 1, nullptr, nullptr, 0, 0};
    bool walked = WalkLevel(&walk, &top, error);
    CloseArchive(reader);
    delete walk.reader;
    return walked;
}

bool IsCollectionFile(const char* path)
{
    PlatformFile* file = OpenFileForRead(path);
    unsigned char* head = file ? (unsigned char*)MemAlloc(blockSize) : nullptr;
    uint32_t count = head ? ReadFileBytes(file, head, blockSize) : 0;
    bool looks = count != 0 && LooksLikeArchive(head, count, count < blockSize);
    MemFree(head);
    CloseFile(file);
    return looks;
}
