// write_checks.cpp - the checks that come before anything is written:
// the inputs hold what the command needs, the player is new enough for
// the movie, and no output replaces a file it should not; and the words
// for what went wrong.
#include "cli/write_request.h"

#include "cli/cli_platform.h"
#include "rebuild/lzma_body.h"

// The replacement player must exist and hold a player program; otherwise
// the output would silently lack one.
bool CheckReplacementPlayer(const WriteRequest& request)
{
    const std::string& path = request.playerPath;
    if (!CheckInputFile(request.err, path, InputRule::Inspected))
        return false;
    MovieInfo player;
    InspectMovie(path.c_str(), &player);
    if (player.layout == PlayerLayout::MacApp) {
        PrintFileError(request.err, path,
                        "is a .app folder; a replacement player must be a Windows or Linux player "
                        "program or projector");
        return false;
    }
    if (player.playerSize != 0)
        return true;
    PrintFileError(request.err, path,
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
        PrintFileError(request.err, request.outDir, "is not a folder");
        return false;
    }
    if (!CreateFolder(folder)) {
        PrintFileError(request.err, request.outDir,
                        "the output folder cannot be created (does its parent exist, and may "
                        "you write there?)");
        return false;
    }
    return true;
}

PlayerLayout SavedLayout(const WriteRequest& request, const std::string& input,
                         const MovieInfo& source)
{
    const char* playerSource =
        SavedPlayerSource(request.mode, input.c_str(), request.playerPath.c_str(), source);
    if (!playerSource)
        return PlayerLayout::None;
    if (playerSource == input.c_str())
        return source.layout;
    MovieInfo player;
    InspectMovie(playerSource, &player);
    return player.layout;
}

// Whether the input holds what the command needs, and can be converted as
// asked.
bool CheckSource(const WriteRequest& request, const std::string& input,
                 const MovieInfo& source, std::string* log)
{
    FileKind kind = KindOf(source);
    bool keepsPlayer = request.command == WriteCommand::ExtractPlayer ||
                       (request.command == WriteCommand::Save &&
                        PlayerActionOf(request.mode) == PlayerAction::Keep);
    if (source.layout == PlayerLayout::MacApp && keepsPlayer) {
        AppendFileError(log, input,
                     "is a .app folder, whose player cannot be written into a file; use "
                     "--player remove or replace=FILE, or extract-movie");
        return false;
    }
    if (request.command == WriteCommand::ExtractPlayer) {
        if (source.playerSize != 0)
            return true;
        AppendFileError(log, input,
                        kind == FileKind::BareMovie
                            ? "is a bare movie; it holds no player program to extract"
                            : "is neither a projector nor a player program");
        return false;
    }
    if (kind == FileKind::Player) {
        AppendFileError(log, input, "is a player program without a movie");
        return false;
    }
    if (kind == FileKind::None) {
        AppendFileError(log, input, "is neither a Flash movie nor a projector");
        return false;
    }
    uint32_t version = MovieVersion(source.header);
    if (MovieActionOf(request.mode) == MovieAction::CompressLzma && !LzmaAllowsVersion(version)) {
        AppendFileError(log, input,
                     "movie version " + std::to_string(version) +
                         " cannot be LZMA-compressed: only Flash Player 11 and newer read LZMA "
                         "movies, and they need version 13 or newer; use --movie compress for "
                         "zlib");
        return false;
    }
    return true;
}

