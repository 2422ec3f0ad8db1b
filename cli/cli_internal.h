// cli_internal.h - what the parts of quillaro-cli share: the parsed command
// line, the kinds of file, and the error lines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "rebuild/body_decode.h"

extern const char programName[];
// What an input that is a named pipe, a device or a socket is told.
extern const char specialFileText[];

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
    std::string atOption;            // empty without --at
    bool json;
    bool force;
    bool quiet;
    bool facts;  // info: decode the movies and report what they hold
    bool csv;    // info: a table rather than text or JSON
    bool salvage;  // save: write what decodes of a damaged movie
};

// What a file is, from its inspection record: a player of any layout
// (a .app folder too) makes a projector or a player.
enum class FileKind { BareMovie, Projector, Player, None };
FileKind KindOf(const MovieLocation& location);
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

// What is wrong with a damaged movie, in words ("cut short after N of L
// bytes"); empty for Damage::None. Lengths count the uncompressed movie
// with its header; `streamOffset` is a byte of the compressed stream.
std::string DamageText(Damage damage, uint32_t header, uint32_t declaredLength,
                       uint64_t streamOffset, uint64_t decodedLength);

// Whether `path` names a readable file that inspection can describe, or a
// .app folder with a movie file; otherwise reports why not (missing, a
// folder, unreadable, too large).
bool CheckInputFile(FILE* err, const std::string& path);
bool CheckInputFile(std::string* log, const std::string& path);

// Whether `path` names a readable file of any size (scan, extract-movie
// --at); otherwise reports why not.
bool CheckScannedFile(FILE* err, const std::string& path);

// The commands; each returns the exit code.
int RunInfo(const Arguments& arguments, FILE* out, FILE* err);
int RunSave(const Arguments& arguments, FILE* out, FILE* err);
int RunExtractPlayer(const Arguments& arguments, FILE* out, FILE* err);
int RunExtractMovie(const Arguments& arguments, FILE* out, FILE* err);
int RunScan(const Arguments& arguments, FILE* out, FILE* err);
int RunCheck(const Arguments& arguments, FILE* out, FILE* err);
