// archive_entries.cpp - libarchive readers over files (through the
// platform layer, so that every path the program takes opens), memory and
// the stream of an outer entry; the HTTP body of WARC response records.
#include "movie/archive_entries.h"

#include <archive.h>
#include <archive_entry.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/platform.h"

namespace {

const size_t blockSize = 64 * 1024;
// The HTTP status line and headers of a WARC response record, and the
// header block of a WARC record, must end within this many bytes.
const size_t httpHeaderLimit = 64 * 1024;
const size_t warcHeaderLimit = 64 * 1024;

// How the content of a WARC response record reaches the caller.
enum class HttpBody { None, Plain, Chunked };
// Where the reading of a chunked body stands.
enum class ChunkStage { Size, Data, DataEnd, Trailer, Done };

}  // namespace

struct ArchiveReader {
    struct archive* archive;
    // The input: an open file, or the current entry of an outer reader.
    PlatformFile* file;
    uint64_t filePosition;
    uint64_t fileSize;
    ArchiveReader* outer;
    unsigned char* block;  // MemAlloc, blockSize: what the input callback hands over
    unsigned char* head;   // MemAlloc: bytes of the outer entry handed over first
    size_t headSize;
    bool headGiven;
    std::string error;
    std::string entryError;  // why the current entry cannot be read, found ahead of its reading
    // A WARC file is read as libarchive's raw (decompressed) stream, its
    // records framed here: libarchive's own WARC reader (3.6) loses its
    // place after a record read in more than one piece. `stream` holds
    // bytes of the raw stream read ahead.
    bool warc;
    unsigned char* scratch;  // MemAlloc, blockSize: stream bytes read or passed over
    std::string stream;
    size_t streamUsed;
    uint64_t recordLeft;  // content bytes of the current record not yet read
    // The current entry of a WARC archive: its HTTP headers, read ahead,
    // are dropped, and the body bytes read with them are kept here.
    HttpBody http;
    std::string pending;
    size_t pendingUsed;
    ChunkStage chunkStage;
    uint64_t chunkLeft;
    std::string chunkLine;
};

