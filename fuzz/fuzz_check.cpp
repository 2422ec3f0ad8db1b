// check.cpp - fuzz target: the check of any file. Its verdict on the
// movie must agree with the decode driver's on the same stored bytes:
// intact exactly when a compressed body decodes (or an uncompressed movie
// holds its declared length), with the same damage and lengths. The facts
// it walks on the way are those of the facts reader alone.
#include <memory>
#include <vector>

#include "movie/movie_file.h"
#include "rebuild/file_facts.h"
#include "rebuild/movie_check.h"
#include "fuzz_support.h"
#include "length_cap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = ScratchPath("input");
    WriteScratchFile(path, data, size);
    MovieInfo location;
    InspectMovie(path, &location);
    std::vector<unsigned char> file(data, data + size);
    if (location.movieSize != 0) {
        CapDeclaredLength(file.data() + location.movieOffset, location.movieSize, true);
        WriteScratchFile(path, file.data(), size);
        InspectMovie(path, &location);  // the declared length as capped
    }

    MovieCheck check;
    FUZZ_CHECK(!Failed(CheckMovieFile(path, nullptr, &check)));
    std::unique_ptr<FactsReader> walked(new FactsReader), alone(new FactsReader);
    MovieCheck withFacts;
    FUZZ_CHECK(!Failed(CheckMovieFile(path, nullptr, &withFacts, walked.get())));
    bool read = !Failed(ReadMovieFileFacts(path, location, alone.get()));
    FUZZ_CHECK(withFacts.factsRead == read && withFacts.health == check.health);
    FUZZ_CHECK(!read || SameFacts(walked->facts, alone->facts));
    if (location.movieSize == 0) {
        FUZZ_CHECK(check.health == MovieHealth::NoMovie);
        return 0;
    }
    const unsigned char* movie = file.data() + location.movieOffset;
    uint32_t declared = check.info.fileLength;
    if (MovieSignature(check.info.header) == signatureUncompressed) {
        bool whole = declared >= movieHeaderSize && location.movieSize >= declared;
        FUZZ_CHECK((check.health == MovieHealth::Intact) == whole);
        return 0;
    }
    ByteSink sink = {[](void*, const unsigned char*, size_t) { return true; }, nullptr, nullptr};
    DecodeReport report = {};
    Failure result = DecodeMovieBody(movie, location.movieSize, &sink, nullptr, &report);
    FUZZ_CHECK((check.health == MovieHealth::Intact) == (result.kind == FailureKind::None));
    if (result.kind == FailureKind::None || result.kind == FailureKind::DamagedMovie) {
        FUZZ_CHECK(check.damage == report.damage && check.paddedBytes == report.padded);
        FUZZ_CHECK(check.decodedLength == movieHeaderSize + report.delivered - report.padded);
    }
    return 0;
}
