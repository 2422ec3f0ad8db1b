// movie_scan.cpp - the scan for embedded movies: the file is read in
// windows, every "FWS", "CWS" and "ZWS" with a plausible header is a
// candidate, and each candidate is decoded from the file to confirm it.
#include "rebuild/movie_scan.h"

#include <cstring>

#include "common/bytes.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/lzma_body.h"

namespace {

const uint32_t highestPlausibleVersion = 64;
// Header (8), the smallest frame size (1), rate (2), count (2), End (2).
const uint32_t smallestMovie = 15;
// The scan reads this much at a time; candidates are decoded in pieces
// of pieceSize.
const uint32_t windowSize = 4 * 1024 * 1024;
const uint32_t pieceSize = 64 * 1024;
const uint16_t endTag = 0;
const uint32_t longTagLength = 0x3F;

// Reads the source through a buffer of pieceSize bytes, for the small
// reads of a tag walk.
struct PieceReader {
    const ByteSource* source;
    uint64_t fileSize;
    uint64_t start;   // file offset of buffer[0]
    uint32_t filled;  // valid bytes in buffer
    unsigned char buffer[pieceSize];
};

// Copies `count` bytes at `offset` into `bytes`; false past the end of
// the file or when a read fails.
bool ReadBytes(PieceReader* reader, uint64_t offset, unsigned char* bytes, uint32_t count)
{
    if (offset > reader->fileSize || count > reader->fileSize - offset)
        return false;
    for (uint32_t done = 0; done < count;) {
        uint64_t at = offset + done;
        if (at < reader->start || at >= reader->start + reader->filled) {
            reader->start = at;
            reader->filled = ReadSource(reader->source, at, reader->buffer, pieceSize);
            if (reader->filled == 0)
                return false;
        }
        uint32_t inBuffer = (uint32_t)(at - reader->start);
        uint32_t take = reader->filled - inBuffer;
        if (take > count - done)
            take = count - done;
        memcpy(bytes + done, reader->buffer + inBuffer, take);
        done += take;
    }
    return true;
}

// Whether bytes [from, to) of the file are all zero.
bool AllZero(PieceReader* reader, uint64_t from, uint64_t to)
{
    unsigned char bytes[256];
    while (from < to) {
        uint32_t count = to - from < sizeof bytes ? (uint32_t)(to - from) : (uint32_t)sizeof bytes;
        if (!ReadBytes(reader, from, bytes, count))
            return false;
        for (uint32_t i = 0; i < count; i++) {
            if (bytes[i] != 0)
                return false;
        }
        from += count;
    }
    return true;
}

// The frame header and the tag records of an uncompressed movie, up to
// its End tag; `end` is where the declared length ends.
bool WalkTags(PieceReader* reader, uint64_t offset, uint64_t end)
{
    unsigned char bytes[4];
    uint64_t at = offset + movieHeaderSize;
    if (!ReadBytes(reader, at, bytes, 1))
        return false;
    uint32_t rectangleBits = 5 + 4 * (bytes[0] >> 3);
    at += (rectangleBits + 7) / 8 + 4;  // the frame size, rate and count
    while (at + 2 <= end) {
        if (!ReadBytes(reader, at, bytes, 2))
            return false;
        uint16_t codeAndLength = ReadLe16(bytes);
        uint64_t length = codeAndLength & longTagLength;
        at += 2;
        if (length == longTagLength) {
            if (at + 4 > end || !ReadBytes(reader, at, bytes, 4))
                return false;
            length = ReadLe32(bytes);
            at += 4;
        }
        if (length > end - at)
            return false;
        at += length;
        if ((codeAndLength >> 6) == endTag)
            return AllZero(reader, at, end);
    }
    return false;
}

// Decodes the compressed movie at `offset` through its body decoder to
// the end of its stream, dropping the output. True when the stream ended
// with a matching check value; `*consumed` is the stream's input used.
bool DecodeThrough(PieceReader* reader, const BodyDecoder& decoder, uint64_t offset,
                   uint64_t* consumed)
{
    *consumed = 0;
    unsigned char start[32];
    if (decoder.streamOffset > sizeof start || !ReadBytes(reader, offset, start, decoder.streamOffset))
        return false;
    unsigned char* output = (unsigned char*)MemAlloc(pieceSize);
    bool invalid = false;
    void* state = output ? decoder.open(start, &invalid) : nullptr;
    const uint64_t streamStart = offset + decoder.streamOffset;
    uint64_t at = streamStart;  // the file offset after the input read so far
    CodecCursors cursors = {nullptr, 0, output, pieceSize};
    StepResult result = state ? StepResult::Going : StepResult::OutOfMemory;
    bool inputEnds = false;
    while (result == StepResult::Going) {
        if (cursors.inputLeft == 0 && !inputEnds) {
            uint64_t left = reader->fileSize - at;
            uint32_t count = left < pieceSize ? (uint32_t)left : pieceSize;
            // The reader's buffer is the stream's input from here on.
            reader->filled = 0;
            if (count != 0 && ReadSource(reader->source, at, reader->buffer, count) != count)
                break;
            cursors.input = reader->buffer;
            cursors.inputLeft = count;
            inputEnds = count == 0;
            at += count;
        }
        cursors.output = output;
        cursors.outputLeft = pieceSize;
        result = decoder.step(state, &cursors, inputEnds);
        // With no input left, a stream that still yields nothing is cut short.
        if (inputEnds && cursors.outputLeft == pieceSize)
            break;
    }
    *consumed = at - streamStart - cursors.inputLeft;
    decoder.close(state);
    MemFree(output);
    return result == StepResult::Ended;
}

// The facts of a movie whose header is in `movie`, from decoding it.
void Examine(PieceReader* reader, FoundMovie* movie)
{
    uint64_t left = reader->fileSize - movie->offset;
    switch (MovieSignature(movie->header)) {
    case signatureUncompressed:
        movie->storedSize = movie->fileLength < left ? movie->fileLength : left;
        movie->confirmed = movie->fileLength <= left &&
                           WalkTags(reader, movie->offset, movie->offset + movie->fileLength);
        break;
    default: {
        const BodyDecoder* decoder = FindBodyDecoder(MovieSignature(movie->header));
        uint64_t consumed = 0;
        if (decoder) {
            movie->confirmed = DecodeThrough(reader, *decoder, movie->offset, &consumed);
            // A header too near the end for its codec's fields consumes
            // nothing, and stores no more than the file holds.
            movie->storedSize = decoder->streamOffset + consumed;
            movie->storedSize = movie->storedSize < left ? movie->storedSize : left;
            break;
        }
        // A signature this build cannot decode ("ZWS" without an LZMA
        // decoder): the stored size is what the header's compressed
        // length claims, within the file.
        unsigned char field[4];
        uint64_t claimed = lzmaStreamOffset;
        if (ReadBytes(reader, movie->offset + movieHeaderSize, field, 4))
            claimed += ReadLe32(field);
        movie->storedSize = claimed < left ? claimed : left;
        break;
    }
    }
}

}  // namespace

