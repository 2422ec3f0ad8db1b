// cli_info.cpp - "info": what each file is, as text for people or as one
// JSON object per line for scripts.
#include "cli.h"
#include "cli_internal.h"
#include "cli_platform.h"

#include "common/platform.h"

namespace {

// What info reports about one file.
struct FileFacts {
    MovieInfo info;
    FileKind kind;
    PackedVersion required;       // meaningful with a movie
    PackedVersion playerVersion;  // 0 when there is no player or no readable version
};

FileFacts GatherFacts(const std::string& path)
{
    FileFacts facts;
    InspectMovieFile(path.c_str(), &facts.info);
    facts.kind = KindOf(facts.info);
    facts.required = RequiredPlayerVersion(facts.info.header);
    facts.playerVersion = facts.info.playerSize != 0 ? GetPlayerVersion(path.c_str()) : 0;
    return facts;
}

bool HasMovie(const FileFacts& facts)
{
    return facts.info.movieSize != 0;
}

const char* SignatureMeaning(uint32_t header)
{
    switch (MovieSignature(header)) {
    case signatureUncompressed: return "uncompressed";
    case signatureZlib: return "zlib-compressed";
    default: return "LZMA-compressed";
    }
}

const char* KindDescription(FileKind kind)
{
    switch (kind) {
    case FileKind::BareMovie: return "bare Flash movie";
    case FileKind::Projector: return "projector (player program with a movie)";
    case FileKind::Player: return "player program without a movie";
    case FileKind::None: break;
    }
    return "neither a Flash movie nor a player program";
}

void PrintText(FILE* out, const std::string& path, const FileFacts& facts)
{
    fprintf(out, "%s: %s\n", path.c_str(), KindDescription(facts.kind));
    const MovieInfo& info = facts.info;
    if (HasMovie(facts)) {
        fprintf(out, "  signature          %s (%s)\n", SignatureText(info.header).c_str(),
                SignatureMeaning(info.header));
        fprintf(out, "  movie version      %u\n", (unsigned)MovieVersion(info.header));
        fprintf(out, "  declared length    %lu bytes\n", (unsigned long)info.fileLength);
        fprintf(out, "  stored movie size  %lu bytes\n", (unsigned long)info.movieSize);
    }
    if (info.playerSize != 0)
        fprintf(out, "  player size        %lu bytes\n", (unsigned long)info.playerSize);
    if (HasMovie(facts))
        fprintf(out, "  required player    %s\n", FormatVersion(facts.required).c_str());
    if (info.playerSize != 0) {
        fprintf(out, "  player version     %s\n",
                facts.playerVersion ? FormatVersion(facts.playerVersion).c_str()
                                    : "unknown (no version resource)");
    }
}

// The keys, their order and their types are a promise to scripts: see the
// README's "Command line" section before changing anything here.
bool PrintJson(FILE* out, const std::string& path, const FileFacts& facts)
{
    char* name = NativeTextToUtf8(path.c_str());
    if (!name)
        return false;
    const MovieInfo& info = facts.info;
    bool movie = HasMovie(facts);
    std::string json = "{";
    AppendKey(&json, "file");
    AppendJsonString(&json, name);
    MemFree(name);
    AppendTextOrNull(&json, "kind", true, KindName(facts.kind));
    AppendTextOrNull(&json, "signature", movie, SignatureText(info.header));
    AppendNumberOrNull(&json, "version", movie, MovieVersion(info.header));
    AppendNumberOrNull(&json, "declared_length", movie, info.fileLength);
    AppendNumberOrNull(&json, "movie_size", true, info.movieSize);
    AppendNumberOrNull(&json, "player_size", true, info.playerSize);
    AppendTextOrNull(&json, "required_player_version", movie, FormatVersion(facts.required));
    AppendTextOrNull(&json, "player_version", facts.playerVersion != 0,
                     FormatVersion(facts.playerVersion));
    json.append("}\n");
    fputs(json.c_str(), out);
    return true;
}

}  // namespace

int RunInfo(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    bool allDone = true;
    bool first = true;
    for (const std::string& path : arguments.files) {
        if (!CheckInputFile(err, path)) {
            allDone = false;
            continue;
        }
        FileFacts facts = GatherFacts(path);
        if (arguments.json) {
            if (!PrintJson(out, path, facts)) {
                ReportFileError(err, path, "not enough memory to describe it");
                allDone = false;
            }
        } else {
            if (!first)
                fputc('\n', out);
            PrintText(out, path, facts);
            first = false;
        }
        // Keeps the results and the error lines in the order of the files.
        fflush(out);
    }
    return allDone ? exitDone : exitFailed;
}