namespace {

// The formats and compressions of collections; no others, so that a text
// file is never taken for a list of files (mtree) or the like.
void SupportCollections(struct archive* archive)
{
    archive_read_support_filter_gzip(archive);
    archive_read_support_filter_bzip2(archive);
    archive_read_support_filter_xz(archive);
    archive_read_support_format_zip(archive);
    archive_read_support_format_7zip(archive);
    archive_read_support_format_rar(archive);
    archive_read_support_format_rar5(archive);
    archive_read_support_format_tar(archive);
    archive_read_support_format_iso9660(archive);
    archive_read_support_format_cab(archive);
    archive_read_support_format_warc(archive);
}

// Whether the first bytes of an input, decompressed, start a WARC record.
bool IsWarcStream(const unsigned char* head, size_t size)
{
    struct archive* archive = archive_read_new();
    if (!archive)
        return false;
    archive_read_support_filter_gzip(archive);
    archive_read_support_filter_bzip2(archive);
    archive_read_support_filter_xz(archive);
    archive_read_support_format_raw(archive);
    struct archive_entry* header = nullptr;
    char start[5] = {0};
    bool warc = archive_read_open_memory(archive, head, size) == ARCHIVE_OK &&
                archive_read_next_header(archive, &header) == ARCHIVE_OK &&
                archive_read_data(archive, start, sizeof start) == (la_ssize_t)sizeof start &&
                memcmp(start, "WARC/", sizeof start) == 0;
    archive_read_free(archive);
    return warc;
}

// A reader for an input that starts with `head`: a WARC file as a raw
// stream, anything else with the formats of collections.
ArchiveReader* NewReader(const unsigned char* head, size_t headSize)
{
    ArchiveReader* reader = new ArchiveReader();
    reader->archive = archive_read_new();
    reader->block = (unsigned char*)MemAlloc(blockSize);
    if (!reader->archive || !reader->block) {
        CloseArchive(reader);
        return nullptr;
    }
    reader->warc = IsWarcStream(head, headSize);
    // The block belongs to the input callbacks; WARC framing reads into
    // a buffer of its own.
    reader->scratch = reader->warc ? (unsigned char*)MemAlloc(blockSize) : nullptr;
    if (reader->warc && !reader->scratch) {
        CloseArchive(reader);
        return nullptr;
    }
    if (reader->warc) {
        archive_read_support_filter_gzip(reader->archive);
        archive_read_support_filter_bzip2(reader->archive);
        archive_read_support_filter_xz(reader->archive);
        archive_read_support_format_raw(reader->archive);
    } else {
        SupportCollections(reader->archive);
    }
    return reader;
}

const char* LibraryError(struct archive* archive, const char* otherwise)
{
    const char* text = archive ? archive_error_string(archive) : nullptr;
    return text ? text : otherwise;
}

// The reader once its input is open, or null with libarchive's reason.
ArchiveReader* Opened(ArchiveReader* reader, int result, std::string* error)
{
    // The raw stream of a WARC file is the one entry of its reader.
    struct archive_entry* header = nullptr;
    if (result == ARCHIVE_OK && reader->warc)
        result = archive_read_next_header(reader->archive, &header);
    if (result == ARCHIVE_OK)
        return reader;
    *error = LibraryError(reader->archive, "cannot be read");
    CloseArchive(reader);
    return nullptr;
}

la_ssize_t ReadFileBlock(struct archive*, void* context, const void** buffer)
{
    ArchiveReader* reader = (ArchiveReader*)context;
    uint32_t count = ReadFileBytes(reader->file, reader->block, (uint32_t)blockSize);
    reader->filePosition += count;
    *buffer = reader->block;
    return count;
}

la_int64_t SeekFileTo(struct archive*, void* context, la_int64_t offset, int whence)
{
    ArchiveReader* reader = (ArchiveReader*)context;
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? (int64_t)reader->filePosition
                                        : (int64_t)reader->fileSize;
    int64_t target = base + offset;
    if (target < 0 || !SeekFile(reader->file, (uint64_t)target))
        return ARCHIVE_FATAL;
    reader->filePosition = (uint64_t)target;
    return target;
}

la_int64_t SkipFile(struct archive* archive, void* context, la_int64_t request)
{
    ArchiveReader* reader = (ArchiveReader*)context;
    uint64_t left = reader->fileSize > reader->filePosition
                        ? reader->fileSize - reader->filePosition : 0;
    la_int64_t skip = (uint64_t)request < left ? request : (la_int64_t)left;
    return SeekFileTo(archive, context, skip, SEEK_CUR) < 0 ? 0 : skip;
}

// The outer entry's stream: the bytes read before the reader was opened,
// then the rest of the entry.
la_ssize_t ReadOuterBlock(struct archive* archive, void* context, const void** buffer)
{
    ArchiveReader* reader = (ArchiveReader*)context;
    *buffer = reader->block;
    if (!reader->headGiven) {
        reader->headGiven = true;
        if (reader->headSize != 0) {
            *buffer = reader->head;
            return (la_ssize_t)reader->headSize;
        }
    }
    int64_t count = ReadArchiveEntry(reader->outer, reader->block, blockSize);
    if (count < 0) {
        archive_set_error(archive, -1, "%s", ArchiveError(reader->outer));
        return ARCHIVE_FATAL;
    }
    return (la_ssize_t)count;
}

}  // namespace

ArchiveReader* OpenArchiveFile(const char* path, std::string* error)
{
    PlatformFile* file = OpenFileForRead(path);
    uint64_t fileSize = 0;
    unsigned char* head = (unsigned char*)MemAlloc(blockSize);
    uint32_t headSize = head && file ? ReadFileBytes(file, head, (uint32_t)blockSize) : 0;
    ArchiveReader* reader = head ? NewReader(head, headSize) : nullptr;
    MemFree(head);
    if (!file || !GetFileSize64(file, &fileSize) || !SeekFile(file, 0) || !reader) {
        *error = reader || !file ? "cannot be opened" : "out of memory";
        CloseFile(file);
        CloseArchive(reader);
        return nullptr;
    }
    reader->file = file;
    reader->fileSize = fileSize;
    struct archive* archive = reader->archive;
    archive_read_set_read_callback(archive, ReadFileBlock);
    archive_read_set_seek_callback(archive, SeekFileTo);
    archive_read_set_skip_callback(archive, SkipFile);
    archive_read_set_callback_data(archive, reader);
    return Opened(reader, archive_read_open1(archive), error);
}

ArchiveReader* OpenArchiveInMemory(const unsigned char* bytes, size_t size, std::string* error)
{
    ArchiveReader* reader = NewReader(bytes, size < blockSize ? size : blockSize);
    if (!reader) {
        *error = "out of memory";
        return nullptr;
    }
    return Opened(reader, archive_read_open_memory(reader->archive, bytes, size), error);
}

