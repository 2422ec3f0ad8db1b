// decode_body.cpp - fuzz target: the streaming decode driver over any
// bytes, for every compressed signature it has a decoder for. The body is
// decoded twice, once into the driver's own pieces and once into a small
// room the sink offers; both must deliver the same bytes and the same
// report. A decoded body is exactly the declared length less the header;
// progress never goes back nor past its total, and ends at it. A "CWS"
// body, which the driver may inflate whole with libdeflate, is also
// stepped through with its input in parts, which zlib's inflate always
// does: both must end alike with the same bytes.
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

// Steps the "CWS" decoder through `movie` with input and output in small
// parts; true when the stream ended cleanly. `body` receives what it
// produced, up to `bodyLength` bytes.
bool StepThrough(const std::vector<unsigned char>& movie, uint64_t bodyLength,
                 std::vector<unsigned char>* body)
{
    const BodyDecoder* decoder = FindBodyDecoder(signatureZlib);
    bool invalid = false;
    void* state = decoder->open(movie.data(), &invalid);
    FUZZ_CHECK(state != nullptr);
    unsigned char output[4096];
    CodecCursors cursors = {movie.data() + movieHeaderSize, 0, nullptr, 0};
    size_t given = movieHeaderSize;
    // A first step without input, known to be followed by more: the
    // decoder then never takes the stream whole.
    cursors.output = output;
    cursors.outputLeft = sizeof output;
    StepResult step = decoder->step(state, &cursors, false);
    while (step == StepResult::Going) {
        size_t before = cursors.inputLeft;
        size_t piece = movie.size() - given < 777 ? movie.size() - given : 777;
        cursors.inputLeft += piece;
        given += piece;
        cursors.output = output;
        cursors.outputLeft = sizeof output;
        step = decoder->step(state, &cursors, given == movie.size());
        size_t produced = sizeof output - cursors.outputLeft;
        size_t kept = bodyLength - body->size() < produced ? bodyLength - body->size() : produced;
        body->insert(body->end(), output, output + kept);
        if (piece == 0 && produced == 0 && cursors.inputLeft == before)
            break;  // cut short
    }
    decoder->close(state);
    return step == StepResult::Ended;
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
    if (MovieSignature(ReadLe32(data)) == signatureZlib && report.damage != Damage::DeclaredTooShort) {
        std::vector<unsigned char> stepped;
        bool ended = StepThrough(movie, report.declaredLength - movieHeaderSize, &stepped);
        FUZZ_CHECK(ended == (result.kind == FailureKind::None));
        if (ended)
            stepped.resize(report.declaredLength - movieHeaderSize, 0);
        FUZZ_CHECK(stepped == plain.body);
    }
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
