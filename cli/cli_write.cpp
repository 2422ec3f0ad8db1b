// cli_write.cpp - the commands that write files: save, extract-player and
// extract-movie, for one input or a batch, with the version check and the
// rules that keep existing files safe.
#include "cli.h"
#include "cli_internal.h"
#include "cli_platform.h"
#include "progress.h"

#include "rebuild/rebuild.h"

namespace {

enum class WriteCommand { Save, ExtractPlayer, ExtractMovie };

// What a run applies to each of its inputs.
struct WriteRequest {
    WriteCommand command;
    RebuildMode mode;        // save and extract-movie
    std::string playerPath;  // with --player replace=FILE
    std::string outDir;      // empty when the output was named
    bool force;
    bool quiet;
    unsigned threads;  // deflate workers a conversion uses; 0: one per core
    FILE* err;
};

// How one input ended. A run whose inputs were all done or refused ends
// with exitRefused, so that --force would finish it; any failure wins.
enum class Outcome { Done, Failed, Refused };

// Conversions of movies this big or bigger show a bar on a terminal;
// smaller ones are over before a bar could be read.
const uint32_t progressThreshold = 1024 * 1024;

struct ActionName {
    const char* name;
    uint16_t action;
};

const ActionName movieActions[] = {
    {"keep", (uint16_t)MovieAction::Keep},
    {"decompress", (uint16_t)MovieAction::Decompress},
    {"compress", (uint16_t)MovieAction::Compress},
};

const ActionName playerActions[] = {
    {"keep", (uint16_t)PlayerAction::Keep},
    {"remove", (uint16_t)PlayerAction::Remove},
};

const char replacePrefix[] = "replace=";

template <size_t count>
bool FindAction(const ActionName (&table)[count], const std::string& name, uint16_t* action)
{
    for (size_t i = 0; i < count; i++) {
        if (name == table[i].name) {
            *action = table[i].action;
            return true;
        }
    }
    return false;
}

// Turns --movie and --player into the request's mode (and player file).
// Returns exitDone, or exitUsage after reporting the fault.
int ParseSaveOptions(const Arguments& arguments, WriteRequest* request)
{
    uint16_t movie = (uint16_t)MovieAction::Keep;
    uint16_t player = (uint16_t)PlayerAction::Keep;
    const std::string& movieText = arguments.movieOption;
    const std::string& playerText = arguments.playerOption;
    if (!movieText.empty() && !FindAction(movieActions, movieText, &movie))
        return ReportUsageError(request->err, arguments.command,
                                "--movie takes keep, decompress or compress, not \"" + movieText +
                                    "\"");
    if (playerText.compare(0, sizeof replacePrefix - 1, replacePrefix) == 0) {
        player = (uint16_t)PlayerAction::AddReplace;
        request->playerPath = playerText.substr(sizeof replacePrefix - 1);
        if (request->playerPath.empty())
            return ReportUsageError(request->err, arguments.command,
                                    "--player replace= needs the player file after the =");
    } else if (!playerText.empty() && !FindAction(playerActions, playerText, &player)) {
        return ReportUsageError(request->err, arguments.command,
                                "--player takes keep, remove or replace=FILE, not \"" +
                                    playerText + "\"");
    }
    request->mode = MakeRebuildMode((PlayerAction)player, (MovieAction)movie);
    if (request->mode == 0)
        return ReportUsageError(request->err, arguments.command,
                                "nothing to do: choose --movie decompress or compress, or "
                                "--player remove or replace=FILE");
    return exitDone;
}

// The inputs, and the output when it is named rather than derived.
int SplitOperands(const Arguments& arguments, FILE* err, std::vector<std::string>* inputs,
                  std::string* output)
{
    const std::vector<std::string>& files = arguments.files;
    if (!arguments.outDir.empty()) {
        if (files.empty())
            return ReportUsageError(err, arguments.command, "no input file given");
        *inputs = files;
        return exitDone;
    }
    if (files.size() < 2)
        return ReportUsageError(err, arguments.command, "needs an input file and an output file");
    if (files.size() > 2)
        return ReportUsageError(err, arguments.command,
                                "several input files need --out-dir DIR for their outputs");
    inputs->push_back(files[0]);
    *output = files[1];
    return exitDone;
}

// The replacement player must exist and hold a player program; otherwise
// the output would silently lack one.
bool CheckReplacementPlayer(const WriteRequest& request)
{
    const std::string& path = request.playerPath;
    if (!CheckInputFile(request.err, path))
        return false;
    MovieInfo player;
    InspectMovieFile(path.c_str(), &player);
    if (player.playerSize != 0)
        return true;
    ReportFileError(request.err, path,
                    KindOf(player) == FileKind::BareMovie
                        ? "is a bare movie; a replacement player must be a player program or "
                          "a projector"
                        : "is neither a player program nor a projector");
    return false;
}

bool PrepareOutDir(const WriteRequest& request)
{
    const char* folder = request.outDir.c_str();
    if (IsFolder(folder))
        return true;
    if (PathExists(folder)) {
        ReportFileError(request.err, request.outDir, "is not a folder");
        return false;
    }
    if (!CreateFolder(folder)) {
        ReportFileError(request.err, request.outDir,
                        "the output folder cannot be created (does its parent exist, and may "
                        "you write there?)");
        return false;
    }
    return true;
}

std::string BaseName(const std::string& path)
{
    size_t start = path.size();
    while (start > 0 && !IsPathSeparator(path[start - 1]))
        start--;
    return path.substr(start);
}

// The name without its last extension; a leading dot starts no extension.
std::string Stem(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && IsPathSeparator(folder.back()))
        return folder + name;
    return folder + pathSeparator + name;
}

