// input_jobs.h - the inputs of a reading command (info, check, scan) done
// on several threads, each one's output printed in input order as soon
// as those before it are printed, with at most a few inputs waiting at a
// time, so that memory stays flat for any number of inputs.
#pragma once

#include <cstdio>
#include <string>

#include "cli/input_walk.h"

struct InputJobs;

// Starts `jobs` threads (none for 1: inputs are then done as they are
// queued). With `bar`, a count of the inputs and bytes done is drawn on
// `err`, and erased before anything is printed there.
InputJobs* StartInputJobs(const InputWalk& walk, FILE* out, FILE* err, bool bar);

// Queues a file input, copied, for a job thread.
void QueueInput(InputJobs* jobs, const InputItem& item, uint64_t bytes);
// Does an input on the calling thread now (an archive's entry, whose bytes
// are there only now); its output still waits for those before it.
void RunInputHere(InputJobs* jobs, const InputItem& item, uint64_t bytes);
// A message about an operand itself (missing, unreadable), in its place;
// `failed` makes the exit code 1.
void QueueMessage(InputJobs* jobs, const std::string& text, bool failed);

// Waits for every input, prints what is left and stops the threads.
// True when no input failed.
bool FinishInputJobs(InputJobs* jobs);
