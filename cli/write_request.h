// write_request.h - what the commands that write files (save,
// extract-player, extract-movie) share: the request a run applies to each
// input, the task of one input, and the steps between them. Each step
// lives in a file of its own: write_options.cpp parses the request,
// output_names.cpp names outputs, write_checks.cpp holds the checks and
// their texts, write_jobs.cpp the job and placing threads, batch_bar.cpp
// the run's bar, and write_steps.cpp the run itself.
#pragma once

#include <atomic>
#include <cstdio>
#include <set>
#include <string>

#include "cli/cli_internal.h"
#include "rebuild/rebuild.h"

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
    int level;         // the deflate level of --movie compress; 0 for the default
    FILE* err;
    bool atOffset;  // extract-movie --at: the movie at `offset`
    uint64_t offset;
};

// The request of `command` before its options are read. Extract-movie is
// a Save that removes the player and keeps the movie as stored.
WriteRequest RequestFor(WriteCommand command, const Arguments& arguments, FILE* err);

// How one input ended. A run whose inputs were all done or refused ends
// with exitRefused, so that --force would finish it; any failure wins.
// Salvaged: written, but only the part of a damaged movie that decoded.
enum class Outcome { Done, Failed, Refused, Salvaged };
// The one that decides a run's exit code: a failure, then a refusal, then
// a salvage.
Outcome WorseOutcome(Outcome a, Outcome b);

// What the file system says of an output name, looked up on the job
// threads; the rules of CheckOutput then apply in input order.
struct OutputFacts {
    bool isFolder;
    bool isInput;   // the input file itself (not looked up with --force)
    bool isPlayer;  // the replacement player (not looked up with --force)
    bool exists;    // (not looked up with --force)
};

// One input of a run: its checks, then its writing on a job thread. The
// messages of each input wait in its log and are printed in input order.
struct Task {
    std::string input;
    std::string output;
    MovieInfo source = {};
    Outcome outcome = Outcome::Failed;
    OutputFacts outputFacts = {};
    bool toWrite = false;  // the checks passed
    uint64_t weight = 0;   // its share of the progress bar: the movie it converts
    std::atomic<uint64_t> progressed{0};  // of `weight`, reported by its job
    std::atomic<bool> finished{false};
    std::string log;
    RebuildDetails details = {};
    OutputFile written = {};  // a Save written and waiting to be put in place
    bool toPlace = false;
};

// Options (write_options.cpp). Each returns exitDone, or exitUsage after
// reporting the fault.
int ParseSaveOptions(const Arguments& arguments, WriteRequest* request);
int ParseOffset(const Arguments& arguments, WriteRequest* request);
// How many of the operands are inputs (the first ones), and the output
// when it is named rather than derived.
int SplitOperands(const Arguments& arguments, FILE* err, size_t* inputCount, std::string* output);
// --threads and --jobs: digits only, from 1 to 1024; an absent one is 0.
// False after reporting the fault.
bool ParseCount(const Arguments& arguments, const char* name, const std::string& text,
                FILE* err, unsigned* count);

// Checks (write_checks.cpp). Those with a log append why they refuse.
bool CheckReplacementPlayer(const WriteRequest& request);
bool PrepareOutDir(const WriteRequest& request);
// The layout of the player a save writes: the source's with keep, the
// replacement's with replace; None for no player.
PlayerLayout SavedLayout(const WriteRequest& request, const std::string& input,
                         const MovieInfo& source);
bool CheckSource(const WriteRequest& request, const std::string& input, const MovieInfo& source,
                 std::string* log);
// With `inputBytes`, the input is an archive's entry, whose own player
// is read from them.
Outcome CheckPlayerVersion(const WriteRequest& request, const std::string& input,
                           const MovieInfo& source, std::string* log,
                           const ByteSource* inputBytes = nullptr);
OutputFacts ExamineOutput(const WriteRequest& request, const std::string& input,
                          const std::string& output);
bool CheckOutput(const WriteRequest& request, const std::string& input, const std::string& output,
                 const OutputFacts& facts, std::set<std::string>* outputs, std::string* log);
// The commit refuses to replace without --force, even a name that another
// program takes after CheckOutput found it free.
CommitMode CommitModeOf(const WriteRequest& request);
// What a failed write means, appended to `log`.
void AppendWriteFailure(const std::string& input, const std::string& output,
                        const Failure& failure, std::string* log);
// The messages and the outcome of a task whose writing ended with
// `result` (write_steps.cpp).
void EndTask(const WriteRequest& request, Task* task, const Failure& result);
// extract-movie --at found no confirmed movie at the offset.
void AppendNoMovieAt(const WriteRequest& request, const std::string& input, std::string* log);
// What a salvage kept of a damaged movie.
void AppendSalvage(const std::string& input, const std::string& output, const MovieInfo& source,
                   const RebuildDetails& details, std::string* log);
