// cli_internal.h - what the parts of quillaro-cli share: the parsed command
// line, the kinds of file, and the error lines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "common/failure.h"

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
    bool candidates;  // scan: list the candidates that were not confirmed too
    bool best;        // save: the smallest zlib stream, at libdeflate's highest level
    bool recursive;   // info, check, scan: walk folders
};

// What a file is, from its inspection record: a player of any layout
// (a .app folder too) makes a projector or a player.
enum class FileKind { BareMovie, Projector, Player, None };
FileKind KindOf(const MovieInfo& location);
// The name scripts see: "bare-movie", "projector", "player", "none".
const char* KindName(FileKind kind);

// "11.2"
std::string FormatVersion(PackedVersion version);
// "FWS", "CWS", "ZWS", or "" for no movie.
std::string SignatureText(uint32_t header);

// "quillaro-cli: <file>: <message>", printed on `err` at once.
void PrintFileError(FILE* err, const std::string& file, const std::string& message);
// The same line appended to `log`, for a batch that prints it later.
void AppendFileError(std::string* log, const std::string& file, const std::string& message);
// Appends printf-style text to `text`.
void Appendf(std::string* text, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// "quillaro-cli <command>: <message>" and a pointer to the help, on `err`.
// Returns exitUsage.
int ReportUsageError(FILE* err, const char* command, const std::string& message);

// What is wrong with a damaged movie, in words ("cut short after N of L
// bytes"); empty for Damage::None. Lengths count the uncompressed movie
// with its header; `streamOffset` is a byte of the compressed stream.
std::string DamageText(Damage damage, uint32_t header, uint32_t declaredLength,
                       uint64_t streamOffset, uint64_t decodedLength);

// Which inputs a command takes: files that inspection can describe
// (under 4 GiB) and .app folders with a movie file, or readable files of
// any size (scan, extract-movie --at).
enum class InputRule { Inspected, AnySize };

// Whether `path` names an input the rule takes; otherwise appends why not
// (missing, a folder, unreadable, too large) to `log`. With `inspected`,
// an input taken is inspected into it as well, through the one opening of
// the file.
bool CheckInputFile(std::string* log, const std::string& path, InputRule rule,
                    MovieInfo* inspected = nullptr);
// The same, printing why not on `err`.
bool CheckInputFile(FILE* err, const std::string& path, InputRule rule);

// What a failure of the core means, in the words of the command that met
// it; `*aboutOutput` (if not null) tells whether the text is about the
// output file rather than the input.
enum class FailureContext { Writing, ReadingFacts, Checking };
std::string FailureText(const Failure& failure, FailureContext context, const MovieInfo& input,
                        bool* aboutOutput = nullptr);

// --jobs of the reading commands: the inputs done at once, from 1 to
// 1024; one per core when not given. False after reporting the fault.
bool ParseJobs(const Arguments& arguments, FILE* err, unsigned* jobs);

// The commands; each returns the exit code.
int RunInfo(const Arguments& arguments, FILE* out, FILE* err);
int RunSave(const Arguments& arguments, FILE* out, FILE* err);
int RunExtractPlayer(const Arguments& arguments, FILE* out, FILE* err);
int RunExtractMovie(const Arguments& arguments, FILE* out, FILE* err);
int RunScan(const Arguments& arguments, FILE* out, FILE* err);
int RunCheck(const Arguments& arguments, FILE* out, FILE* err);
