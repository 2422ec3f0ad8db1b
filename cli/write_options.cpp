// write_options.cpp - the options of save, extract-player and
// extract-movie, read into their request.
#include "cli/cli.h"
#include "cli/write_request.h"
#include "rebuild/deflate_whole.h"
#include "rebuild/parallel_deflate.h"

namespace {
struct ActionName {
    const char* name;
    uint16_t action;
};

const ActionName movieActions[] = {
    {"keep", (uint16_t)MovieAction::Keep},
    {"decompress", (uint16_t)MovieAction::Decompress},
    {"compress", (uint16_t)MovieAction::Compress},
    {"lzma", (uint16_t)MovieAction::CompressLzma},
};

const ActionName playerActions[] = {
    {"keep", (uint16_t)PlayerAction::Keep},
    {"remove", (uint16_t)PlayerAction::Remove},
};

const char replacePrefix[] = "replace=";

template <size_t count>
bool FindAction(const ActionName (&table)[count], const std::string& name, uint16_t* action)
{
    for (size_t i = 0; i < count; i++) {
        if (name == table[i].name) {
            *action = table[i].action;
            return true;
        }
    }
    return false;
}

// A byte offset, decimal or hexadecimal after 0x; false for anything
// else, or a value past 64 bits.
bool ParseOffsetText(const std::string& text, uint64_t* offset)
{
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t base = hex ? 16 : 10;
    *offset = 0;
    for (char c : digits) {
        int value = c >= '0' && c <= '9' ? c - '0'
                    : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                                     : -1;
        if (value < 0 || *offset > (UINT64_MAX - (uint64_t)value) / base)
            return false;
        *offset = *offset * base + (uint64_t)value;
    }
    return !digits.empty();
}
}  // namespace

WriteRequest RequestFor(WriteCommand command, const Arguments& arguments, FILE* err)
{
    WriteRequest request = {};
    request.command = command;
    request.mode = MakeRebuildMode(PlayerAction::Remove, MovieAction::Keep);
    request.outDir = arguments.outDir;
    request.force = arguments.force;
    request.quiet = arguments.quiet;
    request.salvage = arguments.salvage;
    request.level = arguments.best ? deflateLevelBest : 0;
    request.err = err;
    return request;
}

// --movie and --player, into the request's mode (and player file).
int ParseSaveOptions(const Arguments& arguments, WriteRequest* request)
{
    uint16_t movie = (uint16_t)MovieAction::Keep;
    uint16_t player = (uint16_t)PlayerAction::Keep;
    const std::string& movieText = arguments.movieOption;
    const std::string& playerText = arguments.playerOption;
    if (!movieText.empty() && !FindAction(movieActions, movieText, &movie))
        return ReportUsageError(request->err, arguments.command,
                                "--movie takes keep, decompress, compress or lzma, not \"" +
                                    movieText + "\"");
    if (playerText.compare(0, sizeof replacePrefix - 1, replacePrefix) == 0) {
        player = (uint16_t)PlayerAction::AddReplace;
        request->playerPath = playerText.substr(sizeof replacePrefix - 1);
        if (request->playerPath.empty())
            return ReportUsageError(request->err, arguments.command,
                                    "--player replace= needs the player file after the =");
    } else if (!playerText.empty() && !FindAction(playerActions, playerText, &player)) {
        return ReportUsageError(request->err, arguments.command,
                                "--player takes keep, remove or replace=FILE, not \"" +
                                    playerText + "\"");
    }
    request->mode = MakeRebuildMode((PlayerAction)player, (MovieAction)movie);
    if (request->mode == 0)
        return ReportUsageError(request->err, arguments.command,
                                "nothing to do: choose --movie decompress, compress or lzma, or "
                                "--player remove or replace=FILE");
    if (request->level != 0 && (MovieAction)movie != MovieAction::Compress)
        return ReportUsageError(request->err, arguments.command,
                                "--best works with --movie compress only");
    if (request->salvage && (MovieAction)movie != MovieAction::Decompress)
        return ReportUsageError(request->err, arguments.command,
                                "--salvage works with --movie decompress only");
    return exitDone;
}

// --at OFFSET.
int ParseOffset(const Arguments& arguments, WriteRequest* request)
{
    const std::string& text = arguments.atOption;
    if (!arguments.outDir.empty())
        return ReportUsageError(request->err, arguments.command,
                                "--at takes one input file and one output file, not --out-dir");
    if (!ParseOffsetText(text, &request->offset))
        return ReportUsageError(request->err, arguments.command,
                                "--at takes a byte offset (decimal, or hexadecimal after 0x), not "
                                "\"" + text + "\"");
    request->atOffset = true;
    return exitDone;
}

int SplitOperands(const Arguments& arguments, FILE* err, size_t* inputCount, std::string* output)
{
    const std::vector<std::string>& files = arguments.files;
    if (!arguments.outDir.empty()) {
        if (files.empty())
            return ReportUsageError(err, arguments.command, "no input file given");
        *inputCount = files.size();
        return exitDone;
    }
    if (files.size() < 2)
        return ReportUsageError(err, arguments.command, "needs an input file and an output file");
    if (files.size() > 2)
        return ReportUsageError(err, arguments.command,
                                "several input files need --out-dir DIR for their outputs");
    *inputCount = 1;
    *output = files[1];
    return exitDone;
}

bool ParseCount(const Arguments& arguments, const char* name, const std::string& text,
                FILE* err, unsigned* count)
{
    *count = 0;
    if (text.empty())
        return true;
    bool digits = text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos;
    unsigned value = digits ? (unsigned)std::stoul(text) : 0;
    if (value < 1 || value > 1024) {
        ReportUsageError(err, arguments.command,
                         std::string(name) + " takes a number from 1 to 1024, not \"" + text +
                             "\"");
        return false;
    }
    *count = value;
    return true;
}

bool ParseJobs(const Arguments& arguments, FILE* err, unsigned* jobs)
{
    if (!ParseCount(arguments, "--jobs", arguments.jobsOption, err, jobs))
        return false;
    if (*jobs == 0)
        *jobs = WorkerCount(0);
    return true;
}