bool IsPlausibleMovieHeader(const unsigned char* header)
{
    uint32_t first = ReadLe32(header);
    uint32_t version = MovieVersion(first);
    return IsMovieSignature(first) && version >= 1 && version <= highestPlausibleVersion &&
           ReadLe32(header + 4) >= smallestMovie;
}

void ExamineMovieAt(const ByteSource* source, uint64_t offset, FoundMovie* movie)
{
    FillBytes(movie, 0, sizeof *movie);
    movie->offset = offset;
    PieceReader* reader = (PieceReader*)MemAlloc(sizeof(PieceReader));
    if (!reader)
        return;
    reader->source = source;
    reader->fileSize = source->size;
    unsigned char header[movieHeaderSize];
    if (ReadBytes(reader, offset, header, movieHeaderSize)) {
        movie->header = ReadLe32(header);
        movie->fileLength = ReadLe32(header + 4);
        Examine(reader, movie);
    }
    MemFree(reader);
}

bool ScanSource(const ByteSource* source, FoundMovieCallback found, void* context)
{
    uint64_t fileSize = source->size;
    unsigned char* window = (unsigned char*)MemAlloc(windowSize);
    bool complete = window != nullptr;
    // Each window starts with the last header bytes of the one before, so
    // that a header across the border is seen whole.
    uint64_t start = 0;  // file offset of window[0]
    uint32_t kept = 0;
    bool going = true;
    while (complete && going && start + kept < fileSize) {
        uint64_t left = fileSize - start - kept;
        uint32_t want = windowSize - kept;
        if (want > left)
            want = (uint32_t)left;
        complete = ReadSource(source, start + kept, window + kept, want) == want;
        uint32_t filled = kept + want;
        // Candidates start at i - 1, where window[i] is the 'W'.
        for (uint32_t i = 1; complete && going && i + movieHeaderSize <= filled + 1;) {
            unsigned char* w = (unsigned char*)memchr(window + i, 'W', filled - i);
            if (!w)
                break;
            i = (uint32_t)(w - window);
            if (i + movieHeaderSize > filled + 1)
                break;
            if (IsPlausibleMovieHeader(window + i - 1)) {
                FoundMovie movie;
                ExamineMovieAt(source, start + i - 1, &movie);
                going = found(movie, context);
            }
            i++;
        }
        kept = filled < movieHeaderSize - 1 ? filled : movieHeaderSize - 1;
        if (start + filled >= fileSize)
            break;
        memmove(window, window + filled - kept, kept);
        start += filled - kept;
    }
    MemFree(window);
    return complete;
}

