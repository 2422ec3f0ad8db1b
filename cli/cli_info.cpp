// cli_info.cpp - "info": what each file is, and with --facts what its movie
// holds, as text for people, as one JSON object per line for scripts, or
// as CSV rows for spreadsheets.
#include "cli/cli.h"
#include "cli/cli_internal.h"
#include "cli/cli_platform.h"
#include "cli/cli_values.h"

#include "common/platform.h"
#include "cli/input_walk.h"

#include <atomic>
#include <memory>
#include <thread>

#include "rebuild/file_facts.h"
#include "rebuild/movie_identity.h"
#include "rebuild/work_memory.h"

namespace {

// What info reports about one input.
struct FileFacts {
    MovieInfo info;
    FileKind kind;
    PackedVersion required;       // meaningful with a movie
    PackedVersion playerVersion;  // 0 when there is no player or no readable version
    std::string name;             // the name in UTF-8, for JSON and CSV
    const MovieFacts* movie;      // with --facts, when the movie decoded; else null
    // With --facts: the SHA-256 of the movie's uncompressed form (when it
    // decoded) and of the file as stored (when it could be read), as hex.
    std::string movieSha256;
    std::string fileSha256;
};

bool HasMovie(const FileFacts& facts)
{
    return facts.info.movieSize != 0;
}

std::string Hex(const unsigned char digest[sha256Size])
{
    char text[sha256HexSize];
    FormatSha256Hex(digest, text);
    return text;
}

// A file of this size or more is hashed on a thread of its own while its
// movie is decoded: the two passes read the file through handles of their
// own, and the second core halves a large movie's wait.
const uint64_t hashBesideSize = 4u << 20;

// The hash of a file as stored, made on a thread or in place.
struct FileHash {
    const char* path;
    unsigned char digest[sha256Size];
    bool hashed;
};

void HashFile(void* context)
{
    FileHash* hash = (FileHash*)context;
    hash->hashed = HashFileBytes(hash->path, hash->digest);
}

// The movie's facts and identity, and the file's hash, of a file on disk.
FailureKind ReadFileIdentity(const char* path, FactsReader* reader, FileFacts* facts)
{
    // A .app folder is no file: its hash is that of nothing stored.
    FileHash hash = {path, {}, false};
    bool file = !IsFolder(path);
    std::thread beside;
    bool besides = file && HasMovie(*facts) && facts->info.fileLength >= hashBesideSize &&
                   StartWorkThread(&beside, HashFile, &hash);
    if (file && !besides)
        HashFile(&hash);
    FailureKind result = FailureKind::None;
    unsigned char digest[sha256Size];
    if (HasMovie(*facts)) {
        result = ReadMovieFileIdentity(path, facts->info, reader, digest).kind;
        if (result == FailureKind::None) {
            facts->movieSha256 = Hex(digest);
            facts->movie = &reader->facts;
        }
    }
    if (besides)
        beside.join();
    if (hash.hashed)
        facts->fileSha256 = Hex(hash.digest);
    return result;
}

// The same of an archive's entry, read as the walk went past it.
FailureKind ReadEntryIdentity(const CollectionEntry& entry, FileFacts* facts)
{
    if (entry.hasFileSha256)
        facts->fileSha256 = Hex(entry.fileSha256);
    if (!HasMovie(*facts))
        return FailureKind::None;
    if (!entry.hasMovieSha256)
        return entry.movieError;
    facts->movieSha256 = Hex(entry.movieSha256);
    facts->movie = &entry.facts->facts;
    return FailureKind::None;
}

// Fills `facts` for the input; with `reader` (used for files), reads its
// movie too. False
// (after reporting why) when the movie's facts were asked for and could
// not be read: the other facts still stand.
bool GatherFacts(std::string* err, const InputItem& item, FactsReader* reader, FileFacts* facts)
{
    facts->info = item.info;
    facts->kind = KindOf(facts->info);
    facts->required = RequiredPlayerVersion(facts->info.header);
    facts->playerVersion = item.entry
                               ? PlayerVersionOfSource(item.entry->source, facts->info.layout)
                               : PlayerVersionOf(item.path, facts->info.layout);
    facts->movie = nullptr;
    if (!reader)
        return true;
    FailureKind error = item.entry ? ReadEntryIdentity(*item.entry, facts)
                                   : ReadFileIdentity(item.path, reader, facts);
    if (error == FailureKind::None)
        return true;
    AppendFileError(err, item.name,
                    FailureText(FailureOf(error), FailureContext::ReadingFacts, facts->info));
    return false;
}

// ---------------------------------------------------------------------------
// Text, for people

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

const char* UnknownVersionReason(PlayerLayout layout)
{
    switch (layout) {
    case PlayerLayout::LinuxI386:
    case PlayerLayout::LinuxX86_64: return "unknown (Linux players carry no version)";
    case PlayerLayout::MacApp: return "unknown (no version in Contents/Info.plist)";
    default: return "unknown (no version resource)";
    }
}

const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}