std::string DerivedOutput(const WriteRequest& request, const std::string& input,
                          const MovieInfo& source)
{
    std::string stem = Stem(BaseName(input));
    std::string name;
    switch (request.command) {
    case WriteCommand::Save:
        // An output with a player is a projector, named .exe.
        name = stem + (SavedPlayerSource(request.mode, input.c_str(), request.playerPath.c_str(),
                                         source)
                           ? ".exe"
                           : ".swf");
        break;
    case WriteCommand::ExtractPlayer: name = stem + "-player.exe"; break;
    case WriteCommand::ExtractMovie: name = stem + ".swf"; break;
    }
    return JoinPath(request.outDir, name);
}

// Whether the input holds what the command needs, and can be converted as
// asked.
bool CheckSource(const WriteRequest& request, const std::string& input, const MovieInfo& source)
{
    FileKind kind = KindOf(source);
    if (request.command == WriteCommand::ExtractPlayer) {
        if (source.playerSize != 0)
            return true;
        ReportFileError(request.err, input,
                        kind == FileKind::BareMovie
                            ? "is a bare movie; it holds no player program to extract"
                            : "is neither a projector nor a player program");
        return false;
    }
    if (kind == FileKind::Player) {
        ReportFileError(request.err, input, "is a player program without a movie");
        return false;
    }
    if (kind == FileKind::None) {
        ReportFileError(request.err, input, "is neither a Flash movie nor a projector");
        return false;
    }
    bool converts = MovieActionOf(request.mode) != MovieAction::Keep;
    if (converts && MovieSignature(source.header) == signatureLzma) {
        ReportFileError(request.err, input,
                        "holds an LZMA-compressed (ZWS) movie, which cannot be compressed or "
                        "decompressed; only --movie keep is possible");
        return false;
    }
    return true;
}

