// cli_main.cpp - quillaro-cli's command table, help texts and command-line
// parsing; the commands themselves live in cli_info.cpp, cli_check.cpp and
// cli_write.cpp.
#include "cli/cli.h"

#include <cstring>

#include "cli/cli_internal.h"
#include "common/version.h"

namespace {

// The options, each a bit so that a command can list those it accepts.
enum OptionBit : unsigned {
    optionJson = 1,
    optionForce = 2,
    optionQuiet = 4,
    optionOutDir = 8,
    optionMovie = 16,
    optionPlayer = 32,
    optionFacts = 64,
    optionCsv = 128,
    optionThreads = 256,
    optionJobs = 512,
    optionAt = 1024,
    optionSalvage = 2048,
    optionCandidates = 4096,
    optionBest = 8192,
    optionRecursive = 16384,
};

struct Option {
    const char* name;
    unsigned bit;
    bool takesValue;
};

const Option options[] = {
    {"--json", optionJson, false},     {"--force", optionForce, false},
    {"--quiet", optionQuiet, false},   {"--out-dir", optionOutDir, true},
    {"--movie", optionMovie, true},    {"--player", optionPlayer, true},
    {"--facts", optionFacts, false},   {"--csv", optionCsv, false},
    {"--threads", optionThreads, true}, {"--jobs", optionJobs, true},
    {"--at", optionAt, true},
    {"--salvage", optionSalvage, false},
    {"--candidates", optionCandidates, false},
    {"--best", optionBest, false},
    {"--recursive", optionRecursive, false},
};

// Short spellings of options.
struct OptionAlias {
    const char* alias;
    const char* name;
};
const OptionAlias optionAliases[] = {
    {"-r", "--recursive"},
};

const char overviewHelp[] =
    "Usage: quillaro-cli COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Inspects and rebuilds Flash movies (.swf) and projectors (a Flash Player\n"
    "program with a movie appended: Windows, Linux, or a macOS .app folder).\n"
    "\n"
    "Commands:\n"
    "  info FILE...              what each file is; its movie and player versions;\n"
    "                            with --facts, what its movie holds\n"
    "  save IN OUT [OPTIONS]     rebuild: keep, decompress or compress (zlib or\n"
    "                            LZMA) the movie; keep, remove or replace the player\n"
    "  check FILE...             whether each movie is whole or damaged\n"
    "  extract-player IN OUT     write the player program of a projector alone\n"
    "  extract-movie IN OUT      write the movie of a projector as stored\n"
    "  scan FILE...              find the movies embedded anywhere in files\n"
    "  help [COMMAND]            this text, or a command's\n"
    "\n"
    "save and the extract commands take several inputs with --out-dir DIR.\n"
    "Run \"quillaro-cli COMMAND --help\" for a command's options.\n"
    "\n"
    "Exit codes: 0 all done; 1 some file failed (the others were still done);\n"
    "2 wrong command line, nothing done; 3 refused because a player is older\n"
    "than its movie needs (see \"quillaro-cli save --help\"); 4 damaged movies\n"
    "saved in part with save --salvage.\n";

// What every reading command says about its inputs.
#define inputsHelp \
    "An archive (zip, 7z, rar, tar, ISO 9660, CAB, WARC; nested up to 4 levels)\n" \
    "is read entry by entry, without unpacking it: each entry that is a movie or\n" \
    "a projector is reported under the name ARCHIVE!/PATH (nested:\n" \
    "outer.zip!/inner.7z!/game.swf), and one entry can be named that way.\n" \
    "Entries and files met in folders that are neither are left out, and counted\n" \
    "on standard error.\n"

// --jobs of the reading commands.
#define jobsHelp \
    "  --jobs N  read N files at once (default: one per core); the results still\n" \
    "            come in the order of the inputs\n"

const char infoHelp[] =
    "Usage: quillaro-cli info [--facts] [--json|--csv] [-r] [--jobs N] FILE...\n"
    "\n"
    "Describes each file: a bare movie, a projector (a player program with a\n"
    "movie appended), a player program alone, or none of these; the movie's\n"
    "signature (FWS uncompressed, CWS zlib, ZWS LZMA), format version, declared\n"
    "length and stored size; the size of the player program; the oldest Flash\n"
    "Player the movie needs; the player's own version where it has one; and the\n"
    "layout of the projector: windows, linux-i386, linux-x86_64 or mac-app (a\n"
    "NAME.app folder).\n"
    "\n"
    "Options:\n"
    "  --facts   also decode each movie and tell what it holds: stage size, frame\n"
    "            rate and count, its tags, background colour, ActionScript 1/2 or\n"
    "            3, file attributes, metadata, protection against import and\n"
    "            debugging; a movie that does not decode is an error\n"
    "  --json    one JSON object per file, one per line, for scripts; the keys\n"
    "            are listed in the README under \"Command line\"\n"
    "  --csv     a header row, then one row per file, for spreadsheets\n"
    "  -r, --recursive   walk folders too (names in sorted order; links to\n"
    "            folders are not followed)\n"
    jobsHelp
    "\n"
    "With --facts each movie also gets two identities: movie_sha256, the SHA-256\n"
    "of its uncompressed form (the same for FWS, CWS and ZWS copies of one movie,\n"
    "bare or in any projector), and file_sha256, that of the file as stored.\n"
    "\n"
    inputsHelp;

const char saveHelp[] =
    "Usage: quillaro-cli save IN OUT [OPTIONS]\n"
    "       quillaro-cli save IN... --out-dir DIR [OPTIONS]\n"
    "\n"
    "Writes IN rebuilt: the movie kept as stored, decompressed or (re)compressed,\n"
    "the player kept, removed, or replaced by the player of another file.\n"    "IN may be an entry of an archive, named ARCHIVE!/PATH (as for every command\n"
    "that reads files).\n"
    "\n"
    "Options:\n"
    "  --movie keep|decompress|compress|lzma   the movie (default keep): as\n"
    "                   stored, uncompressed (FWS), zlib (CWS, no larger than\n"
    "                   zlib's level 9), or LZMA\n"
    "                   (ZWS, preset 9); any compressed input is decoded first\n"
    "  --player keep|remove|replace=FILE   the player (default keep); FILE is a\n"
    "                   Windows or Linux player program, or a projector whose\n"
    "                   player part is used; the output takes its layout\n"
    "  --out-dir DIR    write each output into DIR (made if missing), named after\n"
    "                   its input with .exe when it has a Windows player, no\n"
    "                   extension with a Linux one, .swf when it has none\n"
    "  --force          save even when the player is older than the movie needs,\n"
    "                   and replace an existing output, even the input itself\n"
    "  --threads N      compress each movie with N threads (default: all cores,\n"
    "                   shared among the files converted at once)\n"
    "  --jobs N         convert N files of a batch at once (default: one per core);\n"
    "                   messages still come in the order of the inputs\n"
    "  --quiet          no progress bar and no warnings\n"
    "  --salvage        with --movie decompress: of a damaged compressed movie,\n"
    "                   write every byte that decodes before the damage, as an\n"
    "                   uncompressed movie declaring the length written (exit 4)\n"
    "  --best           with --movie compress: the smallest zlib stream, at\n"
    "                   libdeflate's highest level (slower)\n"
    "\n"
    "A compressed movie whose stream ends short of its declared length is padded\n"
    "with zeros, as players do, with a warning that says how many.\n"
    "\n"
    "Keeping both the movie and the player asks for nothing and is refused. The\n"
    "player of a .app folder cannot be kept (a folder is never written): remove\n"
    "or replace it.\n"
    "--movie lzma needs a movie of format version 13 or newer: LZMA-compressed\n"
    "movies are read by Flash Player 11 and newer only, and no player that reads\n"
    "an older version could play one; such movies are refused (exit 1).\n"
    "A damaged compressed movie is an error and nothing is written for it,\n"
    "unless --salvage.\n"
    "\n"
    "Version check: the player that the output will hold must be at least as new\n"
    "as the movie needs - with --player keep the projector's own, with --player\n"
    "replace the new one. An older player (or one without a readable version) is\n"
    "refused with exit code 3 unless --force. Nothing is checked with --player\n"
    "remove, nor for a bare movie with --player keep. Linux players carry no\n"
    "version: they are not checked, and a note says so unless --quiet.\n";

const char extractPlayerHelp[] =
    "Usage: quillaro-cli extract-player IN OUT [--force] [--quiet]\n"
    "       quillaro-cli extract-player IN... --out-dir DIR [--jobs N] [--force] [--quiet]\n"
    "\n"
    "Writes the player program of a projector alone: the bytes in front of its\n"
    "movie (for Linux, the ELF file proper). A player program without a movie is\n"
    "copied whole. With --out-dir, the output for NAME.exe is\n"
    "DIR/NAME-player.exe, for a Linux NAME DIR/NAME-player (DIR is made if\n"
    "missing). A .app folder's player cannot be extracted.\n"
    "\n"
    "Options:\n"
    "  --out-dir DIR    write each output into DIR\n"
    "  --force          replace an existing output, even the input itself\n"
    "  --jobs N         write N files of a batch at once (default: one per core)\n"
    "  --quiet          accepted for symmetry with save; nothing to silence\n";

const char extractMovieHelp[] =
    "Usage: quillaro-cli extract-movie IN OUT [--force] [--quiet]\n"
    "       quillaro-cli extract-movie IN... --out-dir DIR [--jobs N] [--force] [--quiet]\n"
    "       quillaro-cli extract-movie --at OFFSET IN OUT [--force]\n"
    "\n"
    "Writes the movie of a projector exactly as stored, without the player and\n"
    "the trailer (for a bare movie file, a copy of it). With --out-dir, the\n"
    "output for NAME.exe is DIR/NAME.swf (DIR is made if missing).\n"
    "An archive given with --out-dir has the movie of each of its movie and\n"
    "projector entries written, named after the entry's last path component; a\n"
    "path inside an archive never chooses the folder (\"..\", absolute names and\n"
    "reserved names are refused, links and devices skipped).\n"
    "\n"
    "Options:\n"
    "  --at OFFSET      the movie that starts at byte OFFSET of IN (decimal, or\n"
    "                   hexadecimal after 0x), as \"quillaro-cli scan\" lists it;\n"
    "                   it must be a confirmed movie\n"
    "  --out-dir DIR    write each output into DIR\n"
    "  --force          replace an existing output, even the input itself\n"
    "  --jobs N         write N files of a batch at once (default: one per core)\n"
    "  --quiet          accepted for symmetry with save; nothing to silence\n";

const char scanHelp[] =
    "Usage: quillaro-cli scan [--json] [--candidates] [-r] [--jobs N] FILE...\n"
    "\n"
    "Finds every movie embedded anywhere in each file, trailer or not: each\n"
    "\"FWS\", \"CWS\" or \"ZWS\" with a plausible version (1-64) and declared\n"
    "length is decoded to confirm it - a CWS movie's zlib stream must end with\n"
    "its checksum, an FWS movie's tags must run to an End tag at its declared\n"
    "length. For each one it prints the offset, signature, version, declared\n"
    "length and stored size. Only confirmed movies are listed; how many\n"
    "candidates were rejected is said on standard error. Files of any size are\n"
    "read in windows.\n"
    "\n"
    "Options:\n"
    "  --json        one JSON object per movie found, one per line, with the keys\n"
    "                file, offset, signature, version, declared_length,\n"
    "                stored_size, confirmed\n"
    "  --candidates  also list the candidates that were not confirmed\n"
    "  -r, --recursive   walk folders too (sorted names; links to folders are not\n"
    "                followed)\n"
    jobsHelp
    "\n"
    "An archive is scanned entry by entry: every entry, of any kind, is read\n"
    "for movies and each is listed under the name ARCHIVE!/PATH.\n"
    "\n"
    "\"quillaro-cli extract-movie --at OFFSET IN OUT\" writes a movie found.\n";

const char checkHelp[] =
    "Usage: quillaro-cli check [--json] [-r] [--jobs N] FILE...\n"
    "\n"
    "Decodes the movie of each file (a bare movie or a projector) to its end,\n"
    "without writing anything, and reports it as intact, damaged (a data error\n"
    "at a byte of the compressed stream, a stream or file cut short, a bad zlib\n"
    "checksum, a declared length shorter than the header, invalid LZMA\n"
    "properties), or as holding no movie. A stream that ends cleanly short of\n"
    "the declared length is intact: players fill the rest with zeros.\n"
    "\n"
    "Options:\n"
    "  --json    one JSON object per file, one per line: file, status (intact,\n"
    "            damaged, no-movie), signature, declared_length, decoded_length,\n"
    "            problem (text or null)\n"
    "  -r, --recursive   walk folders too (sorted names; links to folders are not\n"
    "            followed)\n"
    jobsHelp
    "\n"
    inputsHelp
    "\n"
    "Exit code 0 when every file holds an intact movie, 1 otherwise.\n";

struct Command {
    const char* name;
    const char* help;
    unsigned options;  // the OptionBits it accepts
    int (*run)(const Arguments& arguments, FILE* out, FILE* err);
};

const Command commands[] = {
    {"info", infoHelp, optionJson | optionFacts | optionCsv | optionRecursive | optionJobs,
     RunInfo},
    {"save", saveHelp,
     optionForce | optionQuiet | optionOutDir | optionMovie | optionPlayer | optionThreads |
         optionJobs | optionSalvage | optionBest,
     RunSave},
    {"check", checkHelp, optionJson | optionRecursive | optionJobs, RunCheck},
    {"extract-player", extractPlayerHelp, optionForce | optionQuiet | optionOutDir | optionJobs,
     RunExtractPlayer},
    {"extract-movie", extractMovieHelp,
     optionForce | optionQuiet | optionOutDir | optionJobs | optionAt,
     RunExtractMovie},
    {"scan", scanHelp, optionJson | optionCandidates | optionRecursive | optionJobs, RunScan},
};

const Command* FindCommand(const char* name)
{
    for (const Command& command : commands) {
        if (strcmp(command.name, name) == 0)
            return &command;
    }
    return nullptr;
}

const Option* FindOption(const std::string& name)
{
    for (const OptionAlias& alias : optionAliases) {
        if (name == alias.alias)
            return FindOption(alias.name);
    }
    for (const Option& option : options) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

bool IsHelpRequest(const char* argument)
{
    return strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0;
}

void StoreOption(Arguments* arguments, const Option& option, const std::string& value)
{
    switch (option.bit) {
    case optionJson: arguments->json = true; break;
    case optionFacts: arguments->facts = true; break;
    case optionCsv: arguments->csv = true; break;
    case optionForce: arguments->force = true; break;
    case optionQuiet: arguments->quiet = true; break;
    case optionOutDir: arguments->outDir = value; break;
    case optionMovie: arguments->movieOption = value; break;
    case optionPlayer: arguments->playerOption = value; break;
    case optionThreads: arguments->threadsOption = value; break;
    case optionJobs: arguments->jobsOption = value; break;
    case optionAt: arguments->atOption = value; break;
    case optionSalvage: arguments->salvage = true; break;
    case optionCandidates: arguments->candidates = true; break;
    case optionBest: arguments->best = true; break;
    case optionRecursive: arguments->recursive = true; break;
    }
}

// Parses the words after the command name. Options may stand anywhere
// ("--name value" or "--name=value"); "--" ends them. Returns exitDone, or
// exitUsage after reporting the fault.
int ParseArguments(const Command& command, int count, char** words, Arguments* arguments,
                   FILE* err)
{
    unsigned seen = 0;
    bool optionsEnded = false;
    for (int i = 0; i < count; i++) {
        std::string word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            arguments->files.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        size_t equals = word.find('=');
        const Option* option = FindOption(word.substr(0, equals));
        if (!option || !(command.options & option->bit))
            return ReportUsageError(err, command.name, "unknown option " + word.substr(0, equals));
        if (seen & option->bit)
            return ReportUsageError(err, command.name, std::string(option->name) + " given twice");
        seen |= option->bit;
        std::string value;
        if (option->takesValue && equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (option->takesValue) {
            if (i + 1 >= count)
                return ReportUsageError(err, command.name,
                                        std::string(option->name) + " needs a value");
            value = words[++i];
        } else if (equals != std::string::npos) {
            return ReportUsageError(err, command.name,
                                    std::string(option->name) + " takes no value");
        }
        if (option->takesValue && value.empty())
            return ReportUsageError(err, command.name,
                                    std::string(option->name) + " needs a value");
        StoreOption(arguments, *option, value);
    }
    return exitDone;
}

// "help" and "help COMMAND".
int RunHelp(int count, char** words, FILE* out, FILE* err)
{
    if (count == 0) {
        fputs(overviewHelp, out);
        return exitDone;
    }
    const Command* command = FindCommand(words[0]);
    if (!command || count > 1) {
        fprintf(err, "%s: no help for \"%s\"; the commands are info, save, check, "
                     "extract-player, extract-movie, scan\n", programName, words[count > 1 ? 1 : 0]);
        return exitUsage;
    }
    fputs(command->help, out);
    return exitDone;
}

}  // namespace

int CliMain(int argc, char** argv, FILE* out, FILE* err)
{
    if (argc < 2) {
        fprintf(err, "%s: no command given; try \"%s --help\"\n", programName, programName);
        return exitUsage;
    }
    const char* name = argv[1];
    if (IsHelpRequest(name))
        return RunHelp(0, nullptr, out, err);
    if (strcmp(name, "help") == 0)
        return RunHelp(argc - 2, argv + 2, out, err);
    if (strcmp(name, "--version") == 0) {
        fprintf(out, "%s %s\n", programName, QUILLARO_VERSION);
        return exitDone;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        fprintf(err, "%s: unknown command \"%s\"; try \"%s --help\"\n", programName, name,
                programName);
        return exitUsage;
    }
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--") == 0)
            break;
        if (IsHelpRequest(argv[i])) {
            fputs(command->help, out);
            return exitDone;
        }
    }
    Arguments arguments = {};
    arguments.command = command->name;
    if (ParseArguments(*command, argc - 2, argv + 2, &arguments, err) != exitDone)
        return exitUsage;
    fflush(out);
    int result = command->run(arguments, out, err);
    fflush(out);
    fflush(err);
    return result;
}
