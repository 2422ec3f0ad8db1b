// cli_internal.h - what the parts of quillaro-cli share: the parsed command
// line, the kinds of file, and the error lines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "movie/movie_file.h"
#include "movie/player_version.h"

extern const char programName[];

// A command line after parsing; which fields a command reads depends on
// the options it accepts.
struct Arguments {
    const char* command;             // "info", "save", ...
    std::vector<std::string> files;  // the operands, in order
    std::string outDir;              // empty without --out-dir
    std::string movieOption;         // empty without --movie
    std::string playerOption;        // empty without --player
    std::string threadsOption;       // empty without --threads
    std::string jobsOption;          // empty without --jobs
    bool json;
    bool force;
    bool quiet;
    bool facts;  // info: decode the movies and report what they hold
    bool csv;    // info: a table rather than text or JSON
};

// What a file is, from its inspection record.
enum class FileKind { BareMovie, Projector, Player, None };
FileKind KindOf(const MovieInfo& info);
// The name scripts see: "bare-movie", "projector", "player", "none".
const char* KindName(FileKind kind);

// "11.2"
std::string FormatVersion(PackedVersion version);
// "FWS", "CWS", "ZWS", or "" for no movie.
std::string SignatureText(uint32_t header);

// "quillaro-cli: <file>: <message>" on `err`.
void ReportFileError(FILE* err, const std::string& file, const std::string& message);
// The same line appended to `log`, to be printed later.
void LogFileError(std::string* log, const std::string& file, const std::string& message);
// "quillaro-cli <command>: <message>" and a pointer to the help, on `err`.
// Returns exitUsage.
int ReportUsageError(FILE* err, const char* command, const std::string& message);

// Whether `path` names a readable file that inspection can describe;
// otherwise reports why not (missing, a folder, unreadable, too large).
bool CheckInputFile(FILE* err, const std::string& path);
bool CheckInputFile(std::string* log, const std::string& path);

// The commands; each returns the exit code.
int RunInfo(const Arguments& arguments, FILE* out, FILE* err);
int RunSave(const Arguments& arguments, FILE* out, FILE* err);
int RunExtractPlayer(const Arguments& arguments, FILE* out, FILE* err);
int RunExtractMovie(const Arguments& arguments, FILE* out, FILE* err);
