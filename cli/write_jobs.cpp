// write_jobs.cpp - the job and placing threads of a run.
#include "cli/write_jobs.h"

#include <system_error>

namespace {
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

// Hands a written task to the placing threads, waiting while every job
// already has one waiting.
void QueueForPlacing(Jobs* jobs, Task* task)
{
    std::unique_lock<std::mutex> lock(jobs->mutex);
    jobs->placing.wait(lock, [&] { return jobs->toPlace.size() < jobs->jobCount; });
    jobs->toPlace.push_back(task);
    jobs->placing.notify_all();
}

void RunJobs(Jobs* jobs)
{
    for (;;) {
        size_t index = jobs->next.fetch_add(1);
        if (index >= jobs->queue.size())
            break;
        Task* task = jobs->queue[index];
        jobs->work(*jobs->request, task);
        if (task->toPlace && !jobs->placeHere) {
            QueueForPlacing(jobs, task);
            continue;
        }
        if (task->toPlace && jobs->name(*jobs->request, task))
            jobs->finish(*jobs->request, &task, 1);
        FinishTask(jobs, task);
    }
    std::lock_guard<std::mutex> lock(jobs->mutex);
    jobs->jobsRunning--;
    jobs->placing.notify_all();
}

// Outputs named and held open until their folder is flushed, at most.
const size_t namedLimit = 8;

// The next task to place: one that waits, while fewer than namedLimit are
// named; with none named yet, it waits for one. Null when none is taken:
// the named ones are to be finished, or (none named) the queue is empty
// and no job runs.
Task* NextToPlace(Jobs* jobs, size_t named)
{
    std::unique_lock<std::mutex> lock(jobs->mutex);
    if (named == 0)
        jobs->placing.wait(lock,
                           [&] { return !jobs->toPlace.empty() || jobs->jobsRunning == 0; });
    if (jobs->toPlace.empty() || named >= namedLimit)
        return nullptr;
    Task* task = jobs->toPlace.front();
    jobs->toPlace.pop_front();
    jobs->placing.notify_all();
    return task;
}

void FinishNamed(Jobs* jobs, std::vector<Task*>* named)
{
    jobs->finish(*jobs->request, named->data(), named->size());
    for (Task* task : *named)
        FinishTask(jobs, task);
    named->clear();
}

void PlaceJobs(Jobs* jobs)
{
    std::vector<Task*> named;
    for (;;) {
        Task* task = NextToPlace(jobs, named.size());
        if (task && jobs->name(*jobs->request, task))
            named.push_back(task);
        else if (task)
            FinishTask(jobs, task);
        else if (!named.empty())
            FinishNamed(jobs, &named);
        else
            return;
    }
}

// Starts one thread; false when the system refuses it.
bool StartThread(std::vector<std::thread>* threads, void (*body)(Jobs*), Jobs* jobs)
{
    try {
        threads->emplace_back(body, jobs);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
}  // namespace

Failure StartJobs(Jobs* jobs, size_t count, std::vector<std::thread>* threads)
{
    bool refused = false;
    // Each job counts as running before it starts, so that no placing
    // thread ends while jobs are still to come.
    {
        std::lock_guard<std::mutex> lock(jobs->mutex);
        jobs->jobCount = count;
        jobs->jobsRunning = count;
    }
    // The placing threads first: the jobs must know whether any runs
    // before they take a task.
    size_t placers = 0;
    for (size_t i = 0; jobs->name && i < count; i++) {
        if (StartThread(threads, PlaceJobs, jobs))
            placers++;
        else
            refused = true;
    }
    jobs->placeHere = placers == 0;
    for (size_t i = 0; i < count; i++) {
        if (StartThread(threads, RunJobs, jobs))
            continue;
        refused = true;
        std::lock_guard<std::mutex> lock(jobs->mutex);
        jobs->jobCount--;
        jobs->jobsRunning--;
        jobs->placing.notify_all();
    }
    return FailureOf(refused ? FailureKind::ThreadFailed : FailureKind::None);
}

void RunJobsHere(Jobs* jobs)
{
    {
        std::lock_guard<std::mutex> lock(jobs->mutex);
        jobs->placeHere = true;
        jobs->jobCount = 1;
        jobs->jobsRunning++;
    }
    RunJobs(jobs);
}
