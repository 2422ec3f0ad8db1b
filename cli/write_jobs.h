// write_jobs.h - the threads of a run: job threads that take the tasks in
// turn, and beside them placing threads that put written files in place.
// Putting a file in place waits for the disk to flush it; meanwhile its
// job writes the next file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/write_request.h"

// One step of a task, done on a job or placing thread.
typedef void (*TaskStep)(const WriteRequest& request, Task* task);

// The tasks of a phase, shared by its threads. A job takes the next task
// and does `work` on it; a task that `work` leaves `toPlace` waits for a
// placing thread, which does `place` on it (at most one task per job
// waits). Every task ends finished, once.
struct Jobs {
    const WriteRequest* request;
    TaskStep work;
    TaskStep place;  // null when `work` never leaves a task to place
    std::vector<Task*> queue;
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;  // the main thread waits on it
    size_t done = 0;                   // tasks finished
    std::condition_variable placing;   // a task to place, or room for one
    std::deque<Task*> toPlace;
    size_t jobCount = 0;
    size_t jobsRunning = 0;
    bool placeHere = false;  // no placing thread: each job places its own tasks
};

// Starts up to `count` job threads, and as many placing threads when
// `jobs->place` is set, appending them to `threads` for the caller to
// join. When the system refuses a thread the run goes on with those that
// started, and the result is ThreadFailed; when not one job thread
// started (`jobCount` is then 0), the caller runs the queue itself with
// RunJobsHere.
Failure StartJobs(Jobs* jobs, size_t count, std::vector<std::thread>* threads);

// Does every task of the queue on the calling thread, placing each one
// itself.
void RunJobsHere(Jobs* jobs);
