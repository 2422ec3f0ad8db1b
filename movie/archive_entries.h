// archive_entries.h - the entries of collections read through libarchive:
// zip, 7z, rar, tar (plain, gzip, bzip2, xz), ISO 9660, CAB and WARC (the
// HTTP body of a response record). Each entry's content is a stream read
// into the caller's buffer, never unpacked to a file; an entry may be an
// archive itself, opened in turn over its stream or its bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class EntryType { Regular, Directory, Link, Device };

struct ArchiveEntry {
    std::string path;  // as the archive stores it (UTF-8 where the archive tells the encoding)
    EntryType type;    // hard links are Link; FIFOs and sockets count as Device
    bool sizeKnown;    // some streamed formats tell the size only at the entry's end
    uint64_t size;     // bytes of content (for WARC the HTTP body); with sizeKnown only
};

struct ArchiveReader;

// Opens the file at `path` as an archive. Null when it cannot be opened,
// with `*error` the reason; a file that holds no archive this reader knows
// fails at the first NextArchiveEntry (see LooksLikeArchive). The caller
// closes a reader with CloseArchive.
ArchiveReader* OpenArchiveFile(const char* path, std::string* error);

// Opens `size` bytes at `bytes` as an archive; they must outlive the
// reader. Every format can be read this way, 7z and seekable zip too.
ArchiveReader* OpenArchiveInMemory(const unsigned char* bytes, size_t size, std::string* error);

// Opens the rest of the content of the current entry of `outer` as an
// archive read as it streams, after `headSize` bytes at `head` (copied)
// that were read from the entry already. `outer` must stay on that entry
// while the reader lives. Formats that must seek (7z, say) fail here.
ArchiveReader* OpenArchiveInEntry(ArchiveReader* outer, const unsigned char* head,
                                  size_t headSize, std::string* error);

enum class EntryStep {
    Entry,     // `*entry` describes the next entry
    BadEntry,  // the next entry's header is unreadable (ArchiveError says why); later ones may not be
    End,       // no entries are left
    Failed,    // the archive cannot be read further (ArchiveError says why)
};

// Moves to the next entry, past whatever of the current one was not read.
EntryStep NextArchiveEntry(ArchiveReader* reader, ArchiveEntry* entry);

// Reads up to `size` bytes of the current entry's content into `buffer`:
// the count read, 0 at its end, -1 when it cannot be read (encrypted,
// damaged, an unsupported method; ArchiveError says why). Later entries
// may still be readable after a failure.
int64_t ReadArchiveEntry(ArchiveReader* reader, void* buffer, size_t size);

// libarchive's reason (or this reader's) for the last failure.
const char* ArchiveError(const ArchiveReader* reader);

// Releases the reader; null is ignored.
void CloseArchive(ArchiveReader* reader);

// Whether the `size` bytes at `bytes` begin an archive this reader knows,
// by libarchive's own detection. With `complete` they are the whole
// stream, and its first header must be read from them (an archive
// without entries, such as zeros read as tar, is none); otherwise they are its first bytes, and a format
// whose contents list comes later (7z), or a compression that needs more
// bytes than these to show what it holds (bzip2), counts too.
bool LooksLikeArchive(const unsigned char* bytes, size_t size, bool complete);

// The name an entry is shown under: "ARCHIVE!/PATH", where ARCHIVE is the
// file's own name or, nested, the name of the entry holding it.
std::string EntryDisplayName(const std::string& archiveName, const std::string& path);

// The last component of an entry's path as a file name that is safe to
// create in a folder of the caller's choosing. False (no name) for a path
// that is absolute, names a drive ("C:"), has a ".." component anywhere,
// or whose last component is empty, "." or "..", holds a control
// character or ':', ends in a dot or a space, or is a device name of
// Windows (CON, NUL, COM1, ...), which would not name a file there.
bool SafeEntryFileName(const std::string& path, std::string* name);
