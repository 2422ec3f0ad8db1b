// write_jobs.h - the threads of a run: job threads that take the tasks in
// turn, and beside them placing threads that put written files in place.
// The placing threads take the written files in groups: the writing of
// every file of a group to the disk is started, then each is flushed
// (waiting for the writes in flight together), then named, then their
// folder flushed once; meanwhile the jobs write the next files.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/write_request.h"

// One step of a task, done on a job or placing thread.
typedef void (*TaskStep)(const WriteRequest& request, Task* task);
// Flushes a written task's output to the disk (`flush`), or gives the
// flushed output its name (`name`): true when the task goes on to the
// next step, false when it ended.
typedef bool (*NameStep)(const WriteRequest& request, Task* task);
// Flushes the folders of named tasks, once for each run of tasks in one
// folder, and ends each task.
typedef void (*FinishStep)(const WriteRequest& request, Task* const* named, size_t count);

// The tasks of a phase, shared by its threads. A job takes the next task
// and does `work` on it; a task that `work` leaves `toPlace` waits for a
// placing thread (at most placingLimit wait), which takes every task
// that waits as a group, starts the flush of each, flushes each, names
// each that was flushed, and finishes the named ones together: no task is
// named before its data is on the disk, nor reported done before its
// folder is flushed. Every task ends finished, once.
struct Jobs {
    const WriteRequest* request = nullptr;
    TaskStep work = nullptr;
    TaskStep startFlush = nullptr;  // null when `work` never leaves a task to place
    NameStep flush = nullptr;
    NameStep name = nullptr;
    FinishStep finish = nullptr;
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

// The most tasks that wait for a placing thread, and so the largest group.
const size_t placingLimit = 16;
// How long a written task may wait for its group to fill before a placing
// thread takes the group as it is: short beside the flush of a large
// output, long beside the writing of a small one, so that small files are
// placed in full groups and their threads are woken once a group.
const std::chrono::milliseconds groupWait{20};

// Starts up to `count` job threads, and as many placing threads when
// `jobs->name` is set, appending them to `threads` for the caller to
// join. When the system refuses a thread the run goes on with those that
// started, and the result is ThreadFailed; when not one job thread
// started (`jobCount` is then 0), the caller runs the queue itself with
// RunJobsHere.
Failure StartJobs(Jobs* jobs, size_t count, std::vector<std::thread>* threads);

// Does every task of the queue on the calling thread, placing each one
// itself.
void RunJobsHere(Jobs* jobs);