ArchiveReader* OpenArchiveInEntry(ArchiveReader* outer, const unsigned char* head,
                                  size_t headSize, std::string* error)
{
    // Without bytes read already, the first block is read here, to tell
    // what the stream holds.
    unsigned char* copy = (unsigned char*)MemAlloc(headSize != 0 ? headSize : blockSize);
    if (copy && headSize != 0) {
        memcpy(copy, head, headSize);
    } else if (copy) {
        int64_t count = 0;
        while (headSize < blockSize &&
               (count = ReadArchiveEntry(outer, copy + headSize, blockSize - headSize)) > 0)
            headSize += (size_t)count;
        if (count < 0) {
            *error = ArchiveError(outer);
            MemFree(copy);
            return nullptr;
        }
    }
    ArchiveReader* reader = copy ? NewReader(copy, headSize) : nullptr;
    if (!reader) {
        MemFree(copy);
        *error = "out of memory";
        return nullptr;
    }
    reader->head = copy;
    reader->outer = outer;
    reader->headSize = headSize;
    archive_read_set_read_callback(reader->archive, ReadOuterBlock);
    archive_read_set_callback_data(reader->archive, reader);
    return Opened(reader, archive_read_open1(reader->archive), error);
}

void CloseArchive(ArchiveReader* reader)
{
    if (!reader)
        return;
    if (reader->archive)
        archive_read_free(reader->archive);
    CloseFile(reader->file);
    MemFree(reader->block);
    MemFree(reader->head);
    MemFree(reader->scratch);
    delete reader;
}

const char* ArchiveError(const ArchiveReader* reader)
{
    return reader->error.c_str();
}