void PrintMovieFactsText(std::string* out, const MovieFacts& movie)
{
    if (movie.hasStage)
        Appendf(out, "  stage              %s x %s pixels\n",
                FormatTwips(movie.stageWidthTwips).c_str(),
                FormatTwips(movie.stageHeightTwips).c_str());
    if (movie.hasFrames)
        Appendf(out, "  frames             %u at %s a second\n", (unsigned)movie.frameCount,
                FormatFrameRate(movie.frameRate).c_str());
    Appendf(out, "  ActionScript       %s\n",
            ActionScriptVirtualMachine(movie) == 2 ? "3 (AVM2)" : "1 or 2 (AVM1)");
    if (movie.hasFileAttributes)
        Appendf(out, "  file attributes    %s\n", FileAttributeNames(movie.fileAttributes).c_str());
    if (movie.hasBackground)
        Appendf(out, "  background         %s\n", FormatColour(movie.background).c_str());
    Appendf(out, "  tags               %lu, %s\n", (unsigned long)movie.tagCount,
            movie.endTag ? "closed by an End tag" : "no End tag within the declared length");
    if (movie.tagCount != 0)
        Appendf(out, "  tags by code       %s\n", TagCountsText(movie).c_str());
    if (movie.hasMetadata)
        Appendf(out, "  metadata           %lu bytes of text (in full with --json)\n",
                (unsigned long)movie.metadata.size());
    Appendf(out, "  protected          %s\n", YesNo(movie.isProtected));
    Appendf(out, "  debugger           %s\n", YesNo(movie.debugger));
}

void PrintText(std::string* out, const std::string& path, const FileFacts& facts, bool withMovieFacts)
{
    Appendf(out, "%s: %s\n", path.c_str(), KindDescription(facts.kind));
    const MovieInfo& info = facts.info;
    if (info.layout != PlayerLayout::None)
        Appendf(out, "  layout             %s\n", PlayerLayoutName(info.layout));
    if (HasMovie(facts)) {
        Appendf(out, "  signature          %s (%s)\n", SignatureText(info.header).c_str(),
                SignatureMeaning(info.header));
        Appendf(out, "  movie version      %u\n", (unsigned)MovieVersion(info.header));
        Appendf(out, "  declared length    %lu bytes\n", (unsigned long)info.fileLength);
        Appendf(out, "  stored movie size  %lu bytes\n", (unsigned long)info.movieSize);
    }
    if (info.playerSize != 0)
        Appendf(out, "  player size        %lu bytes\n", (unsigned long)info.playerSize);
    if (HasMovie(facts))
        Appendf(out, "  required player    %s\n", FormatVersion(facts.required).c_str());
    if (info.layout != PlayerLayout::None) {
        Appendf(out, "  player version     %s\n",
                facts.playerVersion ? FormatVersion(facts.playerVersion).c_str()
                                    : UnknownVersionReason(info.layout));
    }
    if (withMovieFacts && facts.movie)
        PrintMovieFactsText(out, *facts.movie);
    else if (withMovieFacts && HasMovie(facts))
        Appendf(out, "  movie facts        unknown: the movie cannot be read\n");
    if (withMovieFacts && !facts.movieSha256.empty())
        Appendf(out, "  movie SHA-256      %s\n", facts.movieSha256.c_str());
    if (withMovieFacts && !facts.fileSha256.empty())
        Appendf(out, "  file SHA-256       %s\n", facts.fileSha256.c_str());
}

// ---------------------------------------------------------------------------
// JSON and CSV: one table of keys, in their promised order

// Where a key appears.
enum KeyUse : unsigned {
    inJson = 1,
    inCsv = 2,
    movieFact = 4,  // only with --facts
};

struct InfoKey {
    const char* name;
    unsigned use;
    Value (*value)(const FileFacts& facts);
};

