// movie_check.cpp - checking a movie by decoding it into a sink that only
// counts.
#include "rebuild/movie_check.h"

#include "common/bytes.h"
#include "common/platform.h"
#include "rebuild/file_facts.h"

namespace {
bool CountBytes(void*, const unsigned char*, size_t) { return true; }

// Takes every piece, also once the walk is over, so that the stream is
// still checked to its end.
bool WalkBytes(void* context, const unsigned char* data, size_t length)
{
    ReadFacts((FactsReader*)context, data, length);
    return true;
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

Failure CheckCompressed(const ByteSource* source, const Progress* progress, MovieCheck* check,
                        FactsReader* reader)
{
    const MovieInfo& info = check->info;
    ByteSink sink = {reader ? WalkBytes : CountBytes, nullptr, reader};
    DecodeReport report = {};
    if (reader)
        BeginFacts(reader);
    Failure decoded =
        DecodeStoredMovie(source, info.movieOffset, info.movieSize, &sink, progress, &report);
    if (decoded.kind == FailureKind::OutOfMemory || decoded.kind == FailureKind::ReadFailed ||
        decoded.kind == FailureKind::Cancelled)
        return decoded;
    if (reader)
        EndFacts(reader);
    check->factsRead = reader && !Failed(decoded);
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

Failure CheckMovieSource(const ByteSource* source, const MovieInfo& info,
                         const Progress* progress, MovieCheck* check, FactsReader* reader)
{
    *check = MovieCheck();
    check->damage = Damage::None;
    check->info = info;
    if (info.movieSize == 0) {
        check->health = MovieHealth::NoMovie;
        return NoFailure();
    }
    if (MovieSignature(info.header) == signatureUncompressed) {
        CheckUncompressed(check);
        // Read from the source, not decoded: no second pass over a stream.
        check->factsRead = reader && !Failed(ReadMovieFacts(source, info, reader));
    } else {
        Failure failure = CheckCompressed(source, progress, check, reader);
        if (Failed(failure))
            return failure;
    }
    check->health = check->damage == Damage::None ? MovieHealth::Intact : MovieHealth::Damaged;
    return NoFailure();
}

Failure CheckMovieFile(const char* path, const Progress* progress, MovieCheck* check,
                       FactsReader* reader)
{
    MovieInfo info;
    InspectMovie(path, &info);
    MovieFileSource opened = {nullptr, MemorySource(nullptr, 0)};
    if (info.movieSize != 0 && !OpenMovieFileSource(path, info, &opened)) {
        *check = MovieCheck();
        check->info = info;
        return FailureOf(FailureKind::ReadFailed);
    }
    Failure failure = CheckMovieSource(&opened.source, info, progress, check, reader);
    CloseMovieFileSource(&opened);
    return failure;
}
