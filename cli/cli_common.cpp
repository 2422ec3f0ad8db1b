// cli_common.cpp - helpers the commands of quillaro-cli share: kinds of
// file, versions as text, error lines, and the check of an input file.
#include "cli.h"
#include "cli_internal.h"
#include "cli_platform.h"

#include "common/platform.h"

const char programName[] = "quillaro-cli";
const char specialFileText[] =
    "is a named pipe, a device or a socket, not a file; only files are read";

FileKind KindOf(const MovieLocation& location)
{
    bool player = location.layout != PlayerLayout::None;
    if (location.movieSize != 0)
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

void ReportFileError(FILE* err, const std::string& file, const std::string& message)
{
    fprintf(err, "%s: %s: %s\n", programName, file.c_str(), message.c_str());
}

void LogFileError(std::string* log, const std::string& file, const std::string& message)
{
    *log += std::string(programName) + ": " + file + ": " + message + "\n";
}

int ReportUsageError(FILE* err, const char* command, const std::string& message)
{
    fprintf(err, "%s %s: %s (see \"%s %s --help\")\n", programName, command, message.c_str(),
            programName, command);
    return exitUsage;
}

bool CheckInputFile(FILE* err, const std::string& path)
{
    std::string log;
    bool usable = CheckInputFile(&log, path);
    fputs(log.c_str(), err);
    return usable;
}

bool CheckInputFile(std::string* log, const std::string& path)
{
    if (IsSpecialFile(path.c_str())) {
        LogFileError(log, path, specialFileText);
        return false;
    }
    if (!PathExists(path.c_str())) {
        LogFileError(log, path, "no such file");
        return false;
    }
    if (IsFolder(path.c_str())) {
        MovieLocation location;
        LocateMovie(path.c_str(), &location);
        if (location.layout == PlayerLayout::MacApp)
            return true;
        LogFileError(log, path, "is a folder, not a file (nor a .app folder with a movie)");
        return false;
    }
    PlatformFile* file = OpenFileForRead(path.c_str());
    if (!file) {
        LogFileError(log, path,
                        "cannot be opened for reading (no permission, or another program is "
                        "writing it)");
        return false;
    }
    uint64_t size = 0;
    bool sized = GetFileSize64(file, &size);
    CloseFile(file);
    if (!sized) {
        LogFileError(log, path, "its size cannot be read");
        return false;
    }
    if (size > 0xFFFFFFFFu) {
        LogFileError(log, path,
                        "is 4 GiB or larger; movies and projectors are always smaller");
        return false;
    }
    return true;
}
