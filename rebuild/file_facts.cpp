// file_facts.cpp - feeds the walk of movie_facts.cpp with a movie's
// uncompressed body: read from the file in pieces for an uncompressed
// movie, streamed from the body decoder for a compressed one.
#include "file_facts.h"

#include "../common/bytes.h"
#include "../common/platform.h"
#include "body_decode.h"

namespace {

const uint32_t pieceSize = 64 * 1024;

bool Fail(FactsError* error, FactsError reason)
{
    *error = reason;
    return false;
}

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
bool WalkStoredBody(const char* path, const MovieLocation& info, FactsReader* reader,
                    FactsError* error)
{
    uint32_t bodyLength = info.fileLength - movieHeaderSize;
    uint32_t stored = Smaller(info.movieSize - movieHeaderSize, bodyLength);
    PlatformFile* file = OpenFileForRead(path);
    unsigned char* piece = (unsigned char*)MemAlloc(pieceSize);
    bool read = file && piece && SeekFile(file, (uint64_t)info.movieOffset + movieHeaderSize);
    uint32_t delivered = 0;
    bool going = true;
    while (read && going && delivered < stored) {
        uint32_t count = Smaller(stored - delivered, pieceSize);
        read = ReadFileBytes(file, piece, count) == count;
        going = read && ReadFacts(reader, piece, count);
        delivered += count;
    }
    CloseFile(file);
    MemFree(piece);
    if (!read)
        return Fail(error, piece ? FactsError::ReadFailed : FactsError::OutOfMemory);
    WalkPadding(reader, delivered, bodyLength);
    return true;
}

// The sink of the decoder: every piece of the body goes to the walk. It
// takes the rest of the stream too once the walk is over, so that the
// stream is still checked to its end.
bool WalkPiece(void* context, const unsigned char* data, size_t length)
{
    ReadFacts((FactsReader*)context, data, length);
    return true;
}

// A compressed movie, read whole and decoded to the walk.
bool WalkDecodedBody(const char* path, const MovieLocation& info, FactsReader* reader,
                     FactsError* error)
{
    if (!FindBodyDecoder(MovieSignature(info.header)))
        return Fail(error, FactsError::CannotDecode);
    unsigned char* movie = ReadFileRangeFully(path, info.movieOffset, info.movieSize);
    if (!movie)
        return Fail(error, FactsError::ReadFailed);
    ByteSink sink = {WalkPiece, nullptr, reader};
    DecodeResult result = DecodeMovieBody(movie, info.movieSize, &sink, nullptr, nullptr);
    MemFree(movie);
    switch (result) {
    case DecodeResult::Decoded: return true;
    case DecodeResult::OutOfMemory: return Fail(error, FactsError::OutOfMemory);
    default: return Fail(error, FactsError::DamagedMovie);
    }
}

}  // namespace

bool ReadMovieFileFacts(const char* path, const MovieLocation& info, FactsReader* reader,
                        FactsError* error)
{
    *error = FactsError::None;
    BeginFacts(reader);
    if (info.movieSize == 0)
        return Fail(error, FactsError::NoMovie);
    if (info.movieSize < movieHeaderSize)
        return Fail(error, FactsError::CutHeader);
    if (info.fileLength < movieHeaderSize)
        return Fail(error, FactsError::ShortLength);
    // A .app folder keeps its movie in a file of its own.
    char* moviePath = MovieFilePath(path, info.layout);
    if (!moviePath)
        return Fail(error, FactsError::OutOfMemory);
    bool walked = MovieSignature(info.header) == signatureUncompressed
                      ? WalkStoredBody(moviePath, info, reader, error)
                      : WalkDecodedBody(moviePath, info, reader, error);
    MemFree(moviePath);
    EndFacts(reader);
    return walked;
}
