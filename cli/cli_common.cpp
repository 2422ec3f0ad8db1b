// cli_common.cpp - helpers the commands of quillaro-cli share: kinds of
// file, versions as text, error lines, and the check of an input file.
#include "cli/cli.h"

#include <cstdarg>

#include "cli/cli_internal.h"
#include "cli/cli_platform.h"

#include "common/platform.h"

const char programName[] = "quillaro-cli";
const char specialFileText[] =
    "is a named pipe, a device or a socket, not a file; only files are read";

FileKind KindOf(const MovieInfo& info)
{
    bool player = info.layout != PlayerLayout::None;
    if (info.movieSize != 0)
        return player ? FileKind::Projector : FileKind::BareMovie;
    return player ? FileKind::Player : FileKind::None;
}

const char* KindName(FileKind kind)
{
    switch (kind) {
    case FileKind::BareMovie: return "bare-movie";
    case FileKind::Projector: return "projector";
    case FileKind::Player: return "player";
    case FileKind::None: break;
    }
    return "none";
}

std::string FormatVersion(PackedVersion version)
{
    return std::to_string(VersionMajor(version)) + "." + std::to_string(VersionMinor(version));
}

std::string SignatureText(uint32_t header)
{
    if (!IsMovieSignature(header))
        return "";
    char letters[4] = {(char)header, (char)(header >> 8), (char)(header >> 16), 0};
    return letters;
}

void PrintFileError(FILE* err, const std::string& file, const std::string& message)
{
    fprintf(err, "%s: %s: %s\n", programName, file.c_str(), message.c_str());
}

void AppendFileError(std::string* log, const std::string& file, const std::string& message)
{
    *log += std::string(programName) + ": " + file + ": " + message + "\n";
}

int ReportUsageError(FILE* err, const char* command, const std::string& message)
{
    fprintf(err, "%s %s: %s (see \"%s %s --help\")\n", programName, command, message.c_str(),
            programName, command);
    return exitUsage;
}

bool CheckInputFile(FILE* err, const std::string& path, InputRule rule)
{
    std::string log;
    bool usable = CheckInputFile(&log, path, rule);
    fputs(log.c_str(), err);
    return usable;
}

namespace {
// A folder is an input only as a .app folder with a movie file.
bool CheckFolder(std::string* log, const std::string& path, InputRule rule, MovieInfo* inspected)
{
    MovieInfo info;
    InspectMovie(path.c_str(), &info);
    if (inspected)
        *inspected = info;
    if (rule == InputRule::Inspected && info.layout == PlayerLayout::MacApp)
        return true;
    AppendFileError(log, path,
                    rule == InputRule::Inspected
                        ? "is a folder, not a file (nor a .app folder with a movie)"
                        : "is a folder, not a file");
    return false;
}
}  // namespace

bool CheckInputFile(std::string* log, const std::string& path, InputRule rule,
                    MovieInfo* inspected)
{
    switch (PathKindOf(path.c_str())) {
    case PathKind::Special: AppendFileError(log, path, specialFileText); return false;
    case PathKind::Missing: AppendFileError(log, path, "no such file"); return false;
    case PathKind::Folder: return CheckFolder(log, path, rule, inspected);
    case PathKind::File: break;
    }
    PlatformFile* file = OpenFileForRead(path.c_str());
    if (!file) {
        AppendFileError(log, path,
                        "cannot be opened for reading (no permission, or another program is "
                        "writing it)");
        return false;
    }
    uint64_t size = 0;
    bool sized = GetFileSize64(file, &size);
    const char* refused = rule == InputRule::AnySize ? nullptr
                          : !sized                  ? "its size cannot be read"
                          : size > 0xFFFFFFFFu
                              ? "is 4 GiB or larger; movies and projectors are always smaller"
                              : nullptr;
    if (refused)
        AppendFileError(log, path, refused);
    else if (inspected) {
        ByteSource source = FileSource(file, size);
        InspectMovieSource(&source, inspected);
    }
    CloseFile(file);
    return !refused;
}

bool PathExists(const char* path)
{
    return PathKindOf(path) != PathKind::Missing;
}

bool IsFolder(const char* path)
{
    return PathKindOf(path) == PathKind::Folder;
}

bool IsSpecialFile(const char* path)
{
    return PathKindOf(path) == PathKind::Special;
}

void Appendf(std::string* text, const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    if ((size_t)length < sizeof line) {
        text->append(line, (size_t)length);
        return;
    }
    // Longer than a line: formatted again into room of its size.
    std::string longer((size_t)length + 1, '\0');
    va_start(arguments, format);
    vsnprintf(&longer[0], longer.size(), format, arguments);
    va_end(arguments);
    text->append(longer.c_str(), (size_t)length);
}
