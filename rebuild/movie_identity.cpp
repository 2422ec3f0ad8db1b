// movie_identity.cpp - the uncompressed form of a movie streamed into
// SHA-256 (and the facts walk), and files hashed as stored.
#include "rebuild/movie_identity.h"

#include "common/bytes.h"
#include "common/platform.h"
#include "rebuild/body_decode.h"

namespace {

const uint32_t pieceSize = 64 * 1024;

bool Fail(FailureKind* error, FailureKind reason)
{
    *error = reason;
    return false;
}

uint64_t Smaller(uint64_t a, uint64_t b) { return a < b ? a : b; }

// Where the uncompressed form goes: the hash, and the facts walk if any.
struct IdentityPass {
    Sha256* hash;
    FactsReader* reader;
};

// A sink of the decode driver. It takes the whole body even once the
// facts walk is over: the hash needs every byte.
bool TakePiece(void* context, const unsigned char* data, size_t length)
{
    IdentityPass* pass = (IdentityPass*)context;
    UpdateSha256(pass->hash, data, length);
    if (pass->reader)
        ReadFacts(pass->reader, data, length);
    return true;
}

// Zeros after `delivered` body bytes up to `bodyLength`.
void TakePadding(IdentityPass* pass, uint64_t delivered, uint64_t bodyLength)
{
    static const unsigned char zeros[pieceSize] = {0};
    while (delivered < bodyLength) {
        uint64_t count = Smaller(bodyLength - delivered, pieceSize);
        TakePiece(pass, zeros, (size_t)count);
        delivered += count;
    }
}

// An uncompressed movie: its stored body read a piece at a time, cut at
// the declared length, then padded.
bool PassStoredBody(const ByteSource* source, const MovieInfo& info, IdentityPass* pass,
                    FailureKind* error)
{
    uint64_t bodyLength = info.fileLength - movieHeaderSize;
    uint64_t stored = Smaller(info.movieSize - movieHeaderSize, bodyLength);
    uint64_t start = (uint64_t)info.movieOffset + movieHeaderSize;
    unsigned char* piece = (unsigned char*)MemAlloc(pieceSize);
    if (!piece)
        return Fail(error, FailureKind::OutOfMemory);
    uint64_t delivered = 0;
    bool read = true;
    while (read && delivered < stored) {
        uint32_t count = (uint32_t)Smaller(stored - delivered, pieceSize);
        read = ReadSource(source, start + delivered, piece, count) == count;
        if (read)
            TakePiece(pass, piece, count);
        delivered += count;
    }
    MemFree(piece);
    if (!read)
        return Fail(error, FailureKind::ReadFailed);
    TakePadding(pass, delivered, bodyLength);
    return true;
}

// A compressed movie, decoded into the pass.
bool PassDecodedBody(const ByteSource* source, const MovieInfo& info, IdentityPass* pass,
                     FailureKind* error)
{
    if (!FindBodyDecoder(MovieSignature(info.header)))
        return Fail(error, FailureKind::CannotDecode);
    ByteSink sink = {TakePiece, nullptr, pass};
    Failure decoded =
        DecodeStoredMovie(source, info.movieOffset, info.movieSize, &sink, nullptr, nullptr);
    if (!Failed(decoded))
        return true;
    FailureKind kind = decoded.kind;
    return Fail(error, kind == FailureKind::OutOfMemory || kind == FailureKind::ReadFailed
                           ? kind
                           : FailureKind::DamagedMovie);
}

// The header of the uncompressed form: "FWS", the version, the length.
void TakeHeader(IdentityPass* pass, const MovieInfo& info)
{
    unsigned char header[movieHeaderSize];
    WriteLe32(header, signatureUncompressed | MovieVersion(info.header) << 24);
    WriteLe32(header + 4, info.fileLength);
    UpdateSha256(pass->hash, header, sizeof header);
}

}  // namespace

namespace {
bool PassMovie(const ByteSource* source, const MovieInfo& info, FactsReader* reader,
               unsigned char digest[sha256Size], FailureKind* error)
{
    *error = FailureKind::None;
    FillBytes(digest, 0, sha256Size);
    if (reader)
        BeginFacts(reader);
    if (info.movieSize == 0)
        return Fail(error, FailureKind::NoMovie);
    if (info.movieSize < movieHeaderSize)
        return Fail(error, FailureKind::CutHeader);
    if (info.fileLength < movieHeaderSize)
        return Fail(error, FailureKind::ShortLength);
    IdentityPass pass = {BeginSha256(), reader};
    if (!pass.hash)
        return Fail(error, FailureKind::OutOfMemory);
    TakeHeader(&pass, info);
    bool passed = MovieSignature(info.header) == signatureUncompressed
                      ? PassStoredBody(source, info, &pass, error)
                      : PassDecodedBody(source, info, &pass, error);
    if (reader)
        EndFacts(reader);
    bool hashed = FinishSha256(pass.hash, digest);
    if (passed && !hashed)
        return Fail(error, FailureKind::OutOfMemory);
    if (!passed)
        FillBytes(digest, 0, sha256Size);
    return passed;
}

}  // namespace

Failure ReadMovieIdentity(const ByteSource* source, const MovieInfo& info, FactsReader* reader,
                          unsigned char digest[sha256Size])
{
    FailureKind error = FailureKind::None;
    PassMovie(source, info, reader, digest, &error);
    return FailureOf(error);
}

Failure ReadMovieFileIdentity(const char* path, const MovieInfo& info, FactsReader* reader,
                              unsigned char digest[sha256Size])
{
    MovieFileSource opened = {nullptr, MemorySource(nullptr, 0)};
    if (info.movieSize != 0)
        OpenMovieFileSource(path, info, &opened);
    Failure read = ReadMovieIdentity(&opened.source, info, reader, digest);
    CloseMovieFileSource(&opened);
    return read;
}

bool HashFileBytes(const char* path, unsigned char digest[sha256Size])
{
    FillBytes(digest, 0, sha256Size);
    PlatformFile* file = OpenFileForRead(path);
    uint64_t size = 0;
    if (!file || !GetFileSize64(file, &size)) {
        CloseFile(file);
        return false;
    }
    Sha256* hash = BeginSha256();
    unsigned char* piece = (unsigned char*)MemAlloc(pieceSize);
    uint64_t done = 0;
    bool read = hash && piece;
    while (read && done < size) {
        uint32_t count = (uint32_t)Smaller(size - done, pieceSize);
        read = ReadFileBytes(file, piece, count) == count && UpdateSha256(hash, piece, count);
        done += count;
    }
    MemFree(piece);
    CloseFile(file);
    bool hashed = FinishSha256(hash, digest);
    if (!read)
        FillBytes(digest, 0, sha256Size);
    return read && hashed;
}