namespace {

EntryType TypeOf(struct archive_entry* header)
{
    if (archive_entry_hardlink(header))
        return EntryType::Link;
    switch (archive_entry_filetype(header)) {
    case AE_IFREG: return EntryType::Regular;
    case AE_IFDIR: return EntryType::Directory;
    case AE_IFLNK: return EntryType::Link;
    default: return EntryType::Device;
    }
}

void DescribeEntry(struct archive_entry* header, ArchiveEntry* entry)
{
    const char* path = archive_entry_pathname_utf8(header);
    if (!path)
        path = archive_entry_pathname(header);
    entry->path = path ? path : "";
    entry->type = TypeOf(header);
    entry->sizeKnown = archive_entry_size_is_set(header) != 0;
    entry->size = entry->sizeKnown && archive_entry_size(header) > 0
                      ? (uint64_t)archive_entry_size(header) : 0;
}

// Bytes of a WARC file's raw stream: those read ahead, then the stream.
int64_t ReadStream(ArchiveReader* reader, void* buffer, size_t size)
{
    size_t ahead = reader->stream.size() - reader->streamUsed;
    if (ahead != 0) {
        size_t count = ahead < size ? ahead : size;
        memcpy(buffer, reader->stream.data() + reader->streamUsed, count);
        reader->streamUsed += count;
        return (int64_t)count;
    }
    la_ssize_t count = archive_read_data(reader->archive, buffer, size);
    if (count < 0)
        reader->error = LibraryError(reader->archive, "the archive cannot be read");
    return count < 0 ? -1 : count;
}

// The content of the current entry: for WARC the rest of the record.
int64_t ReadContent(ArchiveReader* reader, void* buffer, size_t size)
{
    if (!reader->warc) {
        la_ssize_t count = archive_read_data(reader->archive, buffer, size);
        if (count < 0)
            reader->error = LibraryError(reader->archive, "the entry cannot be read");
        return count < 0 ? -1 : count;
    }
    if (reader->recordLeft < size)
        size = (size_t)reader->recordLeft;
    if (size == 0)
        return 0;
    int64_t count = ReadStream(reader, buffer, size);
    if (count == 0)
        reader->error = "the WARC record is cut short";
    if (count <= 0)
        return -1;
    reader->recordLeft -= (uint64_t)count;
    return count;
}

// The entry's content as the archive holds it: bytes read ahead first.
int64_t ReadRaw(ArchiveReader* reader, void* buffer, size_t size)
{
    size_t pendingLeft = reader->pending.size() - reader->pendingUsed;
    if (pendingLeft != 0) {
        size_t count = pendingLeft < size ? pendingLeft : size;
        memcpy(buffer, reader->pending.data() + reader->pendingUsed, count);
        reader->pendingUsed += count;
        return (int64_t)count;
    }
    return ReadContent(reader, buffer, size);
}

bool SameText(const std::string& text, const char* other)
{
    if (text.size() != strlen(other))
        return false;
    for (size_t i = 0; i < text.size(); i++) {
        if ((text[i] | 0x20) != (other[i] | 0x20))
            return false;
    }
    return true;
}

std::string Trimmed(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

// Takes one header line of an HTTP response: how its body is framed and
// encoded. Sets `entryError` for a body this reader cannot deliver as sent.
void TakeHttpHeader(ArchiveReader* reader, const std::string& line)
{
    size_t colon = line.find(':');
    if (colon == std::string::npos)
        return;
    std::string name = Trimmed(line.substr(0, colon));
    std::string value = Trimmed(line.substr(colon + 1));
    if (SameText(name, "Transfer-Encoding") && !SameText(value, "identity")) {
        if (SameText(value, "chunked"))
            reader->http = HttpBody::Chunked;
        else
            reader->entryError = "the HTTP body has the transfer coding " + value;
    } else if (SameText(name, "Content-Encoding") && !value.empty() &&
               !SameText(value, "identity")) {
        reader->entryError = "the HTTP body is " + value + "-encoded";
    }
}

// Reads the entry until its HTTP headers have ended; the index just past
// them in `pending`, or 0 when they do not end within the limit.
size_t ReadHttpHead(ArchiveReader* reader)
{
    unsigned char piece[4096];
    for (;;) {
        size_t end = reader->pending.find("\r\n\r\n");
        if (end != std::string::npos)
            return end + 4;
        end = reader->pending.find("\n\n");
        if (end != std::string::npos)
            return end + 2;
        if (reader->pending.size() >= httpHeaderLimit)
            return 0;
        int64_t count = ReadContent(reader, piece, sizeof piece);
        if (count <= 0)
            return 0;
        reader->pending.append((const char*)piece, (size_t)count);
    }
}

// A response record delivers the body of the HTTP response it holds; one
// that holds no HTTP response (a DNS answer, say) its content.
void SkipHttpHeaders(ArchiveReader* reader, ArchiveEntry* entry)
{
    char start[5];
    int64_t count = 1;
    while (reader->pending.size() < sizeof start && count > 0) {
        count = ReadContent(reader, start, sizeof start - reader->pending.size());
        if (count > 0)
            reader->pending.append(start, (size_t)count);
    }
    if (count < 0)
        reader->entryError = reader->error;
    if (reader->pending.compare(0, 5, "HTTP/") != 0)
        return;
    size_t headLength = ReadHttpHead(reader);
    if (headLength == 0) {
        reader->entryError = "the HTTP headers of the record do not end";
        return;
    }
    reader->http = HttpBody::Plain;
    size_t lineStart = reader->pending.find('\n') + 1;
    while (lineStart < headLength) {
        size_t lineEnd = reader->pending.find('\n', lineStart);
        TakeHttpHeader(reader, reader->pending.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
    }
    reader->pendingUsed = headLength;
    entry->sizeKnown = entry->sizeKnown && reader->http == HttpBody::Plain;
    entry->size = entry->sizeKnown && entry->size > headLength ? entry->size - headLength : 0;
}

void ForgetEntry(ArchiveReader* reader)
{
    reader->entryError.clear();
    reader->http = HttpBody::None;
    reader->pending.clear();
    reader->pendingUsed = 0;
    reader->chunkStage = ChunkStage::Size;
    reader->chunkLeft = 0;
    reader->chunkLine.clear();
}

// One line of a WARC record's header block, without its line end, into
// `*line`; false at the end of the stream or past the limit (`*failed`
// when the stream could not be read).
bool ReadWarcLine(ArchiveReader* reader, std::string* line, size_t* total, bool* failed)
{
    line->clear();
    for (;;) {
        size_t end = reader->stream.find('\n', reader->streamUsed);
        if (end != std::string::npos) {
            line->assign(reader->stream, reader->streamUsed, end - reader->streamUsed);
            *total += end + 1 - reader->streamUsed;
            reader->streamUsed = end + 1;
            if (!line->empty() && line->back() == '\r')
                line->pop_back();
            return *total <= warcHeaderLimit;
        }
        reader->stream.erase(0, reader->streamUsed);
        reader->streamUsed = 0;
        la_ssize_t count = archive_read_data(reader->archive, reader->scratch, blockSize);
        if (count < 0)
            reader->error = LibraryError(reader->archive, "the archive cannot be read");
        *failed = count < 0 || !reader->stream.empty();
        if (count == 0 && *failed)
            reader->error = "the WARC file ends inside a record header";
        if (count <= 0 || reader->stream.size() > warcHeaderLimit)
            return false;
        reader->stream.append((const char*)reader->scratch, (size_t)count);
    }
}

// The fields of a WARC record's header block that say what it holds.
struct WarcHeader {
    std::string type, uri;
    bool hasLength;
    uint64_t length;
};

// Reads the next record's header block. End at the end of the stream.
EntryStep ReadWarcHeader(ArchiveReader* reader, WarcHeader* header)
{
    std::string line;
    size_t total = 0;
    bool failed = false;
    // Records are separated by blank lines.
    while (ReadWarcLine(reader, &line, &total, &failed) && line.empty())
        total = 0;
    if (line.empty())
        return failed ? EntryStep::Failed : EntryStep::End;
    if (line.compare(0, 5, "WARC/") != 0) {
        reader->error = "not a WARC record header";
        return EntryStep::Failed;
    }
    *header = WarcHeader();
    while (ReadWarcLine(reader, &line, &total, &failed) && !line.empty()) {
        size_t colon = line.find(':');
        std::string name = Trimmed(line.substr(0, colon));
        std::string value = colon == std::string::npos ? "" : Trimmed(line.substr(colon + 1));
        if (SameText(name, "WARC-Type"))
            header->type = value;
        else if (SameText(name, "WARC-Target-URI"))
            header->uri = value;
        else if (SameText(name, "Content-Length") && !value.empty() &&
                 value.find_first_not_of("0123456789") == std::string::npos && value.size() < 20)
        {
            header->hasLength = true;
            header->length = strtoull(value.c_str(), nullptr, 10);
        }
    }
    if (!line.empty() || !header->hasLength) {
        reader->error = failed ? reader->error : "a WARC record header is damaged";
        return EntryStep::Failed;
    }
    return EntryStep::Entry;
}

// The next response or resource record: its content (for a response, the
// HTTP body) is the entry, named by its target URI. Other records are
// passed over.
EntryStep NextWarcRecord(ArchiveReader* reader, ArchiveEntry* entry)
{
    WarcHeader header;
    for (;;) {
        while (reader->recordLeft != 0) {
            if (ReadContent(reader, reader->scratch, blockSize) < 0)
                return EntryStep::Failed;
        }
        EntryStep step = ReadWarcHeader(reader, &header);
        if (step != EntryStep::Entry)
            return step;
        reader->recordLeft = header.length;
        bool response = SameText(header.type, "response");
        if ((response || SameText(header.type, "resource")) && !header.uri.empty())
            break;
    }
    entry->path = header.uri;
    entry->type = EntryType::Regular;
    entry->sizeKnown = true;
    entry->size = header.length;
    if (SameText(header.type, "response"))
        SkipHttpHeaders(reader, entry);
    return EntryStep::Entry;
}

}  // namespace

EntryStep NextArchiveEntry(ArchiveReader* reader, ArchiveEntry* entry)
{
    ForgetEntry(reader);
    *entry = ArchiveEntry();
    if (reader->warc)
        return NextWarcRecord(reader, entry);
    struct archive_entry* header = nullptr;
    int result = archive_read_next_header(reader->archive, &header);
    if (result == ARCHIVE_EOF)
        return EntryStep::End;
    if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
        reader->error = LibraryError(reader->archive, "the archive cannot be read");
        if (result == ARCHIVE_FATAL)
            return EntryStep::Failed;
        if (header)
            DescribeEntry(header, entry);
        return EntryStep::BadEntry;
    }
    DescribeEntry(header, entry);
    return EntryStep::Entry;
}

namespace {

// One line of chunk framing, without its line end; false when the body
// ends first or the line is longer than any framing line can be.
bool ReadChunkLine(ArchiveReader* reader, std::string* line)
{
    line->clear();
    char byte = 0;
    for (;;) {
        int64_t count = ReadRaw(reader, &byte, 1);
        if (count <= 0 || line->size() > 1024) {
            if (count == 0 || line->size() > 1024)
                reader->error = "the chunked HTTP body is cut short or damaged";
            return false;
        }
        if (byte == '\n')
            break;
        if (byte != '\r')
            line->push_back(byte);
    }
    return true;
}

// The size line of the next chunk: hex digits, then any extensions.
bool ReadChunkSize(ArchiveReader* reader)
{
    if (!ReadChunkLine(reader, &reader->chunkLine))
        return false;
    const std::string& line = reader->chunkLine;
    uint64_t size = 0;
    size_t i = 0;
    for (; i < line.size() && isxdigit((unsigned char)line[i]) && i < 16; i++)
        size = size * 16 + (uint64_t)(isdigit((unsigned char)line[i]) ? line[i] - '0'
                                                                      : (line[i] | 0x20) - 'a' + 10);
    if (i == 0) {
        reader->error = "the chunked HTTP body is damaged";
        return false;
    }
    reader->chunkLeft = size;
    reader->chunkStage = size == 0 ? ChunkStage::Trailer : ChunkStage::Data;
    return true;
}

// The body of a chunked response: the chunks' data without their framing.
int64_t ReadChunked(ArchiveReader* reader, void* buffer, size_t size)
{
    std::string line;
    for (;;) {
        switch (reader->chunkStage) {
        case ChunkStage::Size:
            if (!ReadChunkSize(reader))
                return -1;
            break;
        case ChunkStage::Data: {
            size_t want = reader->chunkLeft < size ? (size_t)reader->chunkLeft : size;
            int64_t count = ReadRaw(reader, buffer, want);
            if (count <= 0) {
                if (count == 0)
                    reader->error = "the chunked HTTP body is cut short";
                return -1;
            }
            reader->chunkLeft -= (uint64_t)count;
            if (reader->chunkLeft == 0)
                reader->chunkStage = ChunkStage::DataEnd;
            return count;
        }
        case ChunkStage::DataEnd:
            if (!ReadChunkLine(reader, &line))
                return -1;
            reader->chunkStage = ChunkStage::Size;
            break;
        case ChunkStage::Trailer:
            if (!ReadChunkLine(reader, &line))
                return -1;
            if (line.empty())
                reader->chunkStage = ChunkStage::Done;
            break;
        case ChunkStage::Done:
            return 0;
        }
    }
}

}  // namespace

int64_t ReadArchiveEntry(ArchiveReader* reader, void* buffer, size_t size)
{
    if (!reader->entryError.empty()) {
        reader->error = reader->entryError;
        return -1;
    }
    if (size == 0)
        return 0;
    if (reader->http == HttpBody::Chunked)
        return ReadChunked(reader, buffer, size);
    return ReadRaw(reader, buffer, size);
}

bool LooksLikeArchive(const unsigned char* bytes, size_t size, bool complete)
{
    struct archive* archive = archive_read_new();
    if (!archive)
        return false;
    SupportCollections(archive);
    bool looks = false;
    if (archive_read_open_memory(archive, bytes, size) == ARCHIVE_OK) {
        struct archive_entry* header = nullptr;
        int result = archive_read_next_header(archive, &header);
        bool chosen = archive_format(archive) != 0;
        // A whole stream that is an archive without entries holds nothing
        // to read: zeros, say, which are an empty tar file.
        looks = result == ARCHIVE_OK || result == ARCHIVE_WARN ||
                (!complete && (chosen || archive_filter_count(archive) > 1));
    }
    archive_read_free(archive);
    // WARC records are framed by this reader, whatever fields libarchive's
    // own WARC reader would want.
    return looks || IsWarcStream(bytes, size);
}

std::string EntryDisplayName(const std::string& archiveName, const std::string& path)
{
    return archiveName + "!/" + path;
}

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The device names of Windows, which name no file in any folder there,
// whatever extension follows.
bool IsDeviceName(const std::string& name)
{
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    std::string stem = name.substr(0, name.find('.'));
    stem = Trimmed(stem);
    for (const char* device : devices) {
        if (SameText(stem, device))
            return true;
    }
    bool numbered = stem.size() == 4 && (SameText(stem.substr(0, 3), "COM") ||
                                         SameText(stem.substr(0, 3), "LPT"));
    return numbered && stem[3] >= '0' && stem[3] <= '9';
}

bool IsSafeComponent(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ')
        return false;
    for (char c : name) {
        if ((unsigned char)c < 0x20 || c == 0x7F || c == ':')
            return false;
    }
    return !IsDeviceName(name);
}

}  // namespace

bool SafeEntryFileName(const std::string& path, std::string* name)
{
    name->clear();
    bool driveLetter = path.size() >= 2 && path[1] == ':' && isalpha((unsigned char)path[0]);
    if (path.empty() || IsSeparator(path[0]) || driveLetter)
        return false;
    size_t start = 0;
    std::string component;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            end++;
        component = path.substr(start, end - start);
        if (component == "..")
            return false;
        start = end + 1;
    }
    if (!IsSafeComponent(component))
        return false;
    *name = component;
    return true;
}