// The dialog's Save check: the player the output will hold must be at
// least as new as the movie needs. No player is checked with Remove, nor
// with Keep when the source has none.
Outcome CheckPlayerVersion(const WriteRequest& request, const std::string& input,
                           const MovieInfo& source)
{
    const char* playerSource = SavedPlayerSource(request.mode, input.c_str(),
                                                 request.playerPath.c_str(), source);
    if (request.command != WriteCommand::Save || !playerSource)
        return Outcome::Done;
    std::string whichPlayer = playerSource == input.c_str()
                                  ? "the projector's own player"
                                  : "the player of " + request.playerPath;
    PackedVersion required = RequiredPlayerVersion(source.header);
    PackedVersion player = GetPlayerVersion(playerSource);
    if (PlayerIsNewEnough(player, required))
        return Outcome::Done;
    std::string facts = "movie version " + std::to_string(MovieVersion(source.header)) +
                        " needs Flash Player " + FormatVersion(required) + " or newer, but " +
                        whichPlayer + " is " +
                        (player ? "version " + FormatVersion(player)
                                : "of unknown version (counted as 0.0)");
    if (!request.force) {
        ReportFileError(request.err, input, "refused: " + facts + "; use --force to save anyway");
        return Outcome::Refused;
    }
    if (!request.quiet)
        ReportFileError(request.err, input, "warning: " + facts + "; saving anyway (--force)");
    return Outcome::Done;
}

// The rules that keep files safe: never replace an existing file or an
// input without --force, never a folder, and never an output that an
// earlier input of this run wrote.
bool CheckOutput(const WriteRequest& request, const std::string& input, const std::string& output,
                 const std::vector<std::string>& written)
{
    const char* path = output.c_str();
    FILE* err = request.err;
    if (IsFolder(path)) {
        ReportFileError(err, output,
                        request.outDir.empty()
                            ? "is a folder; name the output file, or use --out-dir for a folder"
                            : "is a folder, where the output of " + input + " should go");
        return false;
    }
    for (const std::string& earlier : written) {
        if (IsSameFile(path, earlier.c_str())) {
            ReportFileError(err, output,
                            "was already written by another input of this run; not replaced (" +
                                input + " not saved)");
            return false;
        }
    }
    if (request.force)
        return true;
    bool isPlayer = !request.playerPath.empty() && IsSameFile(path, request.playerPath.c_str());
    if (IsSameFile(path, input.c_str()) || isPlayer) {
        ReportFileError(err, output,
                        std::string("is the ") + (isPlayer ? "player" : "input") +
                            " file itself; use --force to replace it (it is replaced only once "
                            "the new file is complete)");
        return false;
    }
    if (PathExists(path)) {
        ReportFileError(err, output, "already exists; use --force to replace it");
        return false;
    }
    return true;
}

struct ErrorText {
    RebuildError error;
    bool aboutOutput;  // names the output file rather than the input
    const char* text;
};

const ErrorText errorTexts[] = {
    {RebuildError::NothingToDo, false, "nothing to do"},
    {RebuildError::NoMovie, false, "holds no Flash movie"},
    {RebuildError::NoPlayer, false, "holds no player program"},
    {RebuildError::ReadFailed, false,
     "could not be read completely (did it change meanwhile, or is the disk failing?)"},
    {RebuildError::DamagedMovie, false,
     "the compressed movie is damaged: its zlib stream is corrupt, cut short or fails its "
     "checksum"},
    {RebuildError::OutOfMemory, false, "not enough memory to hold and convert the movie"},
    {RebuildError::ConversionFailed, false, "the movie could not be converted"},
    {RebuildError::CreateFailed, true,
     "cannot create a file in its folder (does the folder exist, and may you write there?)"},
    {RebuildError::WriteFailed, true,
     "writing it failed (is the disk full?); no existing file was replaced"},
    {RebuildError::OutputExists, true,
     "already exists (made by someone else while it was written); not replaced, use --force to "
     "replace it"},
};

void ReportRebuildError(const WriteRequest& request, const std::string& input,
                        const std::string& output, RebuildError error)
{
    for (const ErrorText& entry : errorTexts) {
        if (entry.error != error)
            continue;
        if (entry.aboutOutput)
            ReportFileError(request.err, output,
                            std::string(entry.text) + " (writing it from " + input + ")");
        else
            ReportFileError(request.err, input, entry.text);
        return;
    }
    ReportFileError(request.err, input, "failed for an unknown reason");
}

bool ShowsProgress(const WriteRequest& request, const MovieInfo& source)
{
    return request.command != WriteCommand::ExtractPlayer && !request.quiet &&
           MovieActionOf(request.mode) != MovieAction::Keep &&
           (source.movieSize >= progressThreshold || source.fileLength >= progressThreshold) &&
           IsTerminal(request.err);
}

