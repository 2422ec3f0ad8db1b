// cli_write.cpp - the commands that write files: save, extract-player and
// extract-movie, for one input or a batch, with the version check and the
// rules that keep existing files safe.
#include "cli.h"
#include "cli_internal.h"
#include "cli_platform.h"
#include "progress.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "rebuild/lzma_body.h"
#include "rebuild/movie_scan.h"
#include "rebuild/parallel_deflate.h"
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
    unsigned threads;  // deflate workers per conversion; 0: decided by the jobs
    unsigned jobs;     // inputs converted at once
    bool salvage;      // save the decodable part of a damaged movie
    FILE* err;
    bool atOffset;  // extract-movie --at: the movie at `offset`
    uint64_t offset;
};

// How one input ended. A run whose inputs were all done or refused ends
// with exitRefused, so that --force would finish it; any failure wins.
// Salvaged: written, but only the part of a damaged movie that decoded.
enum class Outcome { Done, Failed, Refused, Salvaged };

// Runs that convert this much movie or more show a bar on a terminal;
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
    {"lzma", (uint16_t)MovieAction::CompressLzma},
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
                                "--movie takes keep, decompress, compress or lzma, not \"" +
                                    movieText + "\"");
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
                                "nothing to do: choose --movie decompress, compress or lzma, or "
                                "--player remove or replace=FILE");
    if (request->salvage && (MovieAction)movie != MovieAction::Decompress)
        return ReportUsageError(request->err, arguments.command,
                                "--salvage works with --movie decompress only");
    return exitDone;
}

