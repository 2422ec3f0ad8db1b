// entry_writes.cpp - the write commands over archives' entries: the same
// checks and the same writing as for a file, over the entry's bytes, into
// a file named after the entry's last path component; a path inside an
// archive never chooses a folder.
#include "cli/entry_writes.h"

#include "cli/cli_platform.h"
#include "cli/input_walk.h"
#include "cli/output_names.h"
#include "rebuild/movie_scan.h"

namespace {

struct EntryRun {
    const WriteRequest* request;
    std::string archive;      // the archive file
    std::string namedOutput;  // the output named on the command line, or empty
    std::set<std::string>* outputs;
    bool wholeArchive;  // every entry, not one named
    unsigned written;
    Outcome worst;  // of the entries done: Refused and Salvaged count
};

// The output of an entry: the named one, or one in --out-dir after the
// entry's own name. False (after saying why) for a name that cannot be
// made safely.
bool EntryOutput(EntryRun* run, const CollectionEntry& entry, std::string* output,
                 std::string* log)
{
    if (!run->namedOutput.empty()) {
        if (run->written != 0) {
            AppendFileError(log, entry.name,
                            "is one more movie of the archive; several need --out-dir DIR");
            return false;
        }
        *output = run->namedOutput;
        return true;
    }
    std::string name;
    if (!SafeEntryFileName(entry.path, &name)) {
        AppendFileError(log, entry.name,
                        "its name cannot name a file in the output folder (an absolute path, "
                        "a \"..\" or a reserved name); not extracted");
        return false;
    }
    const WriteRequest& request = *run->request;
    *output = DerivedOutputName(request.command, name, request.outDir,
                                SavedLayout(request, entry.name, entry.location),
                                entry.location.layout);
    return true;
}

// Writes the output of one entry, as the job threads write a file's.
void WriteEntry(const WriteRequest& request, const CollectionEntry& entry, Task* task)
{
    const char* output = task->output.c_str();
    if (request.atOffset) {
        Failure result =
            ExtractMovieAtSource(entry.source, request.offset, output, CommitModeOf(request));
        if (result.kind == FailureKind::NoMovie)
            AppendNoMovieAt(request, entry.name, &task->log);
        else
            EndTask(request, task, result);
        return;
    }
    if (request.command == WriteCommand::ExtractPlayer) {
        EndTask(request, task,
                ExtractPlayerOf(entry.source, entry.location, output, CommitModeOf(request)));
        return;
    }
    const char* playerPath = request.playerPath.empty() ? nullptr : request.playerPath.c_str();
    task->details = {request.threads, 0, request.salvage, Damage::None, 0, 0, request.level};
    OutputFile written;
    Failure result = WriteMovieOutputOf(nullptr, entry.source, entry.location, output, playerPath,
                                        request.mode, &written, &task->details);
    if (!Failed(result))
        result = PlaceOutput(&written, output, CommitModeOf(request));
    EndTask(request, task, result);
}

// The checks of a file, then its writing, for one entry.
void DoEntry(EntryRun* run, const CollectionEntry& entry, Task* task)
{
    const WriteRequest& request = *run->request;
    task->input = entry.name;
    task->source = entry.location;
    // --at takes a movie anywhere in any entry.
    if (!request.atOffset && !CheckSource(request, entry.name, entry.location, &task->log))
        return;
    task->outcome = request.atOffset ? Outcome::Done
                                     : CheckPlayerVersion(request, entry.name, entry.location,
                                                          &task->log, entry.source);
    if (task->outcome != Outcome::Done)
        return;
    task->outcome = Outcome::Failed;
    if (!EntryOutput(run, entry, &task->output, &task->log) ||
        !CheckOutput(request, entry.name, task->output,
                     ExamineOutput(request, run->archive, task->output), run->outputs,
                     &task->log))
        return;
    WriteEntry(request, entry, task);
    if (task->outcome != Outcome::Failed)
        run->written++;
}

bool ExtractEntry(const CollectionEntry& entry, void* context)
{
    EntryRun* run = (EntryRun*)context;
    Task task;
    if (entry.failed)
        AppendFileError(&task.log, entry.name, entry.error);
    else if (!run->wholeArchive || entry.location.movieSize != 0)
        DoEntry(run, entry, &task);
    else
        task.outcome = Outcome::Done;  // no movie to extract: passed over
    run->worst = WorseOutcome(run->worst, task.outcome);
    fputs(task.log.c_str(), run->request->err);
    return true;
}

}  // namespace

bool IsArchiveInput(const WriteRequest& request, const std::string& input)
{
    std::string archive;
    if (!PathExists(input.c_str()))
        return SplitEntryName(input, &archive);
    if (request.command != WriteCommand::ExtractMovie || IsFolder(input.c_str()))
        return false;
    MovieInfo info;
    InspectMovie(input.c_str(), &info);
    return info.movieSize == 0 && info.layout == PlayerLayout::None &&
           IsCollectionFile(input.c_str());
}

Outcome WriteArchiveInput(const WriteRequest& request, const std::string& input,
                          const std::string& namedOutput, std::set<std::string>* outputs)
{
    EntryRun run = {&request, input, namedOutput, outputs, true, 0, Outcome::Done};
    std::string only;
    if (!PathExists(input.c_str()) && SplitEntryName(input, &run.archive))
        only = input;
    run.wholeArchive = only.empty();
    if (!CheckInputFile(request.err, run.archive, InputRule::AnySize))
        return Outcome::Failed;
    CollectionOptions options = {false, 0, only};
    std::string error;
    bool read = WalkCollection(run.archive.c_str(), run.archive, options, ExtractEntry, &run,
                               &error);
    if (!read)
        PrintFileError(request.err, run.archive, "the archive cannot be read: " + error);
    if (read && run.written == 0 && run.worst == Outcome::Done) {
        PrintFileError(request.err, input,
                       only.empty() ? "holds no movie or projector"
                                    : "no such entry in the archive");
        return Outcome::Failed;
    }
    return read ? run.worst : Outcome::Failed;
}
