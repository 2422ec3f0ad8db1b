// movie_check.cpp - checking a movie by decoding it into a sink that only
// counts.
#include "rebuild/movie_check.h"

#include "common/bytes.h"
#include "common/platform.h"

namespace {
bool CountBytes(void*, const unsigned char*, size_t) { return true; }

// An uncompressed movie is whole when the file holds its declared length.
void CheckUncompressed(MovieCheck* check)
{
    uint32_t declared = check->info.fileLength;
    uint32_t stored = check->info.movieSize;
    check->decodedLength = stored < declared ? stored : declared;
    if (declared < movieHeaderSize)
        check->damage = Damage::DeclaredTooShort;
    else if (stored < declared)
        check->damage = Damage::CutShort;
}

Failure CheckCompressed(const char* path, const Progress* progress, MovieCheck* check)
{
    const MovieInfo& info = check->info;
    // A .app folder keeps its movie in a file of its own.
    char* moviePath = MovieFilePath(path, info.layout);
    if (!moviePath)
        return FailureOf(FailureKind::OutOfMemory);
    ByteSink sink = {CountBytes, nullptr, nullptr};
    DecodeReport report = {};
    Failure decoded =
        DecodeStoredMovie(moviePath, info.movieOffset, info.movieSize, &sink, progress, &report);
    MemFree(moviePath);
    if (decoded.kind == FailureKind::OutOfMemory || decoded.kind == FailureKind::ReadFailed)
        return decoded;
    check->damage = decoded.damage;
    check->streamOffset = decoded.offset;
    check->paddedBytes = report.padded;
    check->decodedLength = movieHeaderSize + report.delivered - report.padded;
    // A compressed movie that ends inside its header decodes to nothing.
    if (decoded.kind == FailureKind::CannotDecode) {
        check->damage = Damage::CutShort;
        check->decodedLength = info.movieSize;
    }
    return NoFailure();
}
}  // namespace

Failure CheckMovieFile(const char* path, const Progress* progress, MovieCheck* check)
{
    *check = MovieCheck();
    check->damage = Damage::None;
    InspectMovie(path, &check->info);
    if (check->info.movieSize == 0) {
        check->health = MovieHealth::NoMovie;
        return NoFailure();
    }
    if (MovieSignature(check->info.header) == signatureUncompressed) {
        CheckUncompressed(check);
    } else {
        Failure failure = CheckCompressed(path, progress, check);
        if (Failed(failure))
            return failure;
    }
    check->health = check->damage == Damage::None ? MovieHealth::Intact : MovieHealth::Damaged;
    return NoFailure();
}
