// cli_scan.cpp - "scan": every movie embedded anywhere in each file, with
// or without a projector trailer, as text or as one JSON object a movie.
#include "cli.h"
#include "cli_internal.h"
#include "cli_platform.h"
#include "cli_values.h"

#include "common/platform.h"
#include "rebuild/movie_scan.h"

namespace {

struct ScanOutput {
    FILE* out;
    const std::string* path;
    const char* jsonName;  // the path as JSON text; null for text output
    unsigned found;
};

void PrintMovieText(FILE* out, const std::string& path, const FoundMovie& movie)
{
    fprintf(out, "%s: offset %llu  %s  version %u  declared length %lu  stored size %llu  %s\n",
            path.c_str(), (unsigned long long)movie.offset, SignatureText(movie.header).c_str(),
            (unsigned)MovieVersion(movie.header), (unsigned long)movie.fileLength,
            (unsigned long long)movie.storedSize, movie.confirmed ? "confirmed" : "not confirmed");
}

// The keys and their order are a promise to scripts, as info's are.
void PrintMovieJson(FILE* out, const char* jsonName, const FoundMovie& movie)
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
    fputs(json.c_str(), out);
}

bool PrintFound(const FoundMovie& movie, void* context)
{
    ScanOutput* output = (ScanOutput*)context;
    if (output->jsonName)
        PrintMovieJson(output->out, output->jsonName, movie);
    else
        PrintMovieText(output->out, *output->path, movie);
    output->found++;
    return true;
}

// The file name as a JSON string, or "" when memory runs out.
std::string JsonName(const std::string& path)
{
    char* name = NativeTextToUtf8(path.c_str());
    if (!name)
        return "";
    std::string json;
    AppendJsonString(&json, name);
    MemFree(name);
    return json;
}

}  // namespace

bool CheckScannedFile(FILE* err, const std::string& path)
{
    if (IsSpecialFile(path.c_str())) {
        ReportFileError(err, path, specialFileText);
        return false;
    }
    if (!PathExists(path.c_str())) {
        ReportFileError(err, path, "no such file");
        return false;
    }
    if (IsFolder(path.c_str())) {
        ReportFileError(err, path, "is a folder, not a file");
        return false;
    }
    PlatformFile* file = OpenFileForRead(path.c_str());
    if (!file) {
        ReportFileError(err, path,
                        "cannot be opened for reading (no permission, or another program is "
                        "writing it)");
        return false;
    }
    CloseFile(file);
    return true;
}

int RunScan(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    bool allDone = true;
    for (const std::string& path : arguments.files) {
        if (!CheckScannedFile(err, path)) {
            allDone = false;
            continue;
        }
        std::string jsonName = arguments.json ? JsonName(path) : "";
        if (arguments.json && jsonName.empty()) {
            ReportFileError(err, path, "not enough memory to describe it");
            allDone = false;
            continue;
        }
        ScanOutput output = {out, &path, arguments.json ? jsonName.c_str() : nullptr, 0};
        if (!ScanFile(path.c_str(), PrintFound, &output)) {
            ReportFileError(err, path, "could not be read to its end; the movies before the "
                                       "failure are listed");
            allDone = false;
        } else if (output.found == 0 && !arguments.json) {
            fprintf(out, "%s: no movie found\n", path.c_str());
        }
        fflush(out);
    }
    return allDone ? exitDone : exitFailed;
}
