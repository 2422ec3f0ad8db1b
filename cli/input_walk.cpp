// input_walk.cpp - turning operands into inputs: folders walked in sorted
// order, archives opened entry by entry through the collection walk, and
// entry names resolved to the one entry.
#include "cli/input_walk.h"

#include "cli/cli_platform.h"
#include "cli/output_names.h"
#include "common/platform.h"

namespace {

struct Walker {
    const InputWalk* walk;
    FILE* err;
    bool allDone;
};

// Carries a walker into the collection walk's callback.
struct ArchiveVisit {
    Walker* walker;
    bool any;  // an entry was reported
};

bool VisitEntry(const CollectionEntry& entry, void* context)
{
    ArchiveVisit* visit = (ArchiveVisit*)context;
    Walker* walker = visit->walker;
    visit->any = true;
    if (entry.failed) {
        PrintFileError(walker->err, entry.name, entry.error);
        walker->allDone = false;
        return true;
    }
    InputItem item = {entry.name, nullptr, &entry, entry.location, true};
    if (!walker->walk->visit(item, walker->walk->context))
        walker->allDone = false;
    return true;
}

// Walks the archive at `path`, shown as `name`; with `only`, just that entry.
bool WalkArchive(Walker* walker, const std::string& path, const std::string& name,
                 const std::string& only)
{
    CollectionOptions options = {walker->walk->facts, 0, only};
    ArchiveVisit visit = {walker, false};
    std::string error;
    if (!WalkCollection(path.c_str(), name, options, VisitEntry, &visit, &error)) {
        PrintFileError(walker->err, name,
                       "the archive cannot be read" +
                           std::string(visit.any ? " to its end: " : ": ") + error);
        return false;
    }
    if (!only.empty() && !visit.any) {
        PrintFileError(walker->err, only, "no such entry in the archive");
        return false;
    }
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

// A file (or .app folder): the input itself, or the entries of the
// archive it holds. `found` when met in a folder rather than named.
bool WalkFile(Walker* walker, const std::string& path, bool found)
{
    // Inspection describes files under 4 GiB; a larger archive is still
    // walked.
    bool folder = IsFolder(path.c_str());
    if (!CheckInputFile(walker->err, path, folder ? InputRule::Inspected : InputRule::AnySize))
        return false;
    MovieInfo info;
    InspectMovie(path.c_str(), &info);
    bool none = info.movieSize == 0 && info.layout == PlayerLayout::None;
    if (none && !folder && IsCollectionFile(path.c_str()))
        return WalkArchive(walker, path, path, "");
    if (walker->walk->rule == InputRule::Inspected && FileSizeOf(path.c_str()) > 0xFFFFFFFFu)
        return CheckInputFile(walker->err, path, InputRule::Inspected);
    InputItem item = {path, path.c_str(), nullptr, info, found};
    return walker->walk->visit(item, walker->walk->context);
}

// A folder that is one input: a .app folder with a movie file.
bool IsProjectorFolder(const std::string& path)
{
    MovieInfo info;
    InspectMovie(path.c_str(), &info);
    return info.layout == PlayerLayout::MacApp;
}

// Every file below `folder`, in sorted order; a .app folder is one input.
bool WalkFolder(Walker* walker, const std::string& folder)
{
    std::vector<FolderItem> items;
    if (!ListFolder(folder.c_str(), &items)) {
        PrintFileError(walker->err, folder, "the folder cannot be read to its end");
        walker->allDone = false;
    }
    for (const FolderItem& item : items) {
        std::string path = JoinPath(folder, item.name);
        bool ok;
        if (item.link && IsFolder(path.c_str()))
            continue;  // links to folders are not followed: no loops, no walking out
        if (item.folder && !IsProjectorFolder(path))
            ok = WalkFolder(walker, path);
        else if (IsSpecialFile(path.c_str()))
            continue;  // pipes, devices and sockets met in a folder are passed over
        else
            ok = WalkFile(walker, path, true);
        walker->allDone = ok && walker->allDone;
    }
    return true;
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

namespace {

bool WalkOperand(Walker* walker, const std::string& operand)
{
    std::string archive;
    if (!PathExists(operand.c_str()) && SplitEntryName(operand, &archive)) {
        if (!CheckInputFile(walker->err, archive, InputRule::AnySize))
            return false;
        return WalkArchive(walker, archive, archive, operand);
    }
    if (walker->walk->recursive && IsFolder(operand.c_str()) && !IsProjectorFolder(operand)) {
        WalkFolder(walker, operand);
        return true;
    }
    return WalkFile(walker, operand, false);
}

}  // namespace

bool WalkInputs(const std::vector<std::string>& operands, const InputWalk& walk, FILE* err)
{
    Walker walker = {&walk, err, true};
    for (const std::string& operand : operands)
        walker.allDone = WalkOperand(&walker, operand) && walker.allDone;
    return walker.allDone;
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
