// cli_check.cpp - "check": whether each file's movie is whole, as one line
// of text or one JSON object per file.
#include "cli/cli.h"
#include "cli/cli_internal.h"
#include "cli/cli_platform.h"
#include "cli/cli_values.h"

#include "common/platform.h"
#include "cli/input_walk.h"
#include "rebuild/movie_check.h"

namespace {

const char* StatusName(MovieHealth health)
{
    switch (health) {
    case MovieHealth::Intact: return "intact";
    case MovieHealth::Damaged: return "damaged";
    case MovieHealth::NoMovie: break;
    }
    return "no-movie";
}

std::string Decimal(uint64_t value) { return std::to_string((unsigned long long)value); }

std::string Problem(const MovieCheck& check)
{
    return DamageText(check.damage, check.info.header, check.info.fileLength, check.streamOffset,
                      check.decodedLength);
}

}  // namespace

std::string DamageText(Damage damage, uint32_t header, uint32_t declaredLength,
                       uint64_t streamOffset, uint64_t decodedLength)
{
    std::string declared = Decimal(declaredLength);
    switch (damage) {
    case Damage::None: break;
    case Damage::DataError:
        return "data error at byte " + Decimal(streamOffset) + " of the " + SignatureText(header) +
               " stream";
    case Damage::CutShort:
        return "cut short after " + Decimal(decodedLength) + " of " + declared + " bytes";
    case Damage::BadChecksum:
        return "bad checksum: the zlib stream decodes to its end, but its Adler-32 does not match";
    case Damage::DeclaredTooShort:
        return "declared length " + declared + " is shorter than the 8-byte header";
    case Damage::BadProperties:
        return "invalid LZMA properties (bytes 12-16 of the movie)";
    }
    return "";
}

namespace {

void PrintText(FILE* out, const std::string& path, const MovieCheck& check)
{
    std::string signature = SignatureText(check.info.header);
    switch (check.health) {
    case MovieHealth::NoMovie:
        fprintf(out, "%s: no movie\n", path.c_str());
        return;
    case MovieHealth::Damaged:
        fprintf(out, "%s: damaged (%s): %s\n", path.c_str(), signature.c_str(),
                Problem(check).c_str());
        return;
    case MovieHealth::Intact: break;
    }
    fprintf(out, "%s: intact (%s, %s bytes", path.c_str(), signature.c_str(),
            Decimal(check.info.fileLength).c_str());
    if (check.paddedBytes != 0)
        fprintf(out, "; the stream ends %s bytes short, which players fill with zeros",
                Decimal(check.paddedBytes).c_str());
    fputs(")\n", out);
}

// The keys are a promise to scripts, as info's are: see the README.
bool PrintJson(FILE* out, const InputItem& item, const MovieCheck& check)
{
    std::string name = InputNameUtf8(item);
    if (name.empty())
        return false;
    bool movie = check.health != MovieHealth::NoMovie;
    bool damaged = check.health == MovieHealth::Damaged;
    struct Key {
        const char* name;
        Value value;
    };
    const Key keys[] = {
        {"file", Text(name)},
        {"status", Text(StatusName(check.health))},
        {"signature", movie ? Text(SignatureText(check.info.header)) : Null()},
        {"declared_length", movie ? Number(check.info.fileLength) : Null()},
        {"decoded_length", movie ? NumberText(Decimal(check.decodedLength)) : Null()},
        {"problem", damaged ? Text(Problem(check)) : Null()},
    };
    std::string json = "{";
    for (const Key& key : keys) {
        if (json.size() > 1)
            json += ",";
        AppendJsonString(&json, key.name);
        json += ":";
        AppendJsonValue(&json, key.value);
    }
    json.append("}\n");
    fputs(json.c_str(), out);
    return true;
}

}  // namespace

namespace {

struct CheckRun {
    const Arguments* arguments;
    FILE* out;
    FILE* err;
    unsigned long skipped;  // inputs met in folders and archives without a movie
};

Failure CheckInput(const InputItem& item, MovieCheck* check)
{
    if (item.entry)
        return CheckMovieSource(item.entry->source, item.info, nullptr, check);
    return CheckMovieFile(item.path, nullptr, check);
}

// False when the input is not an intact movie.
bool CheckOne(const InputItem& item, void* context)
{
    CheckRun* run = (CheckRun*)context;
    FileKind kind = KindOf(item.info);
    if (item.found && kind != FileKind::BareMovie && kind != FileKind::Projector) {
        run->skipped++;
        return true;
    }
    MovieCheck check;
    Failure failure = CheckInput(item, &check);
    if (Failed(failure)) {
        PrintFileError(run->err, item.name,
                       FailureText(failure, FailureContext::Checking, check.info));
        return false;
    }
    bool intact = check.health == MovieHealth::Intact;
    if (run->arguments->json ? !PrintJson(run->out, item, check)
                             : (PrintText(run->out, item.name, check), false)) {
        PrintFileError(run->err, item.name, "not enough memory to describe it");
        intact = false;
    }
    fflush(run->out);  // keeps results and error lines in the order of the inputs
    return intact;
}

}  // namespace

int RunCheck(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    CheckRun run = {&arguments, out, err, 0};
    InputWalk walk = {arguments.recursive, false, InputRule::Inspected, CheckOne, &run};
    bool allIntact = WalkInputs(arguments.files, walk, err);
    if (run.skipped != 0)
        fprintf(err, "%s: %lu file(s) in folders and archives held no movie, and were left "
                     "out\n",
                programName, run.skipped);
    return allIntact ? exitDone : exitFailed;
}
