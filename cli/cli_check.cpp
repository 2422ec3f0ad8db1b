// cli_check.cpp - "check": whether each file's movie is whole, as one line
// of text or one JSON object per file.
#include "cli/cli.h"
#include "cli/cli_internal.h"
#include "cli/cli_platform.h"
#include "cli/cli_values.h"

#include "common/platform.h"
#include "cli/input_walk.h"

#include <atomic>

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

void PrintText(std::string* out, const std::string& path, const MovieCheck& check)
{
    std::string signature = SignatureText(check.info.header);
    switch (check.health) {
    case MovieHealth::NoMovie:
        Appendf(out, "%s: no movie\n", path.c_str());
        return;
    case MovieHealth::Damaged:
        Appendf(out, "%s: damaged (%s): %s\n", path.c_str(), signature.c_str(),
                Problem(check).c_str());
        return;
    case MovieHealth::Intact: break;
    }
    Appendf(out, "%s: intact (%s, %s bytes", path.c_str(), signature.c_str(),
            Decimal(check.info.fileLength).c_str());
    if (check.paddedBytes != 0)
        Appendf(out, "; the stream ends %s bytes short, which players fill with zeros",
                Decimal(check.paddedBytes).c_str());
    out->append(")\n");
}

// The keys are a promise to scripts, as info's are: see the README.
bool PrintJson(std::string* out, const InputItem& item, const MovieCheck& check)
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
    out->append(json);
    return true;
}

}  // namespace

namespace {

struct CheckRun {
    const Arguments* arguments;
    std::atomic<unsigned long> skipped{0};  // inputs met in folders and archives without a movie
};

Failure CheckInput(const InputItem& item, MovieCheck* check)
{
    if (item.entry)
        return CheckMovieSource(item.entry->source, item.info, nullptr, check);
    return CheckMovieFile(item.path, nullptr, check);
}

// False when the input is not an intact movie.
bool CheckOne(const InputItem& item, void* context, InputResult* result)
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
        AppendFileError(&result->err, item.name,
                        FailureText(failure, FailureContext::Checking, check.info));
        return false;
    }
    bool intact = check.health == MovieHealth::Intact;
    if (run->arguments->json ? !PrintJson(&result->out, item, check)
                             : (PrintText(&result->out, item.name, check), false)) {
        AppendFileError(&result->err, item.name, "not enough memory to describe it");
        intact = false;
    }
    return intact;
}

}  // namespace

int RunCheck(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    unsigned jobs = 0;
    if (!ParseJobs(arguments, err, &jobs))
        return exitUsage;
    CheckRun run;
    run.arguments = &arguments;
    InputWalk walk = {arguments.recursive, false, InputRule::Inspected, CheckOne, &run, jobs,
                      false};
    bool allIntact = WalkInputs(arguments.files, walk, out, err);
    if (run.skipped != 0)
        fprintf(err, "%s: %lu file(s) in folders and archives held no movie, and were left "
                     "out\n",
                programName, run.skipped.load());
    return allIntact ? exitDone : exitFailed;
}
