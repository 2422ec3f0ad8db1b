// cli_check.cpp - "check": whether each file's movie is whole, as one line
// of text or one JSON object per file.
#include "cli/cli.h"
#include "cli/cli_internal.h"
#include "cli/cli_platform.h"
#include "cli/cli_values.h"

#include "common/platform.h"
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
bool PrintJson(FILE* out, const std::string& path, const MovieCheck& check)
{
    char* name = NativeTextToUtf8(path.c_str());
    if (!name)
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
    MemFree(name);
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

int RunCheck(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    bool allIntact = true;
    for (const std::string& path : arguments.files) {
        MovieCheck check;
        if (!CheckInputFile(err, path, InputRule::Inspected)) {
            allIntact = false;
            continue;
        }
        Failure failure = CheckMovieFile(path.c_str(), nullptr, &check);
        if (Failed(failure)) {
            PrintFileError(err, path, FailureText(failure, FailureContext::Checking, check.info));
            allIntact = false;
            continue;
        }
        allIntact = allIntact && check.health == MovieHealth::Intact;
        if (arguments.json ? !PrintJson(out, path, check) : (PrintText(out, path, check), false)) {
            PrintFileError(err, path, "not enough memory to describe it");
            allIntact = false;
        }
        fflush(out);  // keeps results and error lines in the order of the files
    }
    return allIntact ? exitDone : exitFailed;
}