Value MovieText(const FileFacts& facts, const std::string& text)
{
    return HasMovie(facts) ? Text(text) : Null();
}

Value MovieNumber(const FileFacts& facts, uint32_t number)
{
    return HasMovie(facts) ? Number(number) : Null();
}

// A fact of the movie's frame rectangle and fields, when they were read.
Value StageValue(const FileFacts& facts, bool height)
{
    if (!facts.movie || !facts.movie->hasStage)
        return Null();
    return NumberText(
        FormatTwips(height ? facts.movie->stageHeightTwips : facts.movie->stageWidthTwips));
}

Value AttributeValue(const FileFacts& facts, uint8_t bit)
{
    if (!facts.movie || !facts.movie->hasFileAttributes)
        return Null();
    return Boolean((facts.movie->fileAttributes & bit) != 0);
}

// The keys, their order and their types are a promise to scripts: see the
// README's "Command line" section before changing anything here.
const InfoKey infoKeys[] = {
    {"file", inJson | inCsv, [](const FileFacts& f) { return Text(f.name); }},
    {"kind", inJson | inCsv, [](const FileFacts& f) { return Text(KindName(f.kind)); }},
    {"signature", inJson | inCsv,
     [](const FileFacts& f) { return MovieText(f, SignatureText(f.info.header)); }},
    {"version", inJson | inCsv,
     [](const FileFacts& f) { return MovieNumber(f, MovieVersion(f.info.header)); }},
    {"declared_length", inJson | inCsv,
     [](const FileFacts& f) { return MovieNumber(f, f.info.fileLength); }},
    {"movie_size", inJson | inCsv, [](const FileFacts& f) { return Number(f.info.movieSize); }},
    {"player_size", inJson | inCsv, [](const FileFacts& f) { return Number(f.info.playerSize); }},
    {"required_player_version", inJson | inCsv,
     [](const FileFacts& f) { return MovieText(f, FormatVersion(f.required)); }},
    {"player_version", inJson | inCsv,
     [](const FileFacts& f) {
         return f.playerVersion != 0 ? Text(FormatVersion(f.playerVersion)) : Null();
     }},
    {"layout", inJson | inCsv,
     [](const FileFacts& f) {
         return f.info.layout != PlayerLayout::None ? Text(PlayerLayoutName(f.info.layout))
                                                    : Null();
     }},
    {"stage_width", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return StageValue(f, false); }},
    {"stage_height", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return StageValue(f, true); }},
    {"frame_rate", inJson | inCsv | movieFact,
     [](const FileFacts& f) {
         return f.movie && f.movie->hasFrames ? NumberText(FormatFrameRate(f.movie->frameRate))
                                              : Null();
     }},
    {"frame_count", inJson | inCsv | movieFact,
     [](const FileFacts& f) {
         return f.movie && f.movie->hasFrames ? Number(f.movie->frameCount) : Null();
     }},
    {"tags", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return f.movie ? Number(f.movie->tagCount) : Null(); }},
    {"end_tag", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return f.movie ? Boolean(f.movie->endTag) : Null(); }},
    {"tag_counts", inJson | movieFact,
     [](const FileFacts& f) { return f.movie ? JsonText(TagCountsJson(*f.movie)) : Null(); }},
    {"background", inJson | inCsv | movieFact,
     [](const FileFacts& f) {
         return f.movie && f.movie->hasBackground ? Text(FormatColour(f.movie->background))
                                                  : Null();
     }},
    {"file_attributes", inJson | movieFact,
     [](const FileFacts& f) {
         return f.movie && f.movie->hasFileAttributes
                    ? JsonText(FileAttributesJson(f.movie->fileAttributes))
                    : Null();
     }},
    // The file attributes, a column each for spreadsheets.
    {"use_network", inCsv | movieFact,
     [](const FileFacts& f) { return AttributeValue(f, fileAttributeUseNetwork); }},
    {"as3", inCsv | movieFact,
     [](const FileFacts& f) { return AttributeValue(f, fileAttributeActionScript3); }},
    {"has_metadata", inCsv | movieFact,
     [](const FileFacts& f) { return AttributeValue(f, fileAttributeHasMetadata); }},
    {"use_gpu", inCsv | movieFact,
     [](const FileFacts& f) { return AttributeValue(f, fileAttributeUseGpu); }},
    {"use_direct_blit", inCsv | movieFact,
     [](const FileFacts& f) { return AttributeValue(f, fileAttributeUseDirectBlit); }},
    {"avm", inJson | inCsv | movieFact,
     [](const FileFacts& f) {
         return f.movie ? Number((uint32_t)ActionScriptVirtualMachine(*f.movie)) : Null();
     }},
    {"metadata", inJson | movieFact,
     [](const FileFacts& f) {
         return f.movie && f.movie->hasMetadata ? Text(f.movie->metadata) : Null();
     }},
    {"protected", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return f.movie ? Boolean(f.movie->isProtected) : Null(); }},
    {"debugger", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return f.movie ? Boolean(f.movie->debugger) : Null(); }},
    {"movie_sha256", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return f.movieSha256.empty() ? Null() : Text(f.movieSha256); }},
    {"file_sha256", inJson | inCsv | movieFact,
     [](const FileFacts& f) { return f.fileSha256.empty() ? Null() : Text(f.fileSha256); }},
};