// --at OFFSET, decimal or hexadecimal after 0x. Returns exitDone, or
// exitUsage after reporting the fault.
int ParseOffset(const Arguments& arguments, WriteRequest* request)
{
    const std::string& text = arguments.atOption;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t offset = 0;
    bool valid = !digits.empty();
    for (char c : digits) {
        int value = c >= '0' && c <= '9' ? c - '0'
                    : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                                     : -1;
        uint64_t base = hex ? 16 : 10;
        if (value < 0 || offset > (UINT64_MAX - (uint64_t)value) / base) {
            valid = false;
            break;
        }
        offset = offset * base + (uint64_t)value;
    }
    if (!arguments.outDir.empty())
        return ReportUsageError(request->err, arguments.command,
                                "--at takes one input file and one output file, not --out-dir");
    if (!valid)
        return ReportUsageError(request->err, arguments.command,
                                "--at takes a byte offset (decimal, or hexadecimal after 0x), not "
                                "\"" + text + "\"");
    request->atOffset = true;
    request->offset = offset;
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
    MovieLocation player;
    LocateMovie(path.c_str(), &player);
    if (player.layout == PlayerLayout::MacApp) {
        ReportFileError(request.err, path,
                        "is a .app folder; a replacement player must be a Windows or Linux player "
                        "program or projector");
        return false;
    }
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

// The last name of the path; a folder's trailing separators ("Game.app/")
// are not part of it.
std::string BaseName(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && IsPathSeparator(path[end - 1]))
        end--;
    size_t start = end;
    while (start > 0 && !IsPathSeparator(path[start - 1]))
        start--;
    return path.substr(start, end - start);
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

// The name programs of a layout carry: Linux programs have no extension.
const char* ProgramExtension(PlayerLayout layout)
{
    return layout == PlayerLayout::LinuxI386 || layout == PlayerLayout::LinuxX86_64 ? "" : ".exe";
}

// The layout of the player a save writes: the source's with keep, the
// replacement's with replace.
PlayerLayout SavedLayout(const WriteRequest& request, const std::string& input,
                         const MovieLocation& source)
{
    const char* playerSource =
        SavedPlayerSource(request.mode, input.c_str(), request.playerPath.c_str(), source);
    if (!playerSource)
        return PlayerLayout::None;
    if (playerSource == input.c_str())
        return source.layout;
    MovieLocation player;
    LocateMovie(playerSource, &player);
    return player.layout;
}

std::string DerivedOutput(const WriteRequest& request, const std::string& input,
                          const MovieLocation& source)
{
    std::string stem = Stem(BaseName(input));
    std::string name;
    PlayerLayout saved = SavedLayout(request, input, source);
    switch (request.command) {
    case WriteCommand::Save:
        // An output with a player is a projector, named as its programs are.
        name = stem + (saved != PlayerLayout::None ? ProgramExtension(saved) : ".swf");
        break;
    case WriteCommand::ExtractPlayer:
        name = stem + "-player" + ProgramExtension(source.layout);
        break;
    case WriteCommand::ExtractMovie: name = stem + ".swf"; break;
    }
    return JoinPath(request.outDir, name);
}

// Whether the input holds what the command needs, and can be converted as
// asked.
bool CheckSource(const WriteRequest& request, const std::string& input,
                 const MovieLocation& source, std::string* log)
{
    FileKind kind = KindOf(source);
    bool keepsPlayer = request.command == WriteCommand::ExtractPlayer ||
                       (request.command == WriteCommand::Save &&
                        PlayerActionOf(request.mode) == PlayerAction::Keep);
    if (source.layout == PlayerLayout::MacApp && keepsPlayer) {
        LogFileError(log, input,
                     "is a .app folder, whose player cannot be written into a file; use "
                     "--player remove or replace=FILE, or extract-movie");
        return false;
    }
    if (request.command == WriteCommand::ExtractPlayer) {
        if (source.playerSize != 0)
            return true;
        LogFileError(log, input,
                        kind == FileKind::BareMovie
                            ? "is a bare movie; it holds no player program to extract"
                            : "is neither a projector nor a player program");
        return false;
    }
    if (kind == FileKind::Player) {
        LogFileError(log, input, "is a player program without a movie");
        return false;
    }
    if (kind == FileKind::None) {
        LogFileError(log, input, "is neither a Flash movie nor a projector");
        return false;
    }
    uint32_t version = MovieVersion(source.header);
    if (MovieActionOf(request.mode) == MovieAction::CompressLzma && !LzmaAllowsVersion(version)) {
        LogFileError(log, input,
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
                           const MovieLocation& source, std::string* log)
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
            LogFileError(log, input,
                         "note: the version of " + whichPlayer +
                             " (a Linux program) is unknown and was not checked");
        return Outcome::Done;
    }
    PackedVersion required = RequiredPlayerVersion(source.header);
    PackedVersion player = PlayerVersionOf(playerSource, layout);
    if (PlayerIsNewEnough(player, required))
        return Outcome::Done;
    std::string facts = "movie version " + std::to_string(MovieVersion(source.header)) +
                        " needs Flash Player " + FormatVersion(required) + " or newer, but " +
                        whichPlayer + " is " +
                        (player ? "version " + FormatVersion(player)
                                : "of unknown version (counted as 0.0)");
    if (!request.force) {
        LogFileError(log, input, "refused: " + facts + "; use --force to save anyway");
        return Outcome::Refused;
    }
    if (!request.quiet)
        LogFileError(log, input, "warning: " + facts + "; saving anyway (--force)");
    return Outcome::Done;
}

// What the file system says of an output name, looked up on the job
// threads; the rules below then apply in input order.
struct OutputFacts {
    bool isFolder;
    bool isInput;   // the input file itself (not looked up with --force)
    bool isPlayer;  // the replacement player (not looked up with --force)
    bool exists;    // (not looked up with --force)
};

OutputFacts ExamineOutput(const WriteRequest& request, const std::string& input,
                          const std::string& output)
{
    const char* path = output.c_str();
    OutputFacts facts = {IsFolder(path), false, false, false};
    if (facts.isFolder || request.force)
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
        LogFileError(log, output,
                        request.outDir.empty()
                            ? "is a folder; name the output file, or use --out-dir for a folder"
                            : "is a folder, where the output of " + input + " should go");
        return false;
    }
    if (!outputs->insert(OutputNameKey(output)).second) {
        LogFileError(log, output,
                     "was already written by another input of this run; not replaced (" + input +
                         " not saved)");
        return false;
    }
    if (request.force)
        return true;
    if (facts.isInput || facts.isPlayer) {
        LogFileError(log, output,
                        std::string("is the ") + (facts.isPlayer ? "player" : "input") +
                            " file itself; use --force to replace it (it is replaced only once "
                            "the new file is complete)");
        return false;
    }
    if (facts.exists) {
        LogFileError(log, output, "already exists; use --force to replace it");
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
    {RebuildError::FolderPlayer, false, "is a .app folder, whose player cannot be written"},
    {RebuildError::ReadFailed, false,
     "could not be read completely (did it change meanwhile, or is the disk failing?)"},
    {RebuildError::DamagedMovie, false,
     "the compressed movie is damaged: its zlib or LZMA stream is corrupt or cut short, or "
     "fails its checksum (\"quillaro-cli check\" tells more; --salvage saves what decodes)"},
    {RebuildError::OutOfMemory, false, "not enough memory to hold and convert the movie"},
    {RebuildError::ConversionFailed, false, "the movie could not be converted"},
    {RebuildError::CreateFailed, true,
     "cannot create a file in its folder (does the folder exist, and may you write there?)"},
    {RebuildError::WriteFailed, true,
     "writing it failed (is the disk full?); no existing file was replaced"},
    {RebuildError::OutputExists, true,
     "already exists (made by someone else while it was written); not replaced, use --force to "
     "replace it"},
    {RebuildError::NotFlushed, true,
     "was put in place, but its folder could not be flushed to the disk (is the disk failing?); "
     "after a power cut the file it replaced may come back"},
};

void ReportRebuildError(const std::string& input, const std::string& output, RebuildError error,
                        std::string* log)
{
    for (const ErrorText& entry : errorTexts) {
        if (entry.error != error)
            continue;
        if (entry.aboutOutput)
            LogFileError(log, output,
                            std::string(entry.text) + " (writing it from " + input + ")");
        else
            LogFileError(log, input, entry.text);
        return;
    }
    LogFileError(log, input, "failed for an unknown reason");
}

// Tells what a salvage kept of a damaged movie.
void LogSalvage(std::string* log, const std::string& input, const std::string& output,
                const MovieLocation& source, const RebuildDetails& details)
{
    LogFileError(log, input,
                 "damaged (" +
                     DamageText(details.damage, source.header, source.fileLength,
                                details.damageOffset, details.salvagedLength) +
                     "); salvaged " + std::to_string(details.salvagedLength) + " of its " +
                     std::to_string(source.fileLength) + " declared bytes into " + output);
}

// One input of a run: its checks, then its writing on a job thread. The
// messages of each input wait in its log and are printed in input order.
struct Task {
    std::string input;
    std::string output;
    MovieLocation source = {};
    Outcome outcome = Outcome::Failed;
    OutputFacts outputFacts = {};
    bool toWrite = false;  // the checks passed
    uint64_t weight = 0;   // its share of the progress bar: the movie it converts
    std::atomic<uint64_t> progressed{0};  // of `weight`, reported by its job
    std::atomic<bool> finished{false};
    std::string log;
    RebuildDetails details = {};
    WrittenOutput written = {};  // a Save written and waiting to be put in place
    bool toPlace = false;
};

// The checks of one input that read files, run on the job threads: each
// input's own, and what its output's name is in the file system now.
// `task->output`, when set, is the output named on the command line.
void InspectTask(const WriteRequest& request, Task* task)
{
    const std::string& input = task->input;
    task->outcome = Outcome::Failed;
    if (!CheckInputFile(&task->log, input))
        return;
    LocateMovie(input.c_str(), &task->source);
    if (!CheckSource(request, input, task->source, &task->log))
        return;
    task->outcome = CheckPlayerVersion(request, input, task->source, &task->log);
    if (task->outcome != Outcome::Done)
        return;
    if (task->output.empty())
        task->output = DerivedOutput(request, input, task->source);
    task->outputFacts = ExamineOutput(request, input, task->output);
}

// The rest of the checks, on the main thread and in input order, so that
// of two inputs with the same output the first one wins.
void PlanTask(const WriteRequest& request, std::set<std::string>* outputs, Task* task)
{
    if (task->outcome != Outcome::Done)
        return;
    if (!CheckOutput(request, task->input, task->output, task->outputFacts, outputs,
                     &task->log)) {
        task->outcome = Outcome::Failed;
        return;
    }
    task->toWrite = true;
    bool converts = request.command != WriteCommand::ExtractPlayer &&
                    MovieActionOf(request.mode) != MovieAction::Keep;
    if (converts)
        task->weight = task->source.movieSize > task->source.fileLength ? task->source.movieSize
                                                                         : task->source.fileLength;
}

void ReportTaskProgress(void* context, uint64_t done, uint64_t total)
{
    Task* task = (Task*)context;
    uint64_t share = total == 0 ? task->weight : (uint64_t)((double)task->weight * done / total);
    if (share > task->progressed.load())
        task->progressed.store(share);
}

// The messages and the outcome of a task whose writing ended with `error`.
void EndTask(const WriteRequest& request, Task* task, RebuildError error)
{
    const std::string& input = task->input;
    const RebuildDetails& details = task->details;
    bool written = error == RebuildError::None;
    bool salvaged = written && details.damage != Damage::None;
    if (salvaged)
        LogSalvage(&task->log, input, task->output, task->source, details);
    if (written && details.paddedBytes != 0 && !request.quiet)
        LogFileError(&task->log, input,
                     "warning: the movie's compressed stream ended " +
                         std::to_string(details.paddedBytes) +
                         " bytes short of its declared length; they were written as zeros");
    if (!written)
        ReportRebuildError(input, task->output, error, &task->log);
    task->outcome = !written ? Outcome::Failed : salvaged ? Outcome::Salvaged : Outcome::Done;
    task->progressed.store(task->weight);
}

// CheckOutput found the name free, but another program may take it
// meanwhile: without --force the commit itself refuses to replace.
CommitMode CommitModeOf(const WriteRequest& request)
{
    return request.force ? CommitMode::Replace : CommitMode::NoReplace;
}

// Writes the task's output. A Save is left written beside its destination
// (`toPlace`), for the placing threads.
void WriteTask(const WriteRequest& request, Task* task)
{
    const std::string& input = task->input;
    RebuildError error = RebuildError::None;
    if (request.command == WriteCommand::ExtractPlayer) {
        ExtractPlayer(input.c_str(), task->output.c_str(), &error, CommitModeOf(request));
        EndTask(request, task, error);
        return;
    }
    Progress progress = {ReportTaskProgress, task};
    const char* playerPath = request.playerPath.empty() ? nullptr : request.playerPath.c_str();
    task->details = {request.threads, 0, request.salvage, Damage::None, 0, 0};
    task->toPlace = WriteMovieOutput(&progress, input.c_str(), task->output.c_str(), playerPath,
                                     request.mode, &task->written, &error, &task->details);
    if (!task->toPlace)
        EndTask(request, task, error);
}

// Puts the task's written output under its name. Unless that failed it
// waits, open, for its folder to be flushed (FinishNamed).
bool NameTask(const WriteRequest& request, Task* task)
{
    task->toPlace = false;
    RebuildError error =
        NameWrittenOutput(&task->written, task->output.c_str(), CommitModeOf(request));
    if (error != RebuildError::None)
        EndTask(request, task, error);
    return error == RebuildError::None;
}

// The tasks of a phase, shared by the job threads: each takes the next
// one and does `work` on it. A task its work leaves `toPlace` goes to the
// placing threads, one per job: putting a file in place waits for the
// disk to flush it, and meanwhile its job writes the next file.
struct Jobs {
    const WriteRequest* request;
    void (*work)(const WriteRequest&, Task*);
    std::vector<Task*> queue;
    std::atomic<size_t> next;
    std::mutex mutex;
    std::condition_variable finished;  // the main thread waits on it
    size_t done;                       // tasks finished
    std::condition_variable placing;   // a task to place, or room for one
    std::deque<Task*> toPlace;         // at most one per job waits
    size_t jobCount;
    size_t jobsRunning;
};

// The main thread is woken for a task with messages to print and when the
// last task is done; it looks at the others, and redraws the bar, every
// 100 ms by itself, rather than being woken for each of thousands of
// small files.
void FinishTask(Jobs* jobs, Task* task)
{
    std::lock_guard<std::mutex> lock(jobs->mutex);
    task->finished.store(true);
    jobs->done++;
    if (!task->log.empty() || jobs->done == jobs->queue.size())
        jobs->finished.notify_all();
}

void RunJobs(Jobs* jobs)
{
    for (;;) {
        size_t index = jobs->next.fetch_add(1);
        if (index >= jobs->queue.size())
            break;
        Task* task = jobs->queue[index];
        jobs->work(*jobs->request, task);
        if (!task->toPlace) {
            FinishTask(jobs, task);
            continue;
        }
        std::unique_lock<std::mutex> lock(jobs->mutex);
        jobs->placing.wait(lock, [&] { return jobs->toPlace.size() < jobs->jobCount; });
        jobs->toPlace.push_back(task);
        jobs->placing.notify_all();
    }
    std::lock_guard<std::mutex> lock(jobs->mutex);
    jobs->jobsRunning--;
    jobs->placing.notify_all();
}

// The outputs a placing thread named are done once their folder is
// flushed, so that none is reported before it would survive a power cut.
// They came one after the other into the same folder (the run's output
// folder), which is then flushed once for them all.
void FinishNamed(Jobs* jobs, std::vector<Task*>* named)
{
    std::string flushedFolder;
    bool flushed = false;
    for (Task* task : *named) {
        const std::string& output = task->output;
        std::string folder = output.substr(0, output.size() - BaseName(output).size());
        if (task == named->front() || folder != flushedFolder)
            flushed = FlushOutputFolder(task->written.file);
        flushedFolder = folder;
        EndTask(*jobs->request, task, FinishWrittenOutput(&task->written, flushed));
        FinishTask(jobs, task);
    }
    named->clear();
}

// Names the outputs as they come, and flushes their folder whenever none
// is waiting to be placed (or namedLimit are named): a batch of many small
// files flushes its folder far less often than once a file.
void PlaceJobs(Jobs* jobs)
{
    const size_t namedLimit = 8;  // each holds its file open meanwhile
    std::vector<Task*> named;
    for (;;) {
        Task* task = nullptr;
        {
            std::unique_lock<std::mutex> lock(jobs->mutex);
            if (named.empty())
                jobs->placing.wait(
                    lock, [&] { return !jobs->toPlace.empty() || jobs->jobsRunning == 0; });
            if (!jobs->toPlace.empty() && named.size() < namedLimit) {
                task = jobs->toPlace.front();
                jobs->toPlace.pop_front();
                jobs->placing.notify_all();
            }
        }
        if (task && NameTask(*jobs->request, task))
            named.push_back(task);
        else if (task)
            FinishTask(jobs, task);
        else if (!named.empty())
            FinishNamed(jobs, &named);
        else
            return;
    }
}

// Runs the queued tasks on `count` job threads, and as many placing
// threads when their work leaves tasks to place; returns the threads, for
// the caller to join.
std::vector<std::thread> StartJobs(Jobs* jobs, size_t count, bool placing)
{
    jobs->next = 0;
    jobs->done = 0;
    jobs->jobCount = count;
    jobs->jobsRunning = count;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; i++)
        threads.emplace_back(RunJobs, jobs);
    for (size_t i = 0; placing && i < count; i++)
        threads.emplace_back(PlaceJobs, jobs);
    return threads;
}

