// dialog_work_win.cpp - the worker threads of the main window and the
// record that keeps them, in the dialog's DWLP_USER slot.
#include "app/dialog_work.h"

#include <atomic>
#include <new>
#include <system_error>
#include <thread>

#include "movie/movie_facts.h"
#include "rebuild/movie_check.h"
#include "res/resource.h"

namespace {

// A Save or Extract on its worker. The worker writes `outcome`; the
// window reads it after joining the thread.
struct WorkJob {
    HWND window;
    WPARAM number;
    WorkOutcome outcome;
    std::atomic<bool> cancel{false};
    std::atomic<uint32_t> shownPercent{0};
    std::thread thread;
};

// The reading of one movie on its worker, which writes `check`, `reader`
// and `result`.
struct ReadingJob {
    HWND window;
    WPARAM number;
    std::string path;
    std::atomic<bool> cancel{false};
    MovieCheck check;
    FactsReader reader;
    Failure result;
    std::thread thread;
};

struct WindowWork {
    WPARAM lastNumber;  // the number of the job started last
    WorkJob* work;      // the Save or Extract running or ended, until taken; null for none
    ReadingJob* reading;
    bool hasFindings;
    MovieFindings findings;
    UINT lastLine;
    bool closeRequested;
};

WindowWork* WorkOf(HWND dialog)
{
    return (WindowWork*)GetWindowLongPtrA(dialog, DWLP_USER);
}

// Moves the window's bar only when the percentage changes: at most 101
// messages a job.
void ReportWork(void* context, uint64_t done, uint64_t total)
{
    WorkJob* job = (WorkJob*)context;
    uint32_t percent = ProgressPercent(done, total);
    if (job->shownPercent.exchange(percent) != percent)
        PostMessageA(job->window, workProgressMessage, job->number, (LPARAM)percent);
}

void RunWork(WorkJob* job)
{
    const WorkRequest& request = job->outcome.request;
    Progress progress = {ReportWork, job, &job->cancel};
    if (request.command == IDC_SAVE) {
        RebuildDetails* details = &job->outcome.details;
        details->salvage = request.salvage;
        job->outcome.result = RebuildMovieFile(&progress, request.moviePath.c_str(),
                                               request.outPath.c_str(), request.playerPath.c_str(),
                                               request.mode, details);
    } else {
        job->outcome.result = ExtractPlayer(request.moviePath.c_str(), request.outPath.c_str(),
                                            CommitMode::Replace, &progress);
    }
    PostMessageA(job->window, workEndedMessage, job->number, 0);
}

void RunReading(ReadingJob* job)
{
    Progress progress = {nullptr, nullptr, &job->cancel};
    job->result = CheckMovieFile(job->path.c_str(), &progress, &job->check, &job->reader);
    PostMessageA(job->window, readingEndedMessage, job->number, 0);
}

// Starts `run` on a thread of `job`; false when the system refuses it.
template <typename Job>
bool StartThread(Job* job, void (*run)(Job*))
{
    try {
        job->thread = std::thread(run, job);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// Cancels a job, waits for its worker and releases it; null is ignored.
template <typename Job>
void StopJob(Job** job)
{
    if (!*job)
        return;
    (*job)->cancel = true;
    if ((*job)->thread.joinable())
        (*job)->thread.join();
    delete *job;
    *job = nullptr;
}

void KeepFindings(MovieFindings* findings, const ReadingJob& job)
{
    const MovieFacts& facts = job.reader.facts;
    findings->state = Failed(job.result) ? FindingsState::Unreadable : FindingsState::Read;
    findings->check = job.check;
    findings->hasStage = facts.hasStage;
    findings->stageWidthTwips = facts.stageWidthTwips;
    findings->stageHeightTwips = facts.stageHeightTwips;
    findings->hasFrames = facts.hasFrames;
    findings->frameRate = facts.frameRate;
    findings->frameCount = facts.frameCount;
    findings->actionScript = ActionScriptVirtualMachine(facts);
}

}  // namespace

void BeginWindowWork(HWND dialog)
{
    WindowWork* work = new (std::nothrow) WindowWork();
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)work);
}

void EndWindowWork(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    if (!work)
        return;
    StopJob(&work->work);
    StopJob(&work->reading);
    delete work;
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
}

bool StartWork(HWND dialog, const WorkRequest& request)
{
    WindowWork* work = WorkOf(dialog);
    if (!work || work->work)
        return false;
    WorkJob* job = new (std::nothrow) WorkJob();
    if (!job)
        return false;
    job->window = dialog;
    job->number = ++work->lastNumber;
    job->outcome.request = request;
    job->outcome.result = NoFailure();
    if (!StartThread(job, RunWork)) {
        delete job;
        return false;
    }
    work->work = job;
    return true;
}

bool WorkRunning(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    return work && work->work;
}

void CancelWork(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    if (work && work->work)
        work->work->cancel = true;
}

bool TakeEndedWork(HWND dialog, WPARAM number, WorkOutcome* outcome)
{
    WindowWork* work = WorkOf(dialog);
    if (!work || !work->work || work->work->number != number)
        return false;
    work->work->thread.join();
    *outcome = work->work->outcome;
    delete work->work;
    work->work = nullptr;
    return true;
}

bool IsRunningWork(HWND dialog, WPARAM number)
{
    WindowWork* work = WorkOf(dialog);
    return work && work->work && work->work->number == number;
}

void StartReading(HWND dialog, const char* path)
{
    WindowWork* work = WorkOf(dialog);
    if (!work)
        return;
    StopJob(&work->reading);
    work->hasFindings = true;
    work->findings = MovieFindings();
    work->findings.state = FindingsState::Reading;
    ReadingJob* job = new (std::nothrow) ReadingJob();
    if (job) {
        job->window = dialog;
        job->number = ++work->lastNumber;
        job->path = path;
    }
    if (!job || !StartThread(job, RunReading)) {
        delete job;
        work->findings.state = FindingsState::Unreadable;
        return;
    }
    work->reading = job;
}

bool TakeEndedReading(HWND dialog, WPARAM number)
{
    WindowWork* work = WorkOf(dialog);
    if (!work || !work->reading || work->reading->number != number)
        return false;
    work->reading->thread.join();
    KeepFindings(&work->findings, *work->reading);
    delete work->reading;
    work->reading = nullptr;
    return true;
}

const MovieFindings* FindingsOf(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    return work && work->hasFindings ? &work->findings : nullptr;
}

void RequestClose(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    if (work)
        work->closeRequested = true;
}

bool CloseRequested(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    return work && work->closeRequested;
}

void SetLastInfoLine(HWND dialog, UINT line)
{
    WindowWork* work = WorkOf(dialog);
    if (work)
        work->lastLine = line;
}

UINT LastInfoLineOf(HWND dialog)
{
    WindowWork* work = WorkOf(dialog);
    return work ? work->lastLine : 0;
}
