// write_steps.cpp - the run of save, extract-player and extract-movie:
// every input inspected and checked on the job threads, the outputs
// claimed in input order, then written and put in place, each input's
// messages printed in input order as soon as those before it are done.
#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "cli/entry_writes.h"
#include "cli/batch_bar.h"
#include "cli/output_names.h"
#include "cli/write_jobs.h"
#include "cli/write_request.h"

#include <chrono>

#include "rebuild/movie_scan.h"
#include "rebuild/parallel_deflate.h"

namespace {
// The checks of one input that read files, run on the job threads: each
// input's own, and what its output's name is in the file system now.
// `task->output`, when set, is the output named on the command line.
void InspectTask(const WriteRequest& request, Task* task)
{
    const std::string& input = task->input;
    task->outcome = Outcome::Failed;
    if (!CheckInputFile(&task->log, input, InputRule::Inspected, &task->source))
        return;
    if (!CheckSource(request, input, task->source, &task->log))
        return;
    task->outcome = CheckPlayerVersion(request, input, task->source, &task->log);
    if (task->outcome != Outcome::Done)
        return;
    if (task->output.empty())
        task->output = DerivedOutputName(request.command, input, request.outDir,
                                         SavedLayout(request, input, task->source),
                                         task->source.layout);
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

}  // namespace

void EndTask(const WriteRequest& request, Task* task, const Failure& result)
{
    const std::string& input = task->input;
    const RebuildDetails& details = task->details;
    bool written = !Failed(result);
    bool salvaged = written && details.damage != Damage::None;
    if (salvaged)
        AppendSalvage(input, task->output, task->source, details, &task->log);
    if (written && details.paddedBytes != 0 && !request.quiet)
        AppendFileError(&task->log, input,
                     "warning: the movie's compressed stream ended " +
                         std::to_string(details.paddedBytes) +
                         " bytes short of its declared length; they were written as zeros");
    if (!written)
        AppendWriteFailure(input, task->output, result, &task->log);
    task->outcome = !written ? Outcome::Failed : salvaged ? Outcome::Salvaged : Outcome::Done;
    task->progressed.store(task->weight);
}

namespace {

// Writes the task's output. A Save is left written beside its destination
// (`toPlace`), for the placing threads.
void WriteTask(const WriteRequest& request, Task* task)
{
    const std::string& input = task->input;
    if (request.command == WriteCommand::ExtractPlayer) {
        EndTask(request, task,
                ExtractPlayer(input.c_str(), task->output.c_str(), CommitModeOf(request)));
        return;
    }
    Progress progress = {ReportTaskProgress, task};
    const char* playerPath = request.playerPath.empty() ? nullptr : request.playerPath.c_str();
    task->details = {request.threads, 0, request.salvage, Damage::None, 0, 0, request.level};
    Failure written = WriteMovieOutput(&progress, input.c_str(), task->output.c_str(), playerPath,
                                       request.mode, &task->written, &task->details);
    task->toPlace = !Failed(written);
    if (!task->toPlace)
        EndTask(request, task, written);
}

void StartFlushTask(const WriteRequest&, Task* task)
{
    StartFlushOutputFile(&task->written);
}

bool FlushTask(const WriteRequest& request, Task* task)
{
    task->toPlace = false;
    Failure flushed = FlushOutputFile(&task->written);
    if (Failed(flushed))
        EndTask(request, task, flushed);
    return !Failed(flushed);
}

bool NameTask(const WriteRequest& request, Task* task)
{
    Failure named =
        NameOutputFile(&task->written, task->output.c_str(), CommitModeOf(request));
    if (Failed(named))
        EndTask(request, task, named);
    return !Failed(named);
}

// The folder part of an output's name.
std::string FolderOf(const std::string& output)
{
    return output.substr(0, output.size() - BaseName(output).size());
}

// Flushes the folder of each run of named tasks in one folder, then ends
// each task with what that flush returned.
void FinishNamedTasks(const WriteRequest& request, Task* const* named, size_t count)
{
    bool flushed = false;
    for (size_t i = 0; i < count; i++) {
        Task* task = named[i];
        if (i == 0 || FolderOf(task->output) != FolderOf(named[i - 1]->output))
            flushed = FlushFolderOf(&task->written);
        EndTask(request, task, FinishOutputFile(&task->written, flushed));
    }
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
    if (anyText)
        EraseBatchBar(bar);
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

// Starts as many job threads as the request has jobs and the queue has
// tasks; when the system starts none, does the queue here.
void StartOrRunJobs(const WriteRequest& request, Jobs* jobs, std::vector<std::thread>* threads)
{
    size_t count = jobs->queue.size() < request.jobs ? jobs->queue.size() : request.jobs;
    StartJobs(jobs, count, threads);
    if (jobs->jobCount == 0 && !jobs->queue.empty())
        RunJobsHere(jobs);
}

// Inspects every input with the request's jobs, and waits for them all.
void InspectTasks(const WriteRequest& request, std::vector<Task>& tasks)
{
    Jobs jobs;
    jobs.request = &request;
    jobs.work = InspectTask;
    for (Task& task : tasks)
        jobs.queue.push_back(&task);
    std::vector<std::thread> threads;
    StartOrRunJobs(request, &jobs, &threads);
    for (std::thread& thread : threads)
        thread.join();
    for (Task& task : tasks)
        task.finished = false;
}

// Prints the tasks' messages in input order while the jobs run, until the
// last one is printed.
void PrintWhileRunning(const WriteRequest& request, std::vector<Task>& tasks, Jobs* jobs,
                       BatchBar* bar)
{
    size_t printed = 0;
    for (;;) {
        printed = PrintFinished(request, tasks, printed, bar);
        DrawBatchBar(bar, tasks);
        if (printed == tasks.size())
            return;
        std::unique_lock<std::mutex> lock(jobs->mutex);
        jobs->finished.wait_for(lock, std::chrono::milliseconds(100),
                                [&] { return tasks[printed].finished.load(); });
    }
}

// Writes the planned tasks with the request's jobs, printing each task's
// messages in input order as soon as those before it are done.
void WriteTasks(WriteRequest request, std::vector<Task>& tasks)
{
    Jobs jobs;
    jobs.request = &request;
    jobs.work = WriteTask;
    jobs.startFlush = StartFlushTask;
    jobs.flush = FlushTask;
    jobs.name = NameTask;
    jobs.finish = FinishNamedTasks;
    for (Task& task : tasks) {
        if (task.toWrite)
            jobs.queue.push_back(&task);
        else
            task.finished = true;
    }
    request.threads = ThreadsPerConversion(request.threads, request.jobs, jobs.queue.size());
    BatchBar bar;
    StartBatchBar(request, tasks, &bar);
    std::vector<std::thread> threads;
    StartOrRunJobs(request, &jobs, &threads);
    PrintWhileRunning(request, tasks, &jobs, &bar);
    for (std::thread& thread : threads)
        thread.join();
    EraseBatchBar(&bar);
}

// extract-movie --at: the movie found at an offset, as scan lists it.
Outcome ExtractAtOffset(const WriteRequest& request, const std::string& input,
                        const std::string& output)
{
    std::string log;
    Outcome outcome = Outcome::Failed;
    std::set<std::string> none;
    if (CheckInputFile(request.err, input, InputRule::AnySize) &&
        CheckOutput(request, input, output, ExamineOutput(request, input, output), &none, &log)) {
        Failure result =
            ExtractMovieAt(input.c_str(), request.offset, output.c_str(), CommitModeOf(request));
        if (!Failed(result))
            outcome = Outcome::Done;
        else if (result.kind == FailureKind::NoMovie)
            AppendNoMovieAt(request, input, &log);
        else
            AppendWriteFailure(input, output, result, &log);
    }
    fputs(log.c_str(), request.err);
    return outcome;
}

// Reads the options into `request`. Returns exitDone, or exitUsage after
// reporting the fault.
int ReadRequest(const Arguments& arguments, WriteRequest* request)
{
    if (request->command == WriteCommand::Save &&
        ParseSaveOptions(arguments, request) != exitDone)
        return exitUsage;
    FILE* err = request->err;
    if (!ParseCount(arguments, "--threads", arguments.threadsOption, err, &request->threads) ||
        !ParseCount(arguments, "--jobs", arguments.jobsOption, err, &request->jobs))
        return exitUsage;
    if (request->jobs == 0)
        request->jobs = WorkerCount(0);
    if (!arguments.atOption.empty())
        return ParseOffset(arguments, request);
    return exitDone;
}

// The exit code of a run whose worst outcome is `worst`.
int ExitCodeOf(Outcome worst)
{
    switch (worst) {
    case Outcome::Failed: return exitFailed;
    case Outcome::Refused: return exitRefused;
    case Outcome::Salvaged: return exitSalvaged;
    case Outcome::Done: break;
    }
    return exitDone;
}

// A run holds the records of this many inputs at a time: a batch of any
// size needs the memory of one window, and the jobs wait for each other
// only once per window.
const size_t taskWindow = 1024;

// The `count` inputs of a run at `inputs`, each with the output named on
// the command line (empty with --out-dir); `outputs` are those claimed by
// the run's earlier inputs. Returns the worst outcome.
Outcome RunTasks(const WriteRequest& request, const std::string* inputs, size_t count,
                 const std::string& namedOutput, std::set<std::string>* outputs)
{
    Outcome worst = Outcome::Done;
    for (size_t start = 0; start < count; start += taskWindow) {
        size_t size = count - start < taskWindow ? count - start : taskWindow;
        std::vector<Task> tasks(size);
        for (size_t i = 0; i < size; i++) {
            tasks[i].input = inputs[start + i];
            tasks[i].output = namedOutput;
        }
        InspectTasks(request, tasks);
        for (Task& task : tasks)
            PlanTask(request, outputs, &task);
        WriteTasks(request, tasks);
        for (const Task& task : tasks)
            worst = WorseOutcome(worst, task.outcome);
    }
    return worst;
}

// The inputs in their order: files as batches on the job threads, and
// inputs read through an archive one entry after another between them.
Outcome RunInputs(const WriteRequest& request, const std::string* inputs, size_t count,
                  const std::string& namedOutput)
{
    std::set<std::string> outputs;
    size_t batchStart = 0;
    Outcome worst = Outcome::Done;
    for (size_t i = 0; i <= count; i++) {
        bool archive = i < count && IsArchiveInput(request, inputs[i]);
        if ((archive || i == count) && i > batchStart)
            worst = WorseOutcome(
                worst, RunTasks(request, inputs + batchStart, i - batchStart, namedOutput, &outputs));
        if (archive) {
            worst =
                WorseOutcome(worst, WriteArchiveInput(request, inputs[i], namedOutput, &outputs));
            batchStart = i + 1;
        }
    }
    return worst;
}

int RunWrite(WriteCommand command, const Arguments& arguments, FILE* err)
{
    WriteRequest request = RequestFor(command, arguments, err);
    size_t inputCount = 0;
    std::string namedOutput;
    if (SplitOperands(arguments, err, &inputCount, &namedOutput) != exitDone ||
        ReadRequest(arguments, &request) != exitDone)
        return exitUsage;
    if (request.atOffset) {
        // An offset counts in the file named, or in the entry named.
        std::set<std::string> outputs;
        const std::string& input = arguments.files[0];
        Outcome outcome = !PathExists(input.c_str()) && IsArchiveInput(request, input)
                              ? WriteArchiveInput(request, input, namedOutput, &outputs)
                              : ExtractAtOffset(request, input, namedOutput);
        return ExitCodeOf(outcome);
    }
    if (!request.playerPath.empty() && !CheckReplacementPlayer(request))
        return exitFailed;
    if (!request.outDir.empty() && !PrepareOutDir(request))
        return exitFailed;
    return ExitCodeOf(RunInputs(request, arguments.files.data(), inputCount, namedOutput));
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
