// decode_body.cpp - fuzz target: the streaming decode driver over any
// bytes, for every compressed signature it has a decoder for. The body is
// decoded twice, once into the driver's own pieces and once into a small
// room the sink offers; both must deliver the same bytes and the same
// report. A decoded body is exactly the declared length less the header;
// progress never goes back nor past its total, and ends at it.
#include <vector>

#include "common/bytes.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "fuzz_support.h"
#include "length_cap.h"

namespace {
struct Collected {
    std::vector<unsigned char> body;
    unsigned char room[1000];
    uint64_t progressDone;
    uint64_t progressTotal;
};

bool Collect(void* context, const unsigned char* data, size_t length)
{
    FUZZ_CHECK(length != 0 && length <= 1024 * 1024);
    Collected* collected = (Collected*)context;
    collected->body.insert(collected->body.end(), data, data + length);
    return true;
}

unsigned char* OfferRoom(void* context, size_t* length)
{
    Collected* collected = (Collected*)context;
    if (*length > sizeof collected->room)
        *length = sizeof collected->room;
    return collected->room;
}

void CheckProgress(void* context, uint64_t done, uint64_t total)
{
    Collected* collected = (Collected*)context;
    FUZZ_CHECK(done >= collected->progressDone && done <= total);
    FUZZ_CHECK(collected->progressTotal == 0 || total == collected->progressTotal);
    collected->progressDone = done;
    collected->progressTotal = total;
}

bool SameReport(const DecodeReport& a, const DecodeReport& b)
{
    return a.damage == b.damage && a.damageOffset == b.damageOffset &&
           a.delivered == b.delivered && a.declaredLength == b.declaredLength &&
           a.padded == b.padded && a.streamEnd == b.streamEnd;
}

Failure Decode(const std::vector<unsigned char>& movie, bool withRoom, Collected* collected,
                    DecodeReport* report)
{
    ByteSink sink = {Collect, withRoom ? OfferRoom : nullptr, collected};
    Progress progress = {CheckProgress, collected};
    return DecodeMovieBody(movie.data(), movie.size(), &sink, &progress, report);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> movie(data, data + size);
    CapDeclaredLength(movie.data(), movie.size(), true);
    Collected plain = {}, roomy = {};
    DecodeReport report, roomyReport;
    Failure result = Decode(movie, false, &plain, &report);
    Failure roomyResult = Decode(movie, true, &roomy, &roomyReport);
    FUZZ_CHECK(roomyResult.kind == result.kind && roomyResult.damage == result.damage &&
               roomyResult.offset == result.offset);
    FUZZ_CHECK(plain.body == roomy.body);
    if (result.kind == FailureKind::CannotDecode) {
        FUZZ_CHECK(size < movieHeaderSize || !FindBodyDecoder(MovieSignature(ReadLe32(data))));
        return 0;
    }
    FUZZ_CHECK(SameReport(report, roomyReport));
    FUZZ_CHECK(report.delivered == plain.body.size());
    FUZZ_CHECK(report.padded <= report.delivered);
    if (result.kind == FailureKind::None) {
        FUZZ_CHECK(report.damage == Damage::None);
        FUZZ_CHECK(plain.body.size() + movieHeaderSize == report.declaredLength);
        FUZZ_CHECK(report.streamEnd <= size);
        FUZZ_CHECK(plain.progressDone == plain.progressTotal);
    } else if (result.kind == FailureKind::DamagedMovie) {
        FUZZ_CHECK(report.damage != Damage::None && report.damageOffset <= size);
        FUZZ_CHECK(plain.body.size() + movieHeaderSize <= report.declaredLength ||
                   report.damage == Damage::DeclaredTooShort);
    }
    return 0;
}