bool ScanFile(const char* path, FoundMovieCallback found, void* context)
{
    PlatformFile* file = OpenFileForRead(path);
    uint64_t size = 0;
    bool opened = file && GetFileSize64(file, &size);
    ByteSource source = FileSource(file, size);
    bool complete = opened && ScanSource(&source, found, context);
    CloseFile(file);
    return complete;
}

namespace {
// The confirmed movie whose header stands at `offset` of `source`.
Failure FindMovieAt(const ByteSource* source, uint64_t offset, FoundMovie* movie)
{
    unsigned char header[movieHeaderSize];
    FillBytes(movie, 0, sizeof *movie);
    if (ReadSource(source, offset, header, movieHeaderSize) != movieHeaderSize ||
        !IsPlausibleMovieHeader(header))
        return FailureOf(FailureKind::NoMovie);
    ExamineMovieAt(source, offset, movie);
    if (!movie->confirmed || movie->storedSize > 0xFFFFFFFFu)
        return FailureOf(FailureKind::NoMovie);
    return NoFailure();
}

}  // namespace

Failure CopySourceRange(const ByteSource* source, uint64_t offset, uint64_t count,
                        OutputFile* output)
{
    unsigned char* bytes = (unsigned char*)MemAlloc(pieceSize);
    if (!bytes)
        return FailureOf(FailureKind::OutOfMemory);
    Failure result = NoFailure();
    for (uint64_t done = 0; !Failed(result) && done < count;) {
        uint32_t piece = count - done < pieceSize ? (uint32_t)(count - done) : pieceSize;
        if (ReadSource(source, offset + done, bytes, piece) != piece)
            result = FailureOf(FailureKind::ReadFailed);
        else if (!WriteOutput(output, bytes, piece))
            result = FailureOf(FailureKind::WriteFailed);
        done += piece;
    }
    MemFree(bytes);
    return result;
}

Failure ExtractMovieAtSource(const ByteSource* source, uint64_t offset, const char* outPath,
                             CommitMode commit)
{
    FoundMovie movie;
    Failure result = FindMovieAt(source, offset, &movie);
    OutputFile output = {nullptr, 0};
    if (!Failed(result))
        result = OpenOutput(&output, outPath);
    if (!Failed(result))
        result = CopySourceRange(source, offset, movie.storedSize, &output);
    if (Failed(result))
        AbandonOutput(&output);
    else
        result = PlaceOutput(&output, outPath, commit);
    return result;
}

Failure ExtractMovieAt(const char* path, uint64_t offset, const char* outPath, CommitMode commit)
{
    PlatformFile* file = OpenFileForRead(path);
    uint64_t size = 0;
    if (!file || !GetFileSize64(file, &size)) {
        CloseFile(file);
        return FailureOf(FailureKind::NoMovie);
    }
    ByteSource source = FileSource(file, size);
    Failure result = ExtractMovieAtSource(&source, offset, outPath, commit);
    CloseFile(file);
    return result;
}