// The one bar of a run: the total of the tasks' shares.
struct BatchBar {
    bool shown;
    TerminalProgress terminal;
    uint64_t total;
};

void DrawBatchBar(BatchBar* bar, const std::vector<Task>& tasks)
{
    if (!bar->shown)
        return;
    uint64_t done = 0;
    for (const Task& task : tasks)
        done += task.progressed.load();
    DrawProgress(&bar->terminal, ProgressPercent(done, bar->total));
}

// Prints the logs of the finished tasks that follow those printed, in
// input order; returns how many are printed now.
size_t PrintFinished(const WriteRequest& request, std::vector<Task>& tasks, size_t printed,
                     BatchBar* bar)
{
    size_t start = printed;
    while (printed < tasks.size() && tasks[printed].finished.load())
        printed++;
    bool anyText = false;
    for (size_t i = start; i < printed; i++)
        anyText = anyText || !tasks[i].log.empty();
    if (anyText && bar->shown)
        EraseProgress(&bar->terminal);
    for (size_t i = start; i < printed; i++)
        fputs(tasks[i].log.c_str(), request.err);
    return printed;
}

// How many deflate workers each conversion gets: what was asked, or the
// cores shared among the jobs that run at once.
unsigned ThreadsPerConversion(unsigned asked, unsigned jobs, size_t toWrite)
{
    if (asked != 0)
        return asked;
    size_t running = toWrite < jobs ? toWrite : jobs;
    unsigned cores = WorkerCount(0);
    return running <= 1 ? 0 : (cores / running > 1 ? cores / (unsigned)running : 1);
}

