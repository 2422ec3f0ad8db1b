// input_walk.cpp - turning operands into inputs: folders walked in sorted
// order, archives opened entry by entry through the collection walk, and
// entry names resolved to the one entry.
#include "cli/input_walk.h"

#include "cli/cli_platform.h"
#include "cli/input_jobs.h"
#include "cli/output_names.h"
#include "common/platform.h"

namespace {

struct Walker {
    const InputWalk* walk;
    InputJobs* jobs;
};

// An error about an operand, in its place among the results.
void Refuse(Walker* walker, const std::string& name, const std::string& message)
{
    std::string line;
    AppendFileError(&line, name, message);
    QueueMessage(walker->jobs, line, true);
}

// Carries a walker into the collection walk's callback.
struct ArchiveVisit {
    Walker* walker;
    bool any;  // an entry was reported
};

bool VisitEntry(const CollectionEntry& entry, void* context)
{
    ArchiveVisit* visit = (ArchiveVisit*)context;
    visit->any = true;
    if (entry.failed) {
        Refuse(visit->walker, entry.name, entry.error);
        return true;
    }
    InputItem item = {entry.name, nullptr, &entry, entry.location, true};
    RunInputHere(visit->walker->jobs, item, entry.size);
    return true;
}

// Walks the archive at `path`, shown as `name`; with `only`, just that
// entry. False when it was read to its end and held no entry at all.
bool WalkArchive(Walker* walker, const std::string& path, const std::string& name,
                 const std::string& only)
{
    CollectionOptions options = {walker->walk->facts, 0, only};
    ArchiveVisit visit = {walker, false};
    std::string error;
    if (!WalkCollection(path.c_str(), name, options, VisitEntry, &visit, &error))
        Refuse(walker, name,
               "the archive cannot be read" + std::string(visit.any ? " to its end: " : ": ") +
                   error);
    else if (!only.empty() && !visit.any)
        Refuse(walker, only, "no such entry in the archive");
    else
        return visit.any;
    return true;
}

uint64_t FileSizeOf(const char* path)
{
    PlatformFile* file = OpenFileForRead(path);
    uint64_t size = 0;
    if (file && !GetFileSize64(file, &size))
        size = 0;
    CloseFile(file);
    return size;
}

// Whether the input rule takes `path`; otherwise says why not. With
// `inspected`, a file taken is inspected into it too.
bool Takes(Walker* walker, const std::string& path, InputRule rule,
           MovieInfo* inspected = nullptr)
{
    std::string log;
    if (CheckInputFile(&log, path, rule, inspected))
        return true;
    QueueMessage(walker->jobs, log, true);
    return false;
}

// A file (or .app folder): the input itself, or the entries of the
// archive it holds. `found` when met in a folder rather than named.
void WalkFile(Walker* walker, const std::string& path, bool found)
{
    // Inspection describes files under 4 GiB; a larger archive is still
    // walked.
    bool folder = IsFolder(path.c_str());
    MovieInfo info = {};
    if (!Takes(walker, path, folder ? InputRule::Inspected : InputRule::AnySize, &info))
        return;
    bool none = info.movieSize == 0 && info.layout == PlayerLayout::None;
    // An archive without a single entry is no collection: zeros, say,
    // read as an empty tar file. It is an input as any other file.
    if (none && !folder && IsCollectionFile(path.c_str()) && WalkArchive(walker, path, path, ""))
        return;
    uint64_t size = folder ? info.movieSize : FileSizeOf(path.c_str());
    if (walker->walk->rule == InputRule::Inspected && size > 0xFFFFFFFFu) {
        Takes(walker, path, InputRule::Inspected);
        return;
    }
    InputItem item = {path, path.c_str(), nullptr, info, found};
    QueueInput(walker->jobs, item, size);
}

// A folder that is one input: a .app folder with a movie file.
bool IsProjectorFolder(const std::string& path)
{
    MovieInfo info;
    InspectMovie(path.c_str(), &info);
    return info.layout == PlayerLayout::MacApp;
}

// Every file below `folder`, in sorted order; a .app folder is one input.
void WalkFolder(Walker* walker, const std::string& folder)
{
    std::vector<FolderItem> items;
    if (!ListFolder(folder.c_str(), &items))
        Refuse(walker, folder, "the folder cannot be read to its end");
    for (const FolderItem& item : items) {
        std::string path = JoinPath(folder, item.name);
        if (item.link && IsFolder(path.c_str()))
            continue;  // links to folders are not followed: no loops, no walking out
        if (item.folder && !IsProjectorFolder(path))
            WalkFolder(walker, path);
        else if (!IsSpecialFile(path.c_str()))  // pipes, devices, sockets are passed over
            WalkFile(walker, path, true);
    }
}

void WalkOperand(Walker* walker, const std::string& operand)
{
    std::string archive;
    if (!PathExists(operand.c_str()) && SplitEntryName(operand, &archive)) {
        if (Takes(walker, archive, InputRule::AnySize))
            WalkArchive(walker, archive, archive, operand);
    } else if (walker->walk->recursive && IsFolder(operand.c_str()) &&
               !IsProjectorFolder(operand)) {
        WalkFolder(walker, operand);
    } else {
        WalkFile(walker, operand, false);
    }
}

}  // namespace

bool SplitEntryName(const std::string& operand, std::string* archive)
{
    for (size_t at = operand.find("!/"); at != std::string::npos; at = operand.find("!/", at + 2)) {
        std::string prefix = operand.substr(0, at);
        if (PathExists(prefix.c_str()) && !IsFolder(prefix.c_str())) {
            *archive = prefix;
            return at + 2 < operand.size();
        }
    }
    return false;
}

bool WalkInputs(const std::vector<std::string>& operands, const InputWalk& walk, FILE* out,
                FILE* err)
{
    bool bar = IsTerminal(err) && !IsTerminal(out);
    Walker walker = {&walk, StartInputJobs(walk, out, err, bar)};
    for (const std::string& operand : operands)
        WalkOperand(&walker, operand);
    return FinishInputJobs(walker.jobs);
}

std::string InputNameUtf8(const InputItem& item)
{
    char* name = NativeTextToUtf8(item.name.c_str());
    if (!name)
        return "";
    std::string text = name;
    MemFree(name);
    return text;
}
