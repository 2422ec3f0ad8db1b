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

// Hands a written task to the placing threads, waiting while placingLimit
// tasks wait already. A placing thread is woken only for a full group:
// it takes smaller ones by itself after groupWait.
void QueueForPlacing(Jobs* jobs, Task* task)
{
    std::unique_lock<std::mutex> lock(jobs->mutex);
    jobs->placing.wait(lock, [&] { return jobs->toPlace.size() < placingLimit; });
    jobs->toPlace.push_back(task);
    if (jobs->toPlace.size() == placingLimit)
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
        if (task->toPlace && jobs->flush(*jobs->request, task) &&
            jobs->name(*jobs->request, task))
            jobs->finish(*jobs->request, &task, 1);
        FinishTask(jobs, task);
    }
    std::lock_guard<std::mutex> lock(jobs->mutex);
    jobs->jobsRunning--;
    jobs->placing.notify_all();
}

// The tasks that wait to be placed, as one group: as soon as placingLimit
// wait or no job runs any more, else those that waited groupWait. Empty
// when none waits and no job runs any more.
std::vector<Task*> TakeGroup(Jobs* jobs)
{
    std::unique_lock<std::mutex> lock(jobs->mutex);
    for (;;) {
        jobs->placing.wait_for(lock, groupWait, [&] {
            return jobs->toPlace.size() >= placingLimit || jobs->jobsRunning == 0;
        });
        if (!jobs->toPlace.empty() || jobs->jobsRunning == 0)
            break;
    }
    std::vector<Task*> group(jobs->toPlace.begin(), jobs->toPlace.end());
    jobs->toPlace.clear();
    jobs->placing.notify_all();
    return group;
}

// Keeps the tasks of `group` for which `step` returns true; the others
// have ended.
void KeepGoing(Jobs* jobs, NameStep step, std::vector<Task*>* group)
{
    size_t kept = 0;
    for (Task* task : *group) {
        if (step(*jobs->request, task))
            (*group)[kept++] = task;
        else
            FinishTask(jobs, task);
    }
    group->resize(kept);
}

// Places groups of written tasks: the flush of all started, then each
// flushed, then all named, then their folders flushed once and each
// finished.
void PlaceJobs(Jobs* jobs)
{
    for (std::vector<Task*> group = TakeGroup(jobs); !group.empty(); group = TakeGroup(jobs)) {
        for (Task* task : group)
            jobs->startFlush(*jobs->request, task);
        KeepGoing(jobs, jobs->flush, &group);
        KeepGoing(jobs, jobs->name, &group);
        jobs->finish(*jobs->request, group.data(), group.size());
        for (Task* task : group)
            FinishTask(jobs, task);
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