void StartBar(const WriteRequest& request, const std::vector<Task>& tasks, BatchBar* bar)
{
    bar->shown = false;
    bar->total = 0;
    size_t converting = 0;
    const Task* only = nullptr;
    for (const Task& task : tasks) {
        bar->total += task.weight;
        if (task.weight != 0) {
            converting++;
            only = &task;
        }
    }
    if (request.quiet || bar->total < progressThreshold || !IsTerminal(request.err))
        return;
    std::string label = converting == 1 ? BaseName(only->input)
                                        : std::to_string(converting) + " files";
    StartProgress(&bar->terminal, request.err, label.c_str());
    bar->shown = true;
    DrawBatchBar(bar, tasks);
}

// Inspects every input with the request's jobs, and waits for them all.
void InspectTasks(const WriteRequest& request, std::vector<Task>& tasks)
{
    Jobs jobs;
    jobs.request = &request;
    jobs.work = InspectTask;
    for (Task& task : tasks)
        jobs.queue.push_back(&task);
    size_t count = tasks.size() < request.jobs ? tasks.size() : request.jobs;
    for (std::thread& thread : StartJobs(&jobs, count, false))
        thread.join();
    for (Task& task : tasks)
        task.finished = false;
}

// Writes the planned tasks with the request's jobs, printing each task's
// messages in input order as soon as those before it are done.
void WriteTasks(WriteRequest request, std::vector<Task>& tasks)
{
    Jobs jobs;
    jobs.request = &request;
    jobs.work = WriteTask;
    for (Task& task : tasks) {
        if (task.toWrite)
            jobs.queue.push_back(&task);
        else
            task.finished = true;
    }
    request.threads = ThreadsPerConversion(request.threads, request.jobs, jobs.queue.size());
    BatchBar bar;
    StartBar(request, tasks, &bar);
    size_t count = jobs.queue.size() < request.jobs ? jobs.queue.size() : request.jobs;
    std::vector<std::thread> threads = StartJobs(&jobs, count, true);
    size_t printed = 0;
    for (;;) {
        printed = PrintFinished(request, tasks, printed, &bar);
        DrawBatchBar(&bar, tasks);
        if (printed == tasks.size())
            break;
        std::unique_lock<std::mutex> lock(jobs.mutex);
        jobs.finished.wait_for(lock, std::chrono::milliseconds(100),
                               [&] { return tasks[printed].finished.load(); });
    }
    for (std::thread& thread : threads)
        thread.join();
    if (bar.shown)
        EraseProgress(&bar.terminal);
}

