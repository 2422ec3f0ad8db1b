// cli_scan.cpp - "scan": every movie embedded anywhere in each file, with
// or without a projector trailer, as text or as one JSON object a movie.
#include "cli/cli.h"
#include "cli/cli_internal.h"
#include "cli/cli_platform.h"
#include "cli/cli_values.h"

#include "common/platform.h"
#include "cli/input_walk.h"
#include "rebuild/movie_scan.h"

namespace {

struct ScanOutput {
    std::string* out;
    const std::string* path;
    const char* jsonName;  // the path as JSON text; null for text output
    bool candidates;       // list the candidates that were not confirmed too
    unsigned found;        // listed
    unsigned rejected;     // not confirmed, and not listed
};

void PrintMovieText(std::string* out, const std::string& path, const FoundMovie& movie)
{
    Appendf(out, "%s: offset %llu  %s  version %u  declared length %lu  stored size %llu  %s\n",
            path.c_str(), (unsigned long long)movie.offset, SignatureText(movie.header).c_str(),
            (unsigned)MovieVersion(movie.header), (unsigned long)movie.fileLength,
            (unsigned long long)movie.storedSize, movie.confirmed ? "confirmed" : "not confirmed");
}

// The keys and their order are a promise to scripts, as info's are.
void PrintMovieJson(std::string* out, const char* jsonName, const FoundMovie& movie)
{
    struct Key {
        const char* name;
        Value value;
    };
    const Key keys[] = {
        {"offset", NumberText(std::to_string(movie.offset))},
        {"signature", Text(SignatureText(movie.header))},
        {"version", Number(MovieVersion(movie.header))},
        {"declared_length", Number(movie.fileLength)},
        {"stored_size", NumberText(std::to_string(movie.storedSize))},
        {"confirmed", Boolean(movie.confirmed)},
    };
    std::string json = "{\"file\":";
    json += jsonName;
    for (const Key& key : keys) {
        json += ",";
        AppendJsonString(&json, key.name);
        json += ":";
        AppendJsonValue(&json, key.value);
    }
    json += "}\n";
    out->append(json);
}

bool PrintFound(const FoundMovie& movie, void* context)
{
    ScanOutput* output = (ScanOutput*)context;
    if (!movie.confirmed && !output->candidates) {
        output->rejected++;
        return true;
    }
    if (output->jsonName)
        PrintMovieJson(output->out, output->jsonName, movie);
    else
        PrintMovieText(output->out, *output->path, movie);
    output->found++;
    return true;
}

// The input's name as a JSON string, or "" when memory runs out.
std::string JsonName(const InputItem& item)
{
    std::string name = InputNameUtf8(item);
    if (name.empty())
        return "";
    std::string json;
    AppendJsonString(&json, name);
    return json;
}

bool ScanInput(const InputItem& item, ScanOutput* output)
{
    if (item.entry)
        return ScanSource(item.entry->source, PrintFound, output);
    return ScanFile(item.path, PrintFound, output);
}

bool ScanOne(const InputItem& item, void* context, InputResult* result)
{
    const Arguments* arguments = (const Arguments*)context;
    bool json = arguments->json;
    std::string jsonName = json ? JsonName(item) : "";
    if (json && jsonName.empty()) {
        AppendFileError(&result->err, item.name, "not enough memory to describe it");
        return false;
    }
    ScanOutput output = {&result->out, &item.name, json ? jsonName.c_str() : nullptr,
                         arguments->candidates, 0, 0};
    bool done = ScanInput(item, &output);
    if (!done)
        AppendFileError(&result->err, item.name,
                        "could not be read to its end; the movies before the failure are "
                        "listed");
    else if (output.found == 0 && !json && !item.found)
        Appendf(&result->out, "%s: no movie found\n", item.name.c_str());
    if (output.rejected != 0)
        AppendFileError(&result->err, item.name,
                        std::to_string(output.rejected) +
                            " candidate(s) not confirmed as movies were left out "
                            "(--candidates lists them)");
    return done;
}

}  // namespace

int RunScan(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    unsigned jobs = 0;
    if (!ParseJobs(arguments, err, &jobs))
        return exitUsage;
    InputWalk walk = {arguments.recursive, false, InputRule::AnySize, ScanOne,
                      (void*)&arguments, jobs, false};
    return WalkInputs(arguments.files, walk, out, err) ? exitDone : exitFailed;
}
