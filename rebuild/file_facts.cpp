// file_facts.cpp - feeds the walk of movie_facts.cpp with a movie's
// uncompressed body: read from its source in pieces for an uncompressed
// movie, streamed from the body decoder for a compressed one.
#include "rebuild/file_facts.h"

#include "common/bytes.h"
#include "common/platform.h"
#include "rebuild/body_decode.h"

namespace {

const uint32_t pieceSize = 64 * 1024;

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

// Walks zeros after `delivered` body bytes up to `bodyLength`, or until the
// walk is over.
void WalkPadding(FactsReader* reader, uint32_t delivered, uint32_t bodyLength)
{
    static const unsigned char zeros[4096] = {0};
    bool going = true;
    while (going && delivered < bodyLength) {
        uint32_t count = Smaller(bodyLength - delivered, (uint32_t)sizeof zeros);
        going = ReadFacts(reader, zeros, count);
        delivered += count;
    }
}

// An uncompressed movie: its stored body, cut at the declared length,
// read a piece at a time until the walk is over.
Failure WalkStoredBody(const ByteSource* source, const MovieInfo& info, FactsReader* reader)
{
    uint32_t bodyLength = info.fileLength - movieHeaderSize;
    uint32_t stored = Smaller(info.movieSize - movieHeaderSize, bodyLength);
    uint64_t start = (uint64_t)info.movieOffset + movieHeaderSize;
    unsigned char* piece = (unsigned char*)MemAlloc(pieceSize);
    bool read = piece != nullptr;
    uint32_t delivered = 0;
    bool going = true;
    while (read && going && delivered < stored) {
        uint32_t count = Smaller(stored - delivered, pieceSize);
        read = ReadSource(source, start + delivered, piece, count) == count;
        going = read && ReadFacts(reader, piece, count);
        delivered += count;
    }
    MemFree(piece);
    if (!read)
        return FailureOf(piece ? FailureKind::ReadFailed : FailureKind::OutOfMemory);
    WalkPadding(reader, delivered, bodyLength);
    return NoFailure();
}

// The sink of the decoder: every piece of the body goes to the walk. It
// takes the rest of the stream too once the walk is over, so that the
// stream is still checked to its end.
bool WalkPiece(void* context, const unsigned char* data, size_t length)
{
    ReadFacts((FactsReader*)context, data, length);
    return true;
}

// A compressed movie, decoded to the walk.
Failure WalkDecodedBody(const ByteSource* source, const MovieInfo& info, FactsReader* reader)
{
    if (!FindBodyDecoder(MovieSignature(info.header)))
        return FailureOf(FailureKind::CannotDecode);
    ByteSink sink = {WalkPiece, nullptr, reader};
    Failure decoded =
        DecodeStoredMovie(source, info.movieOffset, info.movieSize, &sink, nullptr, nullptr);
    if (Failed(decoded) && decoded.kind != FailureKind::OutOfMemory &&
        decoded.kind != FailureKind::ReadFailed)
        decoded.kind = FailureKind::DamagedMovie;
    return decoded;
}

}  // namespace

bool OpenMovieFileSource(const char* path, const MovieInfo& info, MovieFileSource* opened)
{
    // A .app folder keeps its movie in a file of its own.
    char* moviePath = MovieFilePath(path, info.layout);
    opened->file = moviePath ? OpenFileForRead(moviePath) : nullptr;
    MemFree(moviePath);
    uint64_t size = 0;
    if (opened->file && GetFileSize64(opened->file, &size)) {
        opened->source = FileSource(opened->file, size);
        return true;
    }
    CloseFile(opened->file);
    opened->file = nullptr;
    // A source of no bytes: reading the movie from it fails as a read.
    opened->source = MemorySource(nullptr, 0);
    return false;
}

void CloseMovieFileSource(MovieFileSource* opened)
{
    CloseFile(opened->file);
    opened->file = nullptr;
}

Failure ReadMovieFacts(const ByteSource* source, const MovieInfo& info, FactsReader* reader)
{
    BeginFacts(reader);
    if (info.movieSize == 0)
        return FailureOf(FailureKind::NoMovie);
    if (info.movieSize < movieHeaderSize)
        return FailureOf(FailureKind::CutHeader);
    if (info.fileLength < movieHeaderSize)
        return FailureOf(FailureKind::ShortLength);
    Failure walked = MovieSignature(info.header) == signatureUncompressed
                         ? WalkStoredBody(source, info, reader)
                         : WalkDecodedBody(source, info, reader);
    EndFacts(reader);
    return walked;
}

Failure ReadMovieFileFacts(const char* path, const MovieInfo& info, FactsReader* reader)
{
    if (info.movieSize == 0)
        return ReadMovieFacts(nullptr, info, reader);
    MovieFileSource opened;
    OpenMovieFileSource(path, info, &opened);
    Failure walked = ReadMovieFacts(&opened.source, info, reader);
    CloseMovieFileSource(&opened);
    return walked;
}