// A count option: digits only, from 1 to 1024; an absent one is 0.
bool ParseCount(const Arguments& arguments, const char* name, const std::string& text,
                FILE* err, unsigned* count)
{
    *count = 0;
    if (text.empty())
        return true;
    bool digits = text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos;
    unsigned value = digits ? (unsigned)std::stoul(text) : 0;
    if (value < 1 || value > 1024) {
        ReportUsageError(err, arguments.command,
                         std::string(name) + " takes a number from 1 to 1024, not \"" + text +
                             "\"");
        return false;
    }
    *count = value;
    return true;
}

// extract-movie --at: the movie found at an offset, as scan lists it.
Outcome ExtractAtOffset(const WriteRequest& request, const std::string& input,
                        const std::string& output)
{
    std::string log;
    Outcome outcome = Outcome::Failed;
    std::set<std::string> none;
    if (CheckScannedFile(request.err, input) &&
        CheckOutput(request, input, output, ExamineOutput(request, input, output), &none, &log)) {
        CommitMode commit = request.force ? CommitMode::Replace : CommitMode::NoReplace;
        RebuildError error = RebuildError::None;
        if (ExtractMovieAt(input.c_str(), request.offset, output.c_str(), &error, commit))
            outcome = Outcome::Done;
        else if (error == RebuildError::NoMovie)
            LogFileError(&log, input,
                         "no confirmed movie starts at offset " + std::to_string(request.offset) +
                             " (\"quillaro-cli scan\" lists the movies found)");
        else
            ReportRebuildError(input, output, error, &log);
    }
    fputs(log.c_str(), request.err);
    return outcome;
}

