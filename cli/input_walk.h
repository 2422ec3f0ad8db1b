// input_walk.h - what the operands of a reading command (info, check,
// scan) name: files and .app folders; archives, whose every entry is an
// input of its own; one entry of an archive, named "ARCHIVE!/PATH"; and,
// with --recursive, every file below a folder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_internal.h"
#include "rebuild/collection_walk.h"

// One input as a command reads it.
struct InputItem {
    std::string name;  // as shown: the operand, a path below a folder, or "ARCHIVE!/PATH"
    const char* path;  // the file or .app folder on disk; null for an entry
    const CollectionEntry* entry;  // an entry of an archive; null for a file
    MovieInfo info;    // its inspection (InspectMovie, or the entry's)
    // Met inside a folder or an archive rather than named by the user:
    // a command passes over such an input when it holds neither a movie
    // nor a player, and counts it.
    bool found;
};

// What a command made of one input: its output and its error lines,
// printed in input order.
struct InputResult {
    std::string out;
    std::string err;
    bool ok;
};

// What a command does with each input, on any of the walk's threads
// (`context` is shared by them): false when that input failed (its error
// in `result->err`), which makes the exit code 1.
typedef bool (*InputVisit)(const InputItem& item, void* context, InputResult* result);

struct InputWalk {
    bool recursive;  // walk folders (sorted names; links to folders not followed)
    bool facts;      // read each entry's movie identity and facts as it is walked
    InputRule rule;  // which files the command takes (see CheckInputFile)
    InputVisit visit;
    void* context;
    unsigned jobs;      // files done at once; an archive's entries are done in turn
    bool blankBetween;  // a blank line between the outputs of two inputs
};

// Hands every input the operands name to `walk.visit`, printing each
// one's result on `out` and `err` in input order; errors about the
// operands themselves (missing, unreadable, a damaged archive, no such
// entry) come in their places. A count of the inputs done is drawn on
// `err` when it is a terminal and `out` is not. True when nothing failed.
bool WalkInputs(const std::vector<std::string>& operands, const InputWalk& walk, FILE* out,
                FILE* err);

// Where an operand that names no file splits into an archive that exists
// and an entry: at the first "!/" after which the rest is an entry path.
// False when it is no entry name.
bool SplitEntryName(const std::string& operand, std::string* archive);

// The name of an input as UTF-8 for JSON and CSV, or "" when memory runs
// out: an entry's path within its archive is UTF-8 already.
std::string InputNameUtf8(const InputItem& item);
