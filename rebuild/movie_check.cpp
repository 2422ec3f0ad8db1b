// movie_check.cpp - checking a movie by decoding it into a sink that only
// counts.
#include "movie_check.h"

#include "../common/bytes.h"
#include "../common/platform.h"

namespace {
bool CountBytes(void*, const unsigned char*, size_t) { return true; }

bool Fail(CheckError* error, CheckError reason)
{
    *error = reason;
    return false;
}

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

bool CheckCompressed(const char* path, const Progress* progress, MovieCheck* check,
                     CheckError* error)
{
    const MovieLocation& info = check->info;
    // A .app folder keeps its movie in a file of its own.
    char* moviePath = MovieFilePath(path, info.layout);
    if (!moviePath)
        return Fail(error, CheckError::OutOfMemory);
    unsigned char* movie = ReadFileRangeFully(moviePath, info.movieOffset, info.movieSize);
    MemFree(moviePath);
    if (!movie)
        return Fail(error, CheckError::ReadFailed);
    ByteSink sink = {CountBytes, nullptr, nullptr};
    DecodeReport report = {};
    DecodeResult result = DecodeMovieBody(movie, info.movieSize, &sink, progress, &report);
    MemFree(movie);
    if (result == DecodeResult::OutOfMemory)
        return Fail(error, CheckError::OutOfMemory);
    uint32_t streamStart = FindBodyDecoder(MovieSignature(info.header))->streamOffset;
    check->damage = result == DecodeResult::Decoded ? Damage::None : report.damage;
    check->streamOffset =
        report.damageOffset > streamStart ? report.damageOffset - streamStart : 0;
    check->paddedBytes = report.padded;
    check->decodedLength = movieHeaderSize + report.delivered - report.padded;
    // A compressed movie that ends inside its header decodes to nothing.
    if (result == DecodeResult::NotCompressed) {
        check->damage = Damage::CutShort;
        check->decodedLength = info.movieSize;
    }
    return true;
}
}  // namespace

bool CheckMovieFile(const char* path, const Progress* progress, MovieCheck* check,
                    CheckError* error)
{
    *error = CheckError::None;
    *check = MovieCheck();
    check->damage = Damage::None;
    LocateMovie(path, &check->info);
    if (check->info.movieSize == 0) {
        check->health = MovieHealth::NoMovie;
        return true;
    }
    if (MovieSignature(check->info.header) == signatureUncompressed)
        CheckUncompressed(check);
    else if (!CheckCompressed(path, progress, check, error))
        return false;
    check->health = check->damage == Damage::None ? MovieHealth::Intact : MovieHealth::Damaged;
    return true;
}