int RunWrite(WriteCommand command, const Arguments& arguments, FILE* err)
{
    WriteRequest request = {command, MakeRebuildMode(PlayerAction::Remove, MovieAction::Keep),
                            "", arguments.outDir, arguments.force, arguments.quiet, 0, 0,
                            arguments.salvage, err, false, 0};
    std::vector<std::string> inputs;
    std::string namedOutput;
    if (SplitOperands(arguments, err, &inputs, &namedOutput) != exitDone)
        return exitUsage;
    if (command == WriteCommand::Save && ParseSaveOptions(arguments, &request) != exitDone)
        return exitUsage;
    if (!ParseCount(arguments, "--threads", arguments.threadsOption, err, &request.threads) ||
        !ParseCount(arguments, "--jobs", arguments.jobsOption, err, &request.jobs))
        return exitUsage;
    if (request.jobs == 0)
        request.jobs = WorkerCount(0);
    if (!arguments.atOption.empty()) {
        if (ParseOffset(arguments, &request) != exitDone)
            return exitUsage;
        return ExtractAtOffset(request, inputs[0], namedOutput) == Outcome::Done ? exitDone
                                                                                  : exitFailed;
    }
    if (!request.playerPath.empty() && !CheckReplacementPlayer(request))
        return exitFailed;
    if (!request.outDir.empty() && !PrepareOutDir(request))
        return exitFailed;

    std::vector<Task> tasks(inputs.size());
    for (size_t i = 0; i < inputs.size(); i++) {
        tasks[i].input = inputs[i];
        tasks[i].output = namedOutput;
    }
    InspectTasks(request, tasks);
    std::set<std::string> outputs;
    for (Task& task : tasks)
        PlanTask(request, &outputs, &task);
    WriteTasks(request, tasks);
    bool failed = false;
    bool refused = false;
    bool salvaged = false;
    for (const Task& task : tasks) {
        failed = failed || task.outcome == Outcome::Failed;
        refused = refused || task.outcome == Outcome::Refused;
        salvaged = salvaged || task.outcome == Outcome::Salvaged;
    }
    if (failed)
        return exitFailed;
    if (refused)
        return exitRefused;
    return salvaged ? exitSalvaged : exitDone;
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
