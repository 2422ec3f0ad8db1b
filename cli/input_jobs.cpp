// input_jobs.cpp - the job threads of the reading commands and the window
// of results that keeps their output in input order.
#include "cli/input_jobs.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/cli_platform.h"

namespace {

// How many inputs may wait per job thread, done or not, before the walk
// waits for the oldest to be printed: enough that one slow movie (a large
// LZMA one) does not leave the other threads idle behind it, few enough
// that their results (a few KiB each) stay a few megabytes.
const size_t waitingPerJob = 256;

// One input, or one message, in input order.
struct Slot {
    InputItem item;
    uint64_t bytes;  // counted on the bar when done
    InputResult result;
    bool done;
};

}  // namespace

struct InputJobs {
    InputWalk walk;
    FILE* out;
    FILE* err;
    bool bar;
    bool barShown;
    std::chrono::steady_clock::time_point barDrawn;
    unsigned long inputsDone;
    uint64_t bytesDone;
    bool allDone;
    bool anyPrinted;  // for the blank line between text blocks
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable work;   // a slot to do, or the end
    std::condition_variable ended;  // a slot done
    std::deque<Slot*> window;       // every slot not printed yet, in order
    std::deque<Slot*> todo;         // the slots no thread took yet
    bool closing;
};

namespace {

void DoSlot(InputJobs* jobs, Slot* slot)
{
    slot->result.ok = jobs->walk.visit(slot->item, jobs->walk.context, &slot->result);
}

void RunJob(InputJobs* jobs)
{
    std::unique_lock<std::mutex> lock(jobs->mutex);
    for (;;) {
        jobs->work.wait(lock, [jobs] { return jobs->closing || !jobs->todo.empty(); });
        if (jobs->todo.empty())
            return;
        Slot* slot = jobs->todo.front();
        jobs->todo.pop_front();
        lock.unlock();
        DoSlot(jobs, slot);
        lock.lock();
        slot->done = true;
        // The walk waits for the oldest slot only (to print it, or for room
        // behind it), and at the end for all of them.
        if (slot == jobs->window.front() || jobs->closing)
            jobs->ended.notify_all();
    }
}

void EraseBar(InputJobs* jobs)
{
    if (!jobs->barShown)
        return;
    fprintf(jobs->err, "\r%60s\r", "");
    jobs->barShown = false;
}

// "1234 files, 56.7 MiB" at most ten times a second.
void DrawBar(InputJobs* jobs)
{
    auto now = std::chrono::steady_clock::now();
    if (!jobs->bar || now - jobs->barDrawn < std::chrono::milliseconds(100))
        return;
    jobs->barDrawn = now;
    fprintf(jobs->err, "\r%lu files, %.1f MiB read", jobs->inputsDone,
            (double)jobs->bytesDone / (1024.0 * 1024.0));
    fflush(jobs->err);
    jobs->barShown = true;
}

void PrintSlot(InputJobs* jobs, Slot* slot)
{
    const InputResult& result = slot->result;
    if (!result.err.empty())
        EraseBar(jobs);
    fputs(result.err.c_str(), jobs->err);
    if (!result.out.empty()) {
        if (jobs->walk.blankBetween && jobs->anyPrinted)
            fputc('\n', jobs->out);
        fputs(result.out.c_str(), jobs->out);
        jobs->anyPrinted = true;
    }
    // Keeps the results and the error lines in the order of the inputs.
    fflush(jobs->out);
    jobs->allDone = jobs->allDone && result.ok;
    jobs->inputsDone += slot->item.name.empty() ? 0 : 1;
    jobs->bytesDone += slot->bytes;
}

// Prints the done slots at the front of the window; with `room`, first
// waits until the window has room for one more.
void PrintDone(InputJobs* jobs, bool room)
{
    std::unique_lock<std::mutex> lock(jobs->mutex);
    size_t limit = waitingPerJob * (jobs->threads.empty() ? 1 : jobs->threads.size());
    for (;;) {
        while (!jobs->window.empty() && jobs->window.front()->done) {
            Slot* slot = jobs->window.front();
            jobs->window.pop_front();
            lock.unlock();
            PrintSlot(jobs, slot);
            delete slot;
            lock.lock();
        }
        if (!room || jobs->window.size() < limit)
            break;
        jobs->ended.wait(lock);
    }
    lock.unlock();
    DrawBar(jobs);
}

Slot* NewSlot(InputJobs* jobs, const InputItem& item, uint64_t bytes)
{
    PrintDone(jobs, true);
    Slot* slot = new Slot{item, bytes, InputResult(), false};
    // The copy's path points into the copy's own name.
    if (item.path)
        slot->item.path = slot->item.name.c_str();
    std::lock_guard<std::mutex> lock(jobs->mutex);
    jobs->window.push_back(slot);
    return slot;
}

void MarkDone(InputJobs* jobs, Slot* slot)
{
    {
        std::lock_guard<std::mutex> lock(jobs->mutex);
        slot->done = true;
    }
    PrintDone(jobs, false);
}

}  // namespace

InputJobs* StartInputJobs(const InputWalk& walk, FILE* out, FILE* err, bool bar)
{
    InputJobs* jobs = new InputJobs();
    jobs->walk = walk;
    jobs->out = out;
    jobs->err = err;
    jobs->bar = bar;
    jobs->allDone = true;
    for (unsigned i = 0; walk.jobs > 1 && i < walk.jobs; i++) {
        try {
            jobs->threads.emplace_back(RunJob, jobs);
        } catch (const std::system_error&) {
            break;  // the inputs are done by the threads that started, or here
        }
    }
    return jobs;
}

void QueueInput(InputJobs* jobs, const InputItem& item, uint64_t bytes)
{
    Slot* slot = NewSlot(jobs, item, bytes);
    if (jobs->threads.empty()) {
        DoSlot(jobs, slot);
        MarkDone(jobs, slot);
        return;
    }
    std::lock_guard<std::mutex> lock(jobs->mutex);
    jobs->todo.push_back(slot);
    jobs->work.notify_one();
}

void RunInputHere(InputJobs* jobs, const InputItem& item, uint64_t bytes)
{
    Slot* slot = NewSlot(jobs, item, bytes);
    DoSlot(jobs, slot);
    MarkDone(jobs, slot);
}

void QueueMessage(InputJobs* jobs, const std::string& text, bool failed)
{
    Slot* slot = NewSlot(jobs, InputItem(), 0);
    slot->result.err = text;
    slot->result.ok = !failed;
    MarkDone(jobs, slot);
}

bool FinishInputJobs(InputJobs* jobs)
{
    {
        std::lock_guard<std::mutex> lock(jobs->mutex);
        jobs->closing = true;
        jobs->work.notify_all();
    }
    std::unique_lock<std::mutex> lock(jobs->mutex);
    jobs->ended.wait(lock, [jobs] {
        for (Slot* slot : jobs->window) {
            if (!slot->done)
                return false;
        }
        return true;
    });
    lock.unlock();
    PrintDone(jobs, false);
    for (std::thread& thread : jobs->threads)
        thread.join();
    EraseBar(jobs);
    bool allDone = jobs->allDone;
    delete jobs;
    return allDone;
}