// The dialog's Save check: the player the output will hold must be at
// least as new as the movie needs. No player is checked with Remove, nor
// with Keep when the source has none.
Outcome CheckPlayerVersion(const WriteRequest& request, const std::string& input,
                           const MovieInfo& source, std::string* log, const ByteSource* inputBytes)
{
    const char* playerSource = SavedPlayerSource(request.mode, input.c_str(),
                                                 request.playerPath.c_str(), source);
    if (request.command != WriteCommand::Save || !playerSource)
        return Outcome::Done;
    std::string whichPlayer = playerSource == input.c_str()
                                  ? "the projector's own player"
                                  : "the player of " + request.playerPath;
    PlayerLayout layout = SavedLayout(request, input, source);
    if (layout == PlayerLayout::LinuxI386 || layout == PlayerLayout::LinuxX86_64) {
        // Linux players carry no version to check against.
        if (!request.quiet)
            AppendFileError(log, input,
                         "note: the version of " + whichPlayer +
                             " (a Linux program) is unknown and was not checked");
        return Outcome::Done;
    }
    PackedVersion required = RequiredPlayerVersion(source.header);
    PackedVersion player = inputBytes && playerSource == input.c_str()
                               ? PlayerVersionOfSource(inputBytes, layout)
                               : PlayerVersionOf(playerSource, layout);
    if (PlayerIsNewEnough(player, required))
        return Outcome::Done;
    std::string facts = "movie version " + std::to_string(MovieVersion(source.header)) +
                        " needs Flash Player " + FormatVersion(required) + " or newer, but " +
                        whichPlayer + " is " +
                        (player ? "version " + FormatVersion(player)
                                : "of unknown version (counted as 0.0)");
    if (!request.force) {
        AppendFileError(log, input, "refused: " + facts + "; use --force to save anyway");
        return Outcome::Refused;
    }
    if (!request.quiet)
        AppendFileError(log, input, "warning: " + facts + "; saving anyway (--force)");
    return Outcome::Done;
}

OutputFacts ExamineOutput(const WriteRequest& request, const std::string& input,
                          const std::string& output)
{
    const char* path = output.c_str();
    PathKind kind = PathKindOf(path);
    OutputFacts facts = {kind == PathKind::Folder, false, false, false};
    if (facts.isFolder || request.force || kind == PathKind::Missing)
        return facts;
    facts.isPlayer = !request.playerPath.empty() && IsSameFile(path, request.playerPath.c_str());
    facts.isInput = IsSameFile(path, input.c_str());
    facts.exists = PathExists(path);
    return facts;
}

// The rules that keep files safe: never replace an existing file or an
// input without --force, never a folder, and never an output that an
// earlier input of this run wrote.
bool CheckOutput(const WriteRequest& request, const std::string& input, const std::string& output,
                 const OutputFacts& facts, std::set<std::string>* outputs, std::string* log)
{
    if (facts.isFolder) {
        AppendFileError(log, output,
                        request.outDir.empty()
                            ? "is a folder; name the output file, or use --out-dir for a folder"
                            : "is a folder, where the output of " + input + " should go");
        return false;
    }
    if (!outputs->insert(OutputNameKey(output)).second) {
        AppendFileError(log, output,
                     "was already written by another input of this run; not replaced (" + input +
                         " not saved)");
        return false;
    }
    if (request.force)
        return true;
    if (facts.isInput || facts.isPlayer) {
        AppendFileError(log, output,
                        std::string("is the ") + (facts.isPlayer ? "player" : "input") +
                            " file itself; use --force to replace it (it is replaced only once "
                            "the new file is complete)");
        return false;
    }
    if (facts.exists) {
        AppendFileError(log, output, "already exists; use --force to replace it");
        return false;
    }
    return true;
}

CommitMode CommitModeOf(const WriteRequest& request)
{
    return request.force ? CommitMode::Replace : CommitMode::NoReplace;
}

void AppendWriteFailure(const std::string& input, const std::string& output,
                        const Failure& failure, std::string* log)
{
    bool aboutOutput = false;
    MovieInfo none = {};
    std::string text = FailureText(failure, FailureContext::Writing, none, &aboutOutput);
    if (aboutOutput)
        AppendFileError(log, output, text + " (writing it from " + input + ")");
    else
        AppendFileError(log, input, text);
}

void AppendSalvage(const std::string& input, const std::string& output, const MovieInfo& source,
                   const RebuildDetails& details, std::string* log)
{
    AppendFileError(log, input,
                    "damaged (" +
                        DamageText(details.damage, source.header, source.fileLength,
                                   details.damageOffset, details.salvagedLength) +
                        "); salvaged " + std::to_string(details.salvagedLength) + " of its " +
                        std::to_string(source.fileLength) + " declared bytes into " + output);
}

void AppendNoMovieAt(const WriteRequest& request, const std::string& input, std::string* log)
{
    AppendFileError(log, input,
                    "no confirmed movie starts at offset " + std::to_string(request.offset) +
                        " (\"quillaro-cli scan\" lists the movies found)");
}

Outcome WorseOutcome(Outcome a, Outcome b)
{
    const Outcome order[] = {Outcome::Failed, Outcome::Refused, Outcome::Salvaged};
    for (Outcome outcome : order) {
        if (a == outcome || b == outcome)
            return outcome;
    }
    return Outcome::Done;
}