bool Shows(const InfoKey& key, unsigned format, bool withMovieFacts)
{
    return (key.use & format) && (withMovieFacts || !(key.use & movieFact));
}

void PrintJson(std::string* out, const FileFacts& facts, bool withMovieFacts)
{
    std::string json = "{";
    for (const InfoKey& key : infoKeys) {
        if (!Shows(key, inJson, withMovieFacts))
            continue;
        if (json.size() > 1)
            json.push_back(',');
        AppendJsonString(&json, key.name);
        json.push_back(':');
        AppendJsonValue(&json, key.value(facts));
    }
    json.append("}\n");
    out->append(json);
}

void PrintCsvHeader(FILE* out, bool withMovieFacts)
{
    std::string row;
    for (const InfoKey& key : infoKeys) {
        if (Shows(key, inCsv, withMovieFacts))
            AppendCsvField(&row, Text(key.name));
    }
    row.append("\r\n");
    fputs(row.c_str(), out);
}

void PrintCsvRow(std::string* out, const FileFacts& facts, bool withMovieFacts)
{
    std::string row;
    for (const InfoKey& key : infoKeys) {
        if (Shows(key, inCsv, withMovieFacts))
            AppendCsvField(&row, key.value(facts));
    }
    row.append("\r\n");
    out->append(row);
}

}  // namespace

namespace {

struct InfoRun {
    const Arguments* arguments;
    std::atomic<unsigned long> skipped{0};  // inputs met in folders and archives that are neither
};

bool DescribeInput(const InputItem& item, void* context, InputResult* result)
{
    InfoRun* run = (InfoRun*)context;
    const Arguments& arguments = *run->arguments;
    FileKind kind = KindOf(item.info);
    if (item.found && kind != FileKind::BareMovie && kind != FileKind::Projector) {
        run->skipped++;
        return true;
    }
    FileFacts facts;
    facts.name = InputNameUtf8(item);
    if (facts.name.empty()) {
        AppendFileError(&result->err, item.name, "not enough memory to describe it");
        return false;
    }
    // A reader of its own on each thread (an archive's entries come with
    // the facts the walk read).
    std::unique_ptr<FactsReader> reader(arguments.facts ? new FactsReader : nullptr);
    bool done = GatherFacts(&result->err, item, reader.get(), &facts);
    if (arguments.json)
        PrintJson(&result->out, facts, arguments.facts);
    else if (arguments.csv)
        PrintCsvRow(&result->out, facts, arguments.facts);
    else
        PrintText(&result->out, item.name, facts, arguments.facts);
    return done;
}

}  // namespace

int RunInfo(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    if (arguments.json && arguments.csv)
        return ReportUsageError(err, arguments.command, "choose one of --json and --csv");
    unsigned jobs = 0;
    if (!ParseJobs(arguments, err, &jobs))
        return exitUsage;
    InfoRun run;
    run.arguments = &arguments;
    if (arguments.csv)
        PrintCsvHeader(out, arguments.facts);
    bool text = !arguments.json && !arguments.csv;
    InputWalk walk = {arguments.recursive, arguments.facts, InputRule::Inspected, DescribeInput,
                      &run, jobs, text};
    bool allDone = WalkInputs(arguments.files, walk, out, err);
    if (run.skipped != 0)
        fprintf(err, "%s: %lu file(s) in folders and archives were neither movies nor "
                     "projectors, and were left out\n",
                programName, run.skipped.load());
    return allDone ? exitDone : exitFailed;
}