bool Write(const WriteRequest& request, const std::string& input, const std::string& output,
           const MovieInfo& source, RebuildError* error)
{
    // CheckOutput found the name free, but another program may take it
    // meanwhile: without --force the commit itself refuses to replace.
    CommitMode commit = request.force ? CommitMode::Replace : CommitMode::NoReplace;
    if (request.command == WriteCommand::ExtractPlayer)
        return ExtractPlayer(input.c_str(), output.c_str(), error, commit);
    TerminalProgress bar;
    Progress progress = TerminalProgressReporter(&bar);
    bool showsProgress = ShowsProgress(request, source);
    if (showsProgress)
        StartProgress(&bar, request.err, BaseName(input).c_str());
    const char* playerPath = request.playerPath.empty() ? nullptr : request.playerPath.c_str();
    RebuildDetails details = {request.threads, 0};
    bool written = RebuildMovieFile(showsProgress ? &progress : nullptr, input.c_str(),
                                    output.c_str(), playerPath, request.mode, error, &details,
                                    commit);
    if (showsProgress)
        EraseProgress(&bar);
    if (written && details.paddedBytes != 0 && !request.quiet)
        ReportFileError(request.err, input,
                        "warning: the movie's compressed stream ended " +
                            std::to_string(details.paddedBytes) +
                            " bytes short of its declared length; they were written as zeros");
    return written;
}

Outcome ProcessInput(const WriteRequest& request, const std::string& input,
                     const std::string& namedOutput, std::vector<std::string>* written)
{
    if (!CheckInputFile(request.err, input))
        return Outcome::Failed;
    MovieInfo source;
    InspectMovieFile(input.c_str(), &source);
    if (!CheckSource(request, input, source))
        return Outcome::Failed;
    Outcome version = CheckPlayerVersion(request, input, source);
    if (version != Outcome::Done)
        return version;
    std::string output = namedOutput.empty() ? DerivedOutput(request, input, source) : namedOutput;
    if (!CheckOutput(request, input, output, *written))
        return Outcome::Failed;
    RebuildError error = RebuildError::None;
    if (!Write(request, input, output, source, &error)) {
        ReportRebuildError(request, input, output, error);
        return Outcome::Failed;
    }
    written->push_back(output);
    return Outcome::Done;
}

int RunWrite(WriteCommand command, const Arguments& arguments, FILE* err)
{
    WriteRequest request = {command, MakeRebuildMode(PlayerAction::Remove, MovieAction::Keep),
                            "", arguments.outDir, arguments.force, arguments.quiet, 0, err};
    std::vector<std::string> inputs;
    std::string namedOutput;
    if (SplitOperands(arguments, err, &inputs, &namedOutput) != exitDone)
        return exitUsage;
    if (command == WriteCommand::Save && ParseSaveOptions(arguments, &request) != exitDone)
        return exitUsage;
    if (!request.playerPath.empty() && !CheckReplacementPlayer(request))
        return exitFailed;
    if (!request.outDir.empty() && !PrepareOutDir(request))
        return exitFailed;

    std::vector<std::string> written;
    bool failed = false;
    bool refused = false;
    for (const std::string& input : inputs) {
        Outcome outcome = ProcessInput(request, input, namedOutput, &written);
        failed = failed || outcome == Outcome::Failed;
        refused = refused || outcome == Outcome::Refused;
    }
    if (failed)
        return exitFailed;
    return refused ? exitRefused : exitDone;
}

}  // namespace

int RunSave(const Arguments& arguments, FILE*, FILE* err)
{
    return RunWrite(WriteCommand::Save, arguments, err);
}

int RunExtractPlayer(const Arguments& arguments, FILE*, FILE* err)
{
    return RunWrite(WriteCommand::ExtractPlayer, arguments, err);
}

int RunExtractMovie(const Arguments& arguments, FILE*, FILE* err)
{
    return RunWrite(WriteCommand::ExtractMovie, arguments, err);
}
