// cli_tests.cpp - quillaro-cli run in-process: its commands over the real
// movies and projectors built from them, its refusals, its exit codes and
// the JSON that scripts rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "cli/terminal_bar.h"
#include "cli/write_jobs.h"
#include "rebuild/lzma_body.h"
#include "test_support.h"

namespace {

struct CliResult {
    int code;
    std::string out;
    std::string err;
};

// Runs one command line with its output and errors captured.
CliResult RunCli(const std::vector<std::string>& words)
{
    std::vector<std::string> line = {"quillaro-cli"};
    line.insert(line.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& word : line)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    FILE* out = fopen("cli-stdout.txt", "w+b");
    FILE* err = fopen("cli-stderr.txt", "w+b");
    EXPECT_TRUE(out && err);
    if (!out || !err)
        return {-1, "", ""};
    int code = CliMain((int)line.size(), argv.data(), out, err);
    return {code, ReadStream(out), ReadStream(err)};
}

std::string Describe(const std::vector<std::string>& words, const CliResult& result)
{
    std::string text = "quillaro-cli";
    for (const std::string& word : words)
        text += " " + word;
    return text + "\n  exit " + std::to_string(result.code) + "\n  stdout: " + result.out +
           "\n  stderr: " + result.err;
}

size_t CountLines(const std::string& text)
{
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// An empty scratch folder of this name (files from an earlier run removed).
std::string FreshFolder(const std::string& name)
{
    for (const std::string& file : ListFolder(name))
        RemoveFile(name + "/" + file);
    MakeFolder(name);
    return name;
}

void RemoveEmptyFolder(const char* path)
{
#ifdef _WIN32
    _rmdir(path);
#else
    rmdir(path);
#endif
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// The oldest player for a movie, from the published table of versions.
std::string ExpectedRequired(const std::string& signature, int version)
{
    if (signature == "ZWS" && version < 13)
        version = 13;
    if (version <= 10)
        return std::to_string(version) + ".0";
    if (version <= 12)
        return "10." + std::to_string(version - 9);
    if (version <= 22)
        return "11." + std::to_string(version - 13);
    return std::to_string(version - 11) + ".0";
}

// "11.2" as a number that orders versions: 11 * 1000 + 2.
int VersionOrder(const std::string& version)
{
    size_t dot = version.find('.');
    return atoi(version.substr(0, dot).c_str()) * 1000 + atoi(version.substr(dot + 1).c_str());
}

// info --json's keys in order, with the types of their values with a movie
// and without one: 's' string, 'n' number, '0' null.
const struct {
    const char* key;
    const char* withMovie;
    const char* withoutMovie;
} infoSchema[] = {
    {"file", "s", "s"},
    {"kind", "s", "s"},
    {"signature", "s", "0"},
    {"version", "n", "0"},
    {"declared_length", "n", "0"},
    {"movie_size", "n", "n"},
    {"player_size", "n", "n"},
    {"required_player_version", "s", "0"},
    {"player_version", "s0", "s0"},
    {"layout", "s0", "s0"},
};

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// The values of one line of info --json by key, as JSON text ("\"CWS\"",
// "17", "null"); empty unless the line has exactly the documented keys, in
// order, each with a value of a documented type.
std::map<std::string, std::string> InfoJsonValues(const std::string& line, bool hasMovie)
{
    const char* const typePatterns[] = {
        R"re("(?:[^"\\\x01-\x1f]|\\["\\/bfnrt]|\\u[0-9a-f]{4})*")re", "[0-9]+", "null"};
    std::string pattern = "\\{";
    for (const auto& entry : infoSchema) {
        std::string alternatives;
        for (const char* type = hasMovie ? entry.withMovie : entry.withoutMovie; *type; type++)
            alternatives += (alternatives.empty() ? "" : "|") +
                            std::string(typePatterns[strchr("sn0", *type) - "sn0"]);
        pattern += (&entry == infoSchema ? "" : ",") + Quoted(entry.key) + ":(" + alternatives + ")";
    }
    pattern += "\\}";
    std::map<std::string, std::string> values;
    std::smatch match;
    if (!std::regex_match(line, match, std::regex(pattern)))
        return values;
    for (size_t i = 0; i < sizeof infoSchema / sizeof infoSchema[0]; i++)
        values[infoSchema[i].key] = match[i + 1];
    return values;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

Bytes Fixture(const char* name)
{
    Bytes bytes = ReadWholeFile(FixturePath(name));
    EXPECT_GT(bytes.size(), 2u) << name;
    return bytes;
}

// ---------------------------------------------------------------------------
// The command line itself

TEST(CliUsage, MistakesAreUsageErrorsAndTouchNothing)
{
    FreshFolder("usage");
    WriteWholeFile("usage/movie.swf", MakeUncompressedMovie(10, 500));
    const std::string movie = "usage/movie.swf";
    const std::string out = "usage/out.swf";
    const struct {
        std::vector<std::string> words;
        const char* says;
    } cases[] = {
        {{}, "no command"},
        {{"frobnicate", movie}, "unknown command"},
        {{"info"}, "no file"},
        {{"info", "--force", movie}, "unknown option --force"},
        {{"info", "--json=yes", movie}, "takes no value"},
        {{"info", "--json", "--csv", movie}, "one of --json and --csv"},
        {{"save", movie, out}, "nothing to do"},
        {{"save", movie, out, "--movie", "keep", "--player", "keep"}, "nothing to do"},
        {{"save", movie, out, "--movie", "shrink"}, "--movie takes"},
        {{"save", movie, out, "--player", "swap"}, "--player takes"},
        {{"save", movie, out, "--player", "replace="}, "replace="},
        {{"save", movie, out, "--movie"}, "needs a value"},
        {{"save", movie, out, "--movie", "compress", "--movie=decompress"}, "given twice"},
        {{"save", movie, "--movie", "compress"}, "needs an input file and an output file"},
        {{"save", movie, out, movie, "--movie", "compress"}, "--out-dir"},
        {{"save", "--out-dir", "usage", "--movie", "compress"}, "no input"},
        {{"extract-player", movie, out, "--json"}, "unknown option --json"},
        {{"save", movie, out, "--movie", "compress", "--threads", "0"}, "--threads takes"},
        {{"save", movie, out, "--movie", "compress", "--jobs=2x"}, "--jobs takes"},
        {{"extract-movie", movie, out, "--threads", "2"}, "unknown option --threads"},
        {{"extract-movie", movie}, "needs an input file and an output file"},
        {{"help", "frobnicate"}, "no help"},
    };
    for (const auto& test : cases) {
        CliResult result = RunCli(test.words);
        EXPECT_EQ(exitUsage, result.code) << Describe(test.words, result);
        EXPECT_TRUE(Contains(result.err, test.says)) << Describe(test.words, result);
        EXPECT_EQ(1u, CountLines(result.err)) << Describe(test.words, result);
        EXPECT_EQ("", result.out) << Describe(test.words, result);
        EXPECT_FALSE(FileExists(out)) << Describe(test.words, result);
    }
    EXPECT_EQ(1u, ListFolder("usage").size());
}

TEST(CliUsage, EveryCommandHasHelp)
{
    for (const char* name : {"info", "save", "extract-player", "extract-movie", "scan"}) {
        for (const std::vector<std::string>& words : {std::vector<std::string>{name, "x", "--help"},
                                                      std::vector<std::string>{"help", name}}) {
            CliResult result = RunCli(words);
            EXPECT_EQ(exitDone, result.code) << Describe(words, result);
            EXPECT_EQ(0u, result.out.find(std::string("Usage: quillaro-cli ") + name));
        }
    }
}

// ---------------------------------------------------------------------------
// The real movies

class CliCorpus : public CorpusTest {
protected:
    bool IsMovie(const ManifestRow& row) const
    {
        return row.signature == "FWS" || row.signature == "CWS" || row.signature == "ZWS";
    }

    // Movies whose uncompressed form the manifest records and the codecs
    // can produce: compressed ones, and uncompressed ones with a body.
    bool Converts(const ManifestRow& row) const
    {
        return (row.signature == "CWS" || row.signature == "FWS") && row.fwsSha256 != "-" &&
               atol(row.declaredLength.c_str()) > 8;
    }

};

TEST_F(CliCorpus, InfoJsonAgreesWithTheManifest)
{
    std::vector<std::string> words = {"info", "--json"};
    for (const ManifestRow& row : rows)
        words.push_back(CorpusPath(row.file));
    CliResult result = RunCli(words);
    ASSERT_EQ(exitDone, result.code) << result.err;
    std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(rows.size(), lines.size());
    for (size_t i = 0; i < rows.size(); i++) {
        const ManifestRow& row = rows[i];
        bool hasMovie = IsMovie(row);
        std::map<std::string, std::string> json = InfoJsonValues(lines[i], hasMovie);
        ASSERT_FALSE(json.empty()) << lines[i];
        EXPECT_EQ(Quoted(CorpusPath(row.file)), json["file"]);
        EXPECT_EQ(Quoted(hasMovie ? "bare-movie" : "none"), json["kind"]) << row.file;
        EXPECT_EQ("0", json["player_size"]) << row.file;
        EXPECT_EQ("null", json["player_version"]) << row.file;
        EXPECT_EQ("null", json["layout"]) << row.file;
        if (!hasMovie)
            continue;
        EXPECT_EQ(Quoted(row.signature), json["signature"]) << row.file;
        EXPECT_EQ(row.version, json["version"]) << row.file;
        EXPECT_EQ(row.declaredLength, json["declared_length"]) << row.file;
        EXPECT_EQ(std::to_string(row.size), json["movie_size"]) << row.file;
        EXPECT_EQ(Quoted(ExpectedRequired(row.signature, atoi(row.version.c_str()))),
                  json["required_player_version"])
            << row.file;
    }
}

// Every compressed movie decompressed in one batch: exactly the manifest's
// uncompressed form.
TEST_F(CliCorpus, DecompressGivesTheUncompressedForm)
{
    std::vector<std::string> words = {"save", "--movie", "decompress", "--out-dir",
                                      FreshFolder("decompressed")};
    std::vector<const ManifestRow*> compressed;
    for (const ManifestRow& row : rows) {
        if (row.signature == "CWS" || (row.signature == "ZWS" && row.fwsSha256 != "-")) {
            compressed.push_back(&row);
            words.push_back(CorpusPath(row.file));
        }
    }
    ASSERT_GT(compressed.size(), 115u);
    CliResult result = RunCli(words);
    EXPECT_EQ(exitDone, result.code) << result.err;
    EXPECT_EQ("", result.err);
    for (const ManifestRow* row : compressed) {
        Bytes movie = ReadWholeFile("decompressed/" + BaseName(row->file));
        EXPECT_EQ(row->fwsSha256, Sha256Hex(movie)) << row->file;
    }
}

// Compressing and decompressing again gives the uncompressed form back.
TEST_F(CliCorpus, CompressRoundTrips)
{
    std::vector<std::string> compress = {"save", "--movie", "compress", "--out-dir",
                                         FreshFolder("compressed")};
    std::vector<std::string> decompress = {"save", "--movie", "decompress", "--out-dir",
                                           FreshFolder("round-trip")};
    std::vector<const ManifestRow*> converted;
    for (const ManifestRow& row : rows) {
        if (!Converts(row))
            continue;
        converted.push_back(&row);
        compress.push_back(CorpusPath(row.file));
        decompress.push_back("compressed/" + BaseName(row.file));
    }
    CliResult result = RunCli(compress);
    ASSERT_EQ(exitDone, result.code) << result.err;
    result = RunCli(decompress);
    ASSERT_EQ(exitDone, result.code) << result.err;
    for (const ManifestRow* row : converted) {
        Bytes compressed = ReadWholeFile("compressed/" + BaseName(row->file));
        ASSERT_GT(compressed.size(), 8u) << row->file;
        EXPECT_EQ(0, memcmp(compressed.data(), "CWS", 3)) << row->file;
        EXPECT_EQ(row->fwsSha256, Sha256Hex(ReadWholeFile("round-trip/" + BaseName(row->file))))
            << row->file;
    }
}

// Every movie that converts, to LZMA and back: those of version 13 and
// newer give the uncompressed form again; older ones are refused, each on
// a line of its own, and nothing is written for them.
TEST_F(CliCorpus, LzmaRoundTripsAndRefusesOldVersions)
{
    std::vector<std::string> compress = {"save", "--movie", "lzma", "--out-dir",
                                         FreshFolder("lzma")};
    std::vector<std::string> decompress = {"save", "--movie", "decompress", "--out-dir",
                                           FreshFolder("lzma-back")};
    std::vector<const ManifestRow*> converted;
    size_t old = 0;
    for (const ManifestRow& row : rows) {
        if (!Converts(row) && !(row.signature == "ZWS" && row.fwsSha256 != "-"))
            continue;
        compress.push_back(CorpusPath(row.file));
        if (atoi(row.version.c_str()) < 13) {
            old++;
            continue;
        }
        converted.push_back(&row);
        decompress.push_back("lzma/" + BaseName(row.file));
    }
    ASSERT_GT(converted.size(), 50u);
    CliResult result = RunCli(compress);
    EXPECT_EQ(exitFailed, result.code);
    EXPECT_EQ(old, CountLines(result.err));
    EXPECT_EQ(old, (size_t)std::count(result.err.begin(), result.err.end(), '\n'));
    EXPECT_TRUE(Contains(result.err, "cannot be LZMA-compressed")) << result.err;
    EXPECT_EQ(converted.size(), ListFolder("lzma").size());
    result = RunCli(decompress);
    ASSERT_EQ(exitDone, result.code) << result.err;
    for (const ManifestRow* row : converted) {
        Bytes lzma = ReadWholeFile("lzma/" + BaseName(row->file));
        ASSERT_GT(lzma.size(), 17u) << row->file;
        EXPECT_EQ(0, memcmp(lzma.data(), "ZWS", 3)) << row->file;
        EXPECT_EQ(lzma.size() - 17, ReadLe32(lzma.data() + 8)) << row->file;
        EXPECT_EQ(row->fwsSha256, Sha256Hex(ReadWholeFile("lzma-back/" + BaseName(row->file))))
            << row->file;
    }
}

// check over the whole corpus: every movie intact but the one that
// declares no length, and the files that are no movie said to be so.
TEST_F(CliCorpus, CheckFindsEveryMovieIntact)
{
    std::vector<std::string> words = {"check", "--json"};
    for (const ManifestRow& row : rows)
        words.push_back(CorpusPath(row.file));
    CliResult result = RunCli(words);
    EXPECT_EQ(exitFailed, result.code);  // there are files without a movie
    EXPECT_EQ("", result.err);
    std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(rows.size(), lines.size());
    for (size_t i = 0; i < rows.size(); i++) {
        const ManifestRow& row = rows[i];
        const std::string& line = lines[i];
        std::string status = !IsMovie(row)               ? "no-movie"
                             : row.declaredLength == "0" ? "damaged"
                                                         : "intact";
        EXPECT_TRUE(Contains(line, "\"status\":\"" + status + "\"")) << line;
        EXPECT_EQ(status != "damaged", Contains(line, "\"problem\":null")) << line;
        bool whole = status == "intact" && row.fwsSha256 != "-";
        if (whole && row.signature != "FWS") {
            EXPECT_TRUE(Contains(line, "\"decoded_length\":" + row.declaredLength + ",")) << line;
        }
    }
}

// Damaged streams of both codecs: check names the problem, save writes
// nothing, and save --salvage writes the body's decoded start.
// A slow first input before more quick ones than the jobs may hold
// waiting: the walk waits for room behind the slow one, is woken when it
// is done, and every result still comes in input order.
TEST(CliCheck, ASlowFirstInputHoldsTheOthersInOrder)
{
    FreshFolder("slow");
    WriteWholeFile("slow/big.swf", MakeCompressedMovie(10, PatternBytes(24 << 20, 3, false)));
    WriteWholeFile("slow/small.swf", MakeUncompressedMovie(10, 100));
    std::vector<std::string> words = {"check", "--jobs", "2", "slow/big.swf"};
    words.insert(words.end(), 1200, "slow/small.swf");
    CliResult result = RunCli(words);
    ASSERT_EQ(exitDone, result.code) << result.err;
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < result.out.size(); start = end + 1) {
        end = result.out.find('\n', start);
        lines.push_back(result.out.substr(start, end - start).substr(0, 10));
    }
    ASSERT_EQ(1201u, lines.size());
    EXPECT_EQ("slow/big.s", lines[0]);
    EXPECT_EQ(1200, std::count(lines.begin(), lines.end(), std::string("slow/small")));
}

TEST(CliCheck, DamagedMoviesAreNamedAndSalvaged)
{
    FreshFolder("damaged");
    Bytes body = PatternBytes(200000, 6, true);
    Bytes fws = MakeMovie("FWS", 14, 200008, body);
    uint32_t size = 0;
    unsigned char* block = LzmaEncodeMovie(fws.data(), (uint32_t)fws.size(), &size, nullptr);
    Bytes lzma = FromBlock(block, size);
    MemFree(block);
    Bytes zlib = MakeCompressedMovie(14, body);
    Bytes badChecksum = zlib, lzmaFlipped = lzma, zlibFlipped = zlib, tooShort = zlib;
    badChecksum.back() ^= 0x40;
    lzmaFlipped[lzma.size() / 2] ^= 0x08;
    zlibFlipped[9] ^= 0x1;  // the stream's flags byte: its header check fails
    tooShort[4] = 5, tooShort[5] = tooShort[6] = tooShort[7] = 0;
    const struct {
        const char* name;
        Bytes movie;
        const char* problem;
        bool prefix;  // what decoded is the true start of the body
    } cases[] = {
        {"lzma-cut", Bytes(lzma.begin(), lzma.begin() + (long)lzma.size() / 3),
         "cut short after ", true},
        {"zlib-cut", Bytes(zlib.begin(), zlib.end() - 100), "cut short after ", true},
        {"lzma-flipped", lzmaFlipped, "data error at byte ", false},
        {"zlib-flipped", zlibFlipped, "data error at byte 2 of the CWS stream", true},
        {"zlib-checksum", badChecksum, "bad checksum", true},
        {"too-short", tooShort, "declared length 5 is shorter than the 8-byte header", true},
    };
    for (const auto& test : cases) {
        std::string path = std::string("damaged/") + test.name + ".swf";
        WriteWholeFile(path, test.movie);
        CliResult result = RunCli({"check", "--json", path});
        EXPECT_EQ(exitFailed, result.code) << test.name;
        EXPECT_TRUE(Contains(result.out, "\"status\":\"damaged\"")) << result.out;
        EXPECT_TRUE(Contains(result.out, "\"problem\":\"" + std::string(test.problem)))
            << result.out;

        result = RunCli({"save", path, "damaged/out.swf", "--movie", "decompress"});
        EXPECT_EQ(exitFailed, result.code) << test.name;
        EXPECT_FALSE(FileExists("damaged/out.swf")) << test.name;

        result = RunCli({"save", path, "damaged/out.swf", "--movie", "decompress", "--salvage"});
        EXPECT_EQ(exitSalvaged, result.code) << Describe({"save", path}, result);
        EXPECT_TRUE(Contains(result.err, "salvaged ")) << result.err;
        Bytes out = ReadWholeFile("damaged/out.swf");
        RemoveFile("damaged/out.swf");
        ASSERT_GE(out.size(), 8u) << test.name;
        EXPECT_EQ(out.size(), ReadLe32(out.data() + 4)) << test.name;
        EXPECT_EQ(0, memcmp(out.data(), "FWS", 3)) << test.name;
        if (test.prefix) {
            EXPECT_TRUE(std::equal(out.begin() + 8, out.end(), body.begin())) << test.name;
        }
    }
    CliResult result = RunCli({"save", "damaged/zlib-cut.swf", "damaged/out.swf", "--movie",
                               "compress", "--salvage"});
    EXPECT_EQ(exitUsage, result.code);

    // A compressed movie that ends inside its header is not whole either.
    WriteWholeFile("damaged/header-cut.swf", Bytes(lzma.begin(), lzma.begin() + 7));
    result = RunCli({"check", "--json", "damaged/header-cut.swf"});
    EXPECT_EQ(exitFailed, result.code);
    EXPECT_TRUE(Contains(result.out, "\"problem\":\"cut short after 7 of ")) << result.out;
}

// Take a projector apart and put it together again: the same bytes. On
// the way the version check refuses exactly the movies that need a newer
// player than 11.2, until --force.
TEST_F(CliCorpus, ExtractThenReplaceRebuildsTheProjector)
{
    Bytes player = Fixture("player-11.2.exe");
    FreshFolder("rebuild");
    int refusals = 0;
    for (const ManifestRow& row : rows) {
        if (!IsMovie(row))
            continue;
        SCOPED_TRACE(row.file);
        Bytes movie = ReadWholeFile(CorpusPath(row.file));
        Bytes original = MakeProjector(player, movie);
        WriteWholeFile("rebuild/original.exe", original);
        for (const char* name : {"player.exe", "movie.swf", "rebuilt.exe"})
            RemoveFile(std::string("rebuild/") + name);

        CliResult result = RunCli({"extract-player", "rebuild/original.exe", "rebuild/player.exe"});
        ASSERT_EQ(exitDone, result.code) << result.err;
        EXPECT_EQ(player, ReadWholeFile("rebuild/player.exe"));
        result = RunCli({"extract-movie", "rebuild/original.exe", "rebuild/movie.swf"});
        ASSERT_EQ(exitDone, result.code) << result.err;
        EXPECT_EQ(movie, ReadWholeFile("rebuild/movie.swf"));

        std::vector<std::string> save = {"save", "rebuild/movie.swf", "rebuild/rebuilt.exe",
                                         "--player", "replace=rebuild/player.exe"};
        result = RunCli(save);
        bool tooOld = VersionOrder(ExpectedRequired(row.signature, atoi(row.version.c_str()))) >
                      VersionOrder("11.2");
        if (tooOld) {
            refusals++;
            EXPECT_EQ(exitRefused, result.code) << Describe(save, result);
            EXPECT_FALSE(FileExists("rebuild/rebuilt.exe"));
            save.push_back("--force");
            result = RunCli(save);
        }
        ASSERT_EQ(exitDone, result.code) << Describe(save, result);
        EXPECT_EQ(original, ReadWholeFile("rebuild/rebuilt.exe"));
    }
    EXPECT_GT(refusals, 50);
}

// ---------------------------------------------------------------------------
// The version check

TEST(CliVersionCheck, FollowsTheDialogsRule)
{
    FreshFolder("versions");
    const struct {
        const char* sourcePlayer;  // fixture in front of the movie; null: a bare movie
        uint8_t movieVersion;
        const char* playerOption;
        const char* refusal;  // the facts of the refusal; null when the save is done
    } cases[] = {
        // Keep checks the projector's own player.
        {"player-10.0.exe", 10, "keep", nullptr},
        {"player-10.0.exe", 11, "keep",
         "movie version 11 needs Flash Player 10.2 or newer, but the projector's own player is "
         "version 10.0"},
        {"player-11.2.exe", 15, "keep", nullptr},
        {"player-11.2.exe", 16, "keep", "needs Flash Player 11.3 or newer"},
        {"player.exe", 1, "keep", "is of unknown version (counted as 0.0)"},
        // Replace checks the new player, whatever the old one was.
        {nullptr, 13, "replace=player-9.0.exe", "needs Flash Player 11.0 or newer, but the player "
                                                "of "},
        {"player-32.0.exe", 13, "replace=player-10.0.exe", "player-10.0.exe is version 10.0"},
        {"player-9.0.exe", 43, "replace=player-32.0.exe", nullptr},
        // Nothing is checked with remove, nor for a bare movie kept bare.
        {"player-9.0.exe", 43, "remove", nullptr},
        {nullptr, 43, "keep", nullptr},
    };
    int number = 0;
    for (const auto& test : cases) {
        std::string source = "versions/source" + std::to_string(++number) + ".exe";
        Bytes movie = MakeUncompressedMovie(test.movieVersion, 2000);
        WriteWholeFile(source, test.sourcePlayer ? MakeProjector(Fixture(test.sourcePlayer), movie)
                                                 : movie);
        std::string playerOption = test.playerOption;
        if (playerOption.compare(0, 8, "replace=") == 0)
            playerOption = "replace=" + FixturePath(test.playerOption + 8);
        std::string output = "versions/out" + std::to_string(number) + ".exe";
        std::vector<std::string> words = {"save", source, output, "--movie", "compress",
                                          "--player", playerOption};
        CliResult result = RunCli(words);
        EXPECT_EQ(test.refusal ? exitRefused : exitDone, result.code) << Describe(words, result);
        EXPECT_EQ(!test.refusal, FileExists(output)) << Describe(words, result);
        if (!test.refusal) {
            EXPECT_EQ("", result.err) << Describe(words, result);
            continue;
        }
        // The facts of the dialog's question, on one line naming the file.
        EXPECT_EQ(1u, CountLines(result.err));
        EXPECT_EQ(0u, result.err.find("quillaro-cli: " + source + ": refused: movie version " +
                                      std::to_string(test.movieVersion)))
            << result.err;
        EXPECT_TRUE(Contains(result.err, test.refusal)) << result.err;

        words.push_back("--force");
        result = RunCli(words);
        EXPECT_EQ(exitDone, result.code) << Describe(words, result);
        EXPECT_TRUE(FileExists(output));
        EXPECT_TRUE(Contains(result.err, "warning")) << Describe(words, result);
        RemoveFile(output);
        words.push_back("--quiet");
        result = RunCli(words);
        EXPECT_EQ(exitDone, result.code);
        EXPECT_EQ("", result.err);
    }
}

// Exit code 3 says that --force would finish the run: only when nothing
// else failed.
TEST(CliVersionCheck, ABatchIsRefusedOnlyWhenNothingElseFailed)
{
    FreshFolder("mixed");
    WriteWholeFile("mixed/old.exe",
                   MakeProjector(Fixture("player-9.0.exe"), MakeUncompressedMovie(10, 500)));
    WriteWholeFile("mixed/fine.swf", MakeUncompressedMovie(10, 500));
    const struct {
        std::vector<std::string> inputs;
        int expected;
    } cases[] = {
        {{"mixed/old.exe", "mixed/fine.swf"}, exitRefused},
        {{"mixed/old.exe", "mixed/missing.swf", "mixed/fine.swf"}, exitFailed},
    };
    for (const auto& test : cases) {
        std::vector<std::string> words = {"save", "--movie", "compress", "--out-dir",
                                          FreshFolder("mixed-out")};
        words.insert(words.end(), test.inputs.begin(), test.inputs.end());
        CliResult result = RunCli(words);
        EXPECT_EQ(test.expected, result.code) << Describe(words, result);
        EXPECT_EQ(std::vector<std::string>{"fine.swf"}, ListFolder("mixed-out"));
    }
}

// ---------------------------------------------------------------------------
// Keeping files safe

TEST(CliSafety, AnExistingOutputIsReplacedOnlyWithForce)
{
    FreshFolder("existing");
    Bytes movie = MakeUncompressedMovie(10, 3000);
    WriteWholeFile("existing/movie.swf", movie);
    const Bytes old = {'o', 'l', 'd'};
    const std::vector<std::string> commands[] = {
        {"save", "existing/movie.swf", "existing/out", "--movie", "compress"},
        {"extract-movie", "existing/movie.swf", "existing/out"},
    };
    for (std::vector<std::string> words : commands) {
        WriteWholeFile("existing/out", old);
        CliResult result = RunCli(words);
        EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
        EXPECT_TRUE(Contains(result.err, "existing/out: already exists")) << result.err;
        EXPECT_EQ(old, ReadWholeFile("existing/out"));
        words.push_back("--force");
        result = RunCli(words);
        EXPECT_EQ(exitDone, result.code) << Describe(words, result);
        EXPECT_NE(old, ReadWholeFile("existing/out"));
    }
}

TEST(CliSafety, TheInputOrPlayerAsOutputIsReplacedOnlyWithForce)
{
    FreshFolder("same");
    Bytes movie = MakeUncompressedMovie(10, 3000);
    Bytes player = Fixture("player-10.0.exe");
    const struct {
        std::vector<std::string> words;
        const char* says;
    } cases[] = {
        {{"save", "same/movie.swf", "same/movie.swf", "--movie", "compress"}, "input file itself"},
        {{"save", "same/movie.swf", "same/./movie.swf", "--movie", "compress"}, "input file itself"},
        {{"save", "same/movie.swf", "same/player.exe", "--player", "replace=same/player.exe"},
         "player file itself"},
        {{"extract-movie", "same/movie.swf", "same/../same/movie.swf"}, "input file itself"},
    };
    for (const auto& test : cases) {
        WriteWholeFile("same/movie.swf", movie);
        WriteWholeFile("same/player.exe", player);
        CliResult result = RunCli(test.words);
        EXPECT_EQ(exitFailed, result.code) << Describe(test.words, result);
        EXPECT_TRUE(Contains(result.err, test.says)) << Describe(test.words, result);
        EXPECT_EQ(movie, ReadWholeFile("same/movie.swf"));
        EXPECT_EQ(player, ReadWholeFile("same/player.exe"));

        std::vector<std::string> forced = test.words;
        forced.push_back("--force");
        result = RunCli(forced);
        EXPECT_EQ(exitDone, result.code) << Describe(forced, result);
    }
    // Forced, the file was rebuilt from its own content, not lost.
    WriteWholeFile("same/movie.swf", movie);
    ASSERT_EQ(exitDone, RunCli({"save", "same/movie.swf", "same/movie.swf", "--movie", "compress",
                                "--force"}).code);
    ASSERT_EQ(exitDone, RunCli({"save", "same/movie.swf", "same/movie.swf", "--movie",
                                "decompress", "--force"}).code);
    EXPECT_EQ(movie, ReadWholeFile("same/movie.swf"));
}

// ---------------------------------------------------------------------------
// Batches

// One look tells what a name is, and the three questions asked of it
// agree: a link is what it leads to, a dangling one still a name, and a
// pipe or device is special (never opened, which would wait).
TEST(CliPaths, EachNameIsTheKindItLooksLike)
{
    FreshFolder("kinds");
    MakeFolder("kinds/folder");
    WriteWholeFile("kinds/file", Bytes(3, 'x'));
    struct Case {
        const char* path;
        PathKind kind;
    };
    std::vector<Case> cases = {
        {"kinds/none", PathKind::Missing},
        {"kinds/file", PathKind::File},
        {"kinds/folder", PathKind::Folder},
    };
#ifdef _WIN32
    cases.push_back({"NUL", PathKind::Special});
#else
    ASSERT_EQ(0, symlink("folder", "kinds/to-folder"));
    ASSERT_EQ(0, symlink("nowhere", "kinds/dangling"));
    ASSERT_EQ(0, mkfifo("kinds/pipe", 0600));
    cases.insert(cases.end(), {{"kinds/to-folder", PathKind::Folder},
                               {"kinds/dangling", PathKind::File},
                               {"kinds/pipe", PathKind::Special}});
#endif
    for (const Case& test : cases) {
        EXPECT_EQ(test.kind, PathKindOf(test.path)) << test.path;
        EXPECT_EQ(test.kind != PathKind::Missing, PathExists(test.path)) << test.path;
        EXPECT_EQ(test.kind == PathKind::Folder, IsFolder(test.path)) << test.path;
        EXPECT_EQ(test.kind == PathKind::Special, IsSpecialFile(test.path)) << test.path;
    }
}

TEST(CliBatch, AMissingInputFailsAloneAndTheOthersAreDone)
{
    FreshFolder("batch");
    WriteWholeFile("batch/first.swf", MakeUncompressedMovie(10, 3000));
    WriteWholeFile("batch/third.swf", MakeUncompressedMovie(9, 4000));
    // The output folder is made as needed.
    FreshFolder("batch-out");
    RemoveEmptyFolder("batch-out");
    std::vector<std::string> words = {"save", "batch/first.swf", "batch/missing.swf",
                                      "batch/third.swf", "--movie", "compress", "--out-dir",
                                      "batch-out"};
    CliResult result = RunCli(words);
    EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
    EXPECT_EQ(1u, CountLines(result.err)) << result.err;
    EXPECT_TRUE(Contains(result.err, "batch/missing.swf: no such file")) << result.err;
    EXPECT_TRUE(FileExists("batch-out/first.swf"));
    EXPECT_TRUE(FileExists("batch-out/third.swf"));
    EXPECT_EQ(2u, ListFolder("batch-out").size());
}

TEST(CliBatch, OutputNamesFollowTheInputs)
{
    FreshFolder("names");
    Bytes movie = MakeUncompressedMovie(10, 3000);
    WriteWholeFile("names/game.exe", MakeProjector(Fixture("player-32.0.exe"), movie));
    WriteWholeFile("names/intro.swf", movie);
    WriteWholeFile("names/intro.v2.swf", movie);
    const std::string player = "replace=" + FixturePath("player-32.0.exe");
    const struct {
        std::vector<std::string> words;
        const char* input;
        const char* output;
    } cases[] = {
        {{"save", "--movie", "compress"}, "game.exe", "game.exe"},
        {{"save", "--player", "remove"}, "game.exe", "game.swf"},
        {{"save", "--player", player}, "intro.swf", "intro.exe"},
        {{"save", "--movie", "compress"}, "intro.swf", "intro.swf"},
        {{"save", "--movie", "compress"}, "intro.v2.swf", "intro.v2.swf"},
        {{"extract-player"}, "game.exe", "game-player.exe"},
        {{"extract-movie"}, "game.exe", "game.swf"},
        {{"extract-movie"}, "intro.v2.swf", "intro.v2.swf"},
    };
    for (const auto& test : cases) {
        std::vector<std::string> words = test.words;
        words.insert(words.end(), {std::string("names/") + test.input, "--out-dir",
                                   FreshFolder("names-out")});
        CliResult result = RunCli(words);
        EXPECT_EQ(exitDone, result.code) << Describe(words, result);
        std::vector<std::string> written = ListFolder("names-out");
        EXPECT_EQ(std::vector<std::string>{test.output}, written) << Describe(words, result);
    }
}

TEST(CliBatch, TwoInputsNeverShareAnOutput)
{
    FreshFolder("twins");
    MakeFolder("twins/a");
    MakeFolder("twins/b");
    WriteWholeFile("twins/a/movie.swf", MakeUncompressedMovie(10, 3000));
    WriteWholeFile("twins/b/movie.swf", MakeUncompressedMovie(9, 5000));
    std::vector<std::string> words = {"save", "twins/a/movie.swf", "twins/b/movie.swf",
                                      "--movie", "compress", "--force", "--out-dir",
                                      FreshFolder("twins-out")};
    CliResult result = RunCli(words);
    EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
    EXPECT_TRUE(Contains(result.err, "already written by another input")) << result.err;
    Bytes written = ReadWholeFile("twins-out/movie.swf");
    ASSERT_GT(written.size(), 8u);
    EXPECT_EQ(10, written[3]);  // the first input's, not replaced by the second
}

// Several jobs at once: every message still comes in the order of the
// inputs, and every output is the one a single job writes.
TEST(CliBatch, JobsKeepTheMessagesInInputOrder)
{
    FreshFolder("jobs");
    std::vector<std::string> words = {"save", "--movie", "compress", "--jobs", "3",
                                      "--threads", "1", "--out-dir", FreshFolder("jobs-out")};
    std::string expected;
    for (int i = 0; i < 12; i++) {
        std::string name = "jobs/movie" + std::to_string(i) + ".swf";
        words.push_back(name);
        if (i % 3 == 1) {  // damaged, after its neighbours' work has begun
            WriteWholeFile(name, MakeMovie("CWS", 10, 5000, PatternBytes(300, i, false)));
            expected += name + "\n";
        } else if (i % 3 == 2) {
            expected += name + "\n";  // missing
        } else {
            WriteWholeFile(name, MakeUncompressedMovie(10, 200000 + 1000 * i));
        }
    }
    CliResult result = RunCli(words);
    EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
    std::string named;
    for (size_t start = 0; start < result.err.size();) {
        size_t end = result.err.find('\n', start);
        std::string line = result.err.substr(start, end - start);
        size_t from = line.find("jobs/");
        named += line.substr(from, line.find(':', from) - from) + "\n";
        start = end + 1;
    }
    EXPECT_EQ(expected, named) << result.err;
    for (int i = 0; i < 12; i += 3) {
        Bytes compressed = ReadWholeFile("jobs-out/movie" + std::to_string(i) + ".swf");
        ASSERT_GT(compressed.size(), 8u);
        EXPECT_EQ('C', compressed[0]);
    }
}

// More files than the jobs and their placing threads hold at once, and
// than a run keeps records of at once: each is placed once, whole, and no
// temporary file is left behind; an output claimed in the first 1,024
// inputs stays claimed after them.
TEST(CliBatch, EveryFileOfALongBatchIsPlaced)
{
    FreshFolder("many");
    MakeFolder("many/again");
    std::vector<std::string> words = {"save", "--movie", "compress", "--jobs", "2",
                                      "--out-dir", FreshFolder("many-out")};
    const int count = 1100;
    for (int i = 0; i < count; i++) {
        words.push_back("many/movie" + std::to_string(i) + ".swf");
        WriteWholeFile(words.back(), MakeUncompressedMovie(10, 100 + 37 * (i % 40)));
    }
    words.push_back("many/again/movie3.swf");
    WriteWholeFile(words.back(), MakeUncompressedMovie(10, 50));
    CliResult result = RunCli(words);
    EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
    EXPECT_TRUE(Contains(result.err, "movie3.swf: was already written")) << result.err;
    EXPECT_EQ((size_t)count, ListFolder("many-out").size());
    for (int i = 0; i < count; i++) {
        Bytes written = ReadWholeFile("many-out/movie" + std::to_string(i) + ".swf");
        ASSERT_GT(written.size(), 8u) << i;
        EXPECT_EQ('C', written[0]) << i;
        EXPECT_EQ(108u + 37 * (i % 40), ReadLe32(&written[4])) << i;
    }
}

// --best makes a zlib stream no larger than the default one, of the same
// movie; it is refused with any other choice of the movie.
TEST(CliSave, BestIsTheSmallestStreamOfTheSameMovie)
{
    FreshFolder("best");
    Bytes movie = MakeMovie("FWS", 12, 0, PatternBytes(3 << 20, 21, true));
    WriteLe32(movie.data() + 4, (uint32_t)movie.size());
    WriteWholeFile("best/in.swf", movie);
    CliResult normal = RunCli({"save", "best/in.swf", "best/normal.swf", "--movie", "compress"});
    CliResult best =
        RunCli({"save", "best/in.swf", "best/best.swf", "--movie", "compress", "--best"});
    ASSERT_EQ(exitDone, normal.code) << normal.err;
    ASSERT_EQ(exitDone, best.code) << best.err;
    Bytes small = ReadWholeFile("best/best.swf");
    EXPECT_LE(small.size(), ReadWholeFile("best/normal.swf").size());
    CliResult back =
        RunCli({"save", "best/best.swf", "best/back.swf", "--movie", "decompress"});
    ASSERT_EQ(exitDone, back.code) << back.err;
    EXPECT_EQ(movie, ReadWholeFile("best/back.swf"));
    CliResult refused = RunCli({"save", "best/in.swf", "best/no.swf", "--movie", "lzma", "--best"});
    EXPECT_EQ(exitUsage, refused.code);
    EXPECT_FALSE(FileExists("best/no.swf"));
}

// A stream that ends short of the declared length is padded with zeros,
// and the command line says how many.
TEST(CliSave, PaddingIsReported)
{
    FreshFolder("padding");
    Bytes body = PatternBytes(1000, 4, true);
    WriteWholeFile("padding/short.swf", MakeMovie("CWS", 9, 1500, ZlibStream(body)));
    std::vector<std::string> words = {"save", "padding/short.swf", "padding/out.swf", "--movie",
                                      "decompress"};
    CliResult result = RunCli(words);
    EXPECT_EQ(exitDone, result.code) << Describe(words, result);
    EXPECT_TRUE(Contains(result.err, "padding/short.swf: warning: the movie's compressed stream "
                                     "ended 492 bytes short"))
        << result.err;
    EXPECT_EQ(Concat(MakeMovie("FWS", 9, 1500, body), Bytes(492, 0)),
              ReadWholeFile("padding/out.swf"));
}

// ---------------------------------------------------------------------------
// Files that cannot be done, each reported on one line naming the file

TEST(CliErrors, EachFailureNamesTheFileAndWhatWentWrong)
{
    FreshFolder("errors");
    Bytes damaged = MakeMovie("CWS", 10, 5000, PatternBytes(900, 3, false));
    WriteWholeFile("errors/damaged.swf", damaged);
    WriteWholeFile("errors/lzma.swf", MakeMovie("ZWS", 13, 5000, PatternBytes(300, 4, false)));
    WriteWholeFile("errors/old.swf", MakeUncompressedMovie(12, 300));
    WriteWholeFile("errors/text.txt", Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteWholeFile("errors/bare.swf", MakeUncompressedMovie(10, 300));
    WriteWholeFile("errors/player.exe", Fixture("player-10.0.exe"));
    MakeFolder("errors/folder");
    const struct {
        std::vector<std::string> words;
        const char* names;
        const char* says;
    } cases[] = {
        {{"save", "errors/damaged.swf", "errors/out", "--movie", "decompress"},
         "errors/damaged.swf", "damaged"},
        {{"save", "errors/lzma.swf", "errors/out", "--movie", "compress"}, "errors/lzma.swf",
         "LZMA stream"},
        {{"save", "errors/old.swf", "errors/out", "--movie", "lzma", "--force"}, "errors/old.swf",
         "movie version 12 cannot be LZMA-compressed"},
        {{"save", "errors/text.txt", "errors/out", "--movie", "compress"}, "errors/text.txt",
         "neither a Flash movie nor a projector"},
        {{"save", "errors/player.exe", "errors/out", "--movie", "compress"}, "errors/player.exe",
         "player program without a movie"},
        {{"save", "errors/bare.swf", "errors/out", "--player", "replace=errors/bare.swf"},
         "errors/bare.swf", "a replacement player must be"},
        {{"save", "errors/bare.swf", "errors/out", "--player", "replace=errors/nothing.exe"},
         "errors/nothing.exe", "no such file"},
        {{"extract-player", "errors/bare.swf", "errors/out"}, "errors/bare.swf",
         "no player program to extract"},
        {{"extract-movie", "errors/player.exe", "errors/out"}, "errors/player.exe",
         "without a movie"},
        {{"extract-movie", "errors", "errors/out"}, "errors", "is a folder"},
        {{"save", "errors/bare.swf", "errors/no-folder/out", "--movie", "compress"},
         "errors/no-folder/out", "cannot create"},
        {{"save", "errors/bare.swf", "errors/folder", "--movie", "compress", "--force"},
         "errors/folder", "is a folder"},
        {{"info", "errors/missing.swf"}, "errors/missing.swf", "no such file"},
    };
    for (const auto& test : cases) {
        CliResult result = RunCli(test.words);
        EXPECT_EQ(exitFailed, result.code) << Describe(test.words, result);
        EXPECT_EQ(1u, CountLines(result.err)) << Describe(test.words, result);
        EXPECT_EQ(0u, result.err.find(std::string("quillaro-cli: ") + test.names + ": "))
            << Describe(test.words, result);
        EXPECT_TRUE(Contains(result.err, test.says)) << Describe(test.words, result);
        EXPECT_FALSE(FileExists("errors/out")) << Describe(test.words, result);
    }
    EXPECT_EQ(damaged, ReadWholeFile("errors/damaged.swf"));
    EXPECT_EQ(7u, ListFolder("errors").size());  // no temporary file left behind
}

// ---------------------------------------------------------------------------
// info

TEST(CliInfo, JsonHasExactlyTheDocumentedKeysAndTypes)
{
    FreshFolder("schema");
    Bytes movie = MakeCompressedMovie(17, PatternBytes(4000, 1, true));
    Bytes player = Fixture("player-11.2.exe");
    Bytes unversioned = Fixture("player.exe");
    WriteWholeFile("schema/movie.swf", movie);
    WriteWholeFile("schema/projector.exe", MakeProjector(player, movie));
    WriteWholeFile("schema/player.exe", player);
    WriteWholeFile("schema/unversioned.exe", unversioned);
    WriteWholeFile("schema/notes.txt", Bytes{'n', 'o', 't', 'e', 's'});
    const std::string movieFacts = "\"CWS\",17,4008," + std::to_string(movie.size());
    const struct {
        const char* file;
        const char* kind;
        std::string values;  // signature to player_version, as JSON text
    } files[] = {
        {"schema/movie.swf", "bare-movie", movieFacts + ",0,\"11.4\",null,null"},
        {"schema/projector.exe", "projector",
         movieFacts + "," + std::to_string(player.size()) + ",\"11.4\",\"11.2\",\"windows\""},
        {"schema/player.exe", "player",
         "null,null,null,0," + std::to_string(player.size()) + ",null,\"11.2\",\"windows\""},
        {"schema/unversioned.exe", "player",
         "null,null,null,0," + std::to_string(unversioned.size()) + ",null,null,\"windows\""},
        {"schema/notes.txt", "none", "null,null,null,0,0,null,null,null"},
    };
    std::vector<std::string> words = {"info", "--json"};
    for (const auto& file : files)
        words.push_back(file.file);
    CliResult result = RunCli(words);
    ASSERT_EQ(exitDone, result.code) << result.err;
    std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(5u, lines.size()) << result.out;
    for (size_t i = 0; i < lines.size(); i++) {
        bool hasMovie = Contains(files[i].kind, "movie") || Contains(files[i].kind, "projector");
        EXPECT_FALSE(InfoJsonValues(lines[i], hasMovie).empty()) << lines[i];
        EXPECT_EQ("{\"file\":" + Quoted(files[i].file) + ",\"kind\":" + Quoted(files[i].kind) +
                      ",\"signature\":",
                  lines[i].substr(0, lines[i].find("\"signature\":") + 12));
        std::string values;
        for (std::string key : {"signature", "version", "declared_length", "movie_size",
                                "player_size", "required_player_version", "player_version",
                                "layout"})
            values += (values.empty() ? "" : ",") + InfoJsonValues(lines[i], hasMovie)[key];
        EXPECT_EQ(files[i].values, values) << lines[i];
    }
}

// What --facts adds: the facts of the movie, a projector's those of its
// movie; null where there is no movie or it does not decode (an error).
TEST(CliInfo, FactsFollowTheMovieAndNullWhereItCannotBeRead)
{
    FreshFolder("facts");
    const Bytes body = {0x78, 0x00, 0x05, 0x5f, 0x00, 0x00, 0x0f, 0xa0, 0x00,  // 550 x 400
                        0x00, 0x18, 0x02, 0x00,                                // 24 a second, 2
                        0x44, 0x11, 0x08, 0, 0, 0,                             // FileAttributes: AS3
                        0x43, 0x02, 0xff, 0x00, 0x80,                          // background
                        0x40, 0x00, 0x00, 0x00};                               // ShowFrame, End
    Bytes movie = MakeCompressedMovie(10, body);
    Bytes player = Fixture("player-11.2.exe");
    WriteWholeFile("facts/movie.swf", movie);
    WriteWholeFile("facts/projector.exe", MakeProjector(player, movie));
    WriteWholeFile("facts/damaged.swf", MakeMovie("CWS", 10, 5000, PatternBytes(900, 3, false)));
    WriteWholeFile("facts/lzma.swf", MakeMovie("ZWS", 13, 5000, PatternBytes(300, 4, false)));
    WriteWholeFile("facts/player.exe", player);
    const std::string facts =
        "\"stage_width\":550,\"stage_height\":400,\"frame_rate\":24,\"frame_count\":2,"
        "\"tags\":4,\"end_tag\":true,\"tag_counts\":{\"0\":1,\"1\":1,\"9\":1,\"69\":1},"
        "\"background\":\"#ff0080\",\"file_attributes\":{\"use_network\":false,\"as3\":true,"
        "\"has_metadata\":false,\"use_gpu\":false,\"use_direct_blit\":false},\"avm\":2,"
        "\"metadata\":null,\"protected\":false,\"debugger\":false}";
    std::string nulls;
    for (const char* key : {"stage_width", "stage_height", "frame_rate", "frame_count", "tags",
                            "end_tag", "tag_counts", "background", "file_attributes", "avm",
                            "metadata", "protected", "debugger"})
        nulls += std::string(nulls.empty() ? "" : ",") + Quoted(key) + ":null";
    nulls += "}";
    const struct {
        const char* file;
        std::string facts;
        const char* error;  // on standard error; null for none
    } files[] = {
        {"facts/movie.swf", facts, nullptr},
        {"facts/projector.exe", facts, nullptr},
        {"facts/damaged.swf", nulls, "damaged"},
        {"facts/lzma.swf", nulls, "damaged"},
        {"facts/player.exe", nulls, nullptr},
    };
    std::vector<std::string> words = {"info", "--facts", "--json"};
    for (const auto& file : files)
        words.push_back(file.file);
    CliResult result = RunCli(words);
    EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
    std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(5u, lines.size()) << result.out;
    EXPECT_EQ(2u, CountLines(result.err)) << result.err;
    for (size_t i = 0; i < lines.size(); i++) {
        // Today's keys come first, as they were.
        std::string todays = lines[i].substr(0, lines[i].find(",\"stage_width\"")) + "}";
        EXPECT_FALSE(InfoJsonValues(todays, !Contains(files[i].file, "player")).empty()) << todays;
        // The identities end the line: the movie's where it decoded, the
        // file's always; one movie bare or in a projector has one.
        size_t hashes = lines[i].find(",\"movie_sha256\"");
        EXPECT_EQ(files[i].facts, lines[i].substr(todays.size(), hashes - todays.size()) + "}")
            << lines[i];
        std::string identities = lines[i].substr(hashes);
        EXPECT_EQ(files[i].facts == nulls, Contains(identities, "\"movie_sha256\":null"));
        EXPECT_EQ(identities.size(), files[i].facts == nulls ? 102u : 164u) << identities;
        if (i == 1) {
            EXPECT_EQ(identities.substr(0, 82),
                      lines[0].substr(lines[0].find(",\"movie_sha256\""), 82));
        }
        std::string named = std::string("quillaro-cli: ") + files[i].file + ": ";
        EXPECT_EQ(files[i].error != nullptr, Contains(result.err, named)) << result.err;
        EXPECT_TRUE(!files[i].error || Contains(result.err, files[i].error)) << result.err;
    }

    // CSV: a header, then the scalar facts, quoted where needed.
    WriteWholeFile("facts/a,b.swf", movie);
    words = {"info", "--facts", "--csv", "facts/a,b.swf", "facts/player.exe"};
    result = RunCli(words);
    EXPECT_EQ(exitDone, result.code) << Describe(words, result);
    EXPECT_EQ("file,kind,signature,version,declared_length,movie_size,player_size,"
              "required_player_version,player_version,layout,stage_width,stage_height,frame_rate,"
              "frame_count,tags,end_tag,background,use_network,as3,has_metadata,use_gpu,"
              "use_direct_blit,avm,protected,debugger,movie_sha256,file_sha256\r\n"
              "\"facts/a,b.swf\",bare-movie,CWS,10," + std::to_string(8 + body.size()) + "," +
                  std::to_string(movie.size()) + ",0,10.0,,,550,400,24,2,4,true,#ff0080,false,"
                  "true,false,false,false,2,false,false,H,H\r\n"
              "facts/player.exe,player,,,,0," + std::to_string(player.size()) +
                  ",,11.2,windows,,,,,,,,,,,,,,,,,H\r\n",
              std::regex_replace(result.out, std::regex("[0-9a-f]{64}"), "H"));
}

#ifndef _WIN32
// File names reach JSON escaped, and bytes that are not UTF-8 are replaced
// rather than passed through into an invalid document.
TEST(CliInfo, JsonEscapesFileNames)
{
    FreshFolder("escape");
    const struct {
        const char* name;
        const char* json;
    } cases[] = {
        {"escape/a \"quoted\" name.swf", "\"escape/a \\\"quoted\\\" name.swf\""},
        {"escape/back\\slash.swf", "\"escape/back\\\\slash.swf\""},
        {"escape/tab\there.swf", "\"escape/tab\\u0009here.swf\""},
        {"escape/caf\xc3\xa9.swf", "\"escape/caf\xc3\xa9.swf\""},
        {"escape/latin\xe9.swf", "\"escape/latin\\ufffd.swf\""},
        {"escape/cut\xe2\x82.swf", "\"escape/cut\\ufffd\\ufffd.swf\""},
        // The edges of each sequence length, valid and just past valid.
        {"escape/\xc2\x80\xdf\xbf.swf", "\"escape/\xc2\x80\xdf\xbf.swf\""},
        {"escape/\xc1\xbf.swf", "\"escape/\\ufffd\\ufffd.swf\""},
        {"escape/\xe0\xa0\x80\xef\xbf\xbf.swf", "\"escape/\xe0\xa0\x80\xef\xbf\xbf.swf\""},
        {"escape/\xe0\x9f\xbf.swf", "\"escape/\\ufffd\\ufffd\\ufffd.swf\""},
        {"escape/\xed\x9f\xbf\xee\x80\x80.swf", "\"escape/\xed\x9f\xbf\xee\x80\x80.swf\""},
        {"escape/\xed\xa0\x80.swf", "\"escape/\\ufffd\\ufffd\\ufffd.swf\""},
        {"escape/\xf0\x90\x80\x80\xf4\x8f\xbf\xbf.swf",
         "\"escape/\xf0\x90\x80\x80\xf4\x8f\xbf\xbf.swf\""},
        {"escape/\xf0\x8f\xbf\xbf.swf", "\"escape/\\ufffd\\ufffd\\ufffd\\ufffd.swf\""},
        {"escape/\xf4\x90\x80\x80.swf", "\"escape/\\ufffd\\ufffd\\ufffd\\ufffd.swf\""},
    };
    for (const auto& test : cases) {
        WriteWholeFile(test.name, MakeUncompressedMovie(8, 100));
        CliResult result = RunCli({"info", "--json", test.name});
        EXPECT_EQ(exitDone, result.code) << result.err;
        EXPECT_EQ(std::string("{\"file\":") + test.json, result.out.substr(0, result.out.find(',')))
            << result.out;
    }
}
#endif

// ---------------------------------------------------------------------------
// The progress bar

// The core's progress reports reach the terminal line as percentages.
TEST(CliProgress, TheCoresProgressReachesTheLine)
{
    FILE* stream = fopen("progress.txt", "w+b");
    ASSERT_TRUE(stream);
    TerminalBar progress;
    StartTerminalBar(&progress, stream, "movie.swf");
    Progress reporter = TerminalBarProgress(&progress);
    ReportProgress(&reporter, 100, 1000);
    ReportProgress(&reporter, 105, 1000);  // the same percentage: not drawn again
    ReportProgress(&reporter, 3, 4);
    EraseTerminalBar(&progress);
    std::string text = ReadStream(stream);
    EXPECT_TRUE(Contains(text, "\rmovie.swf  [###---------------------------]  10%"));
    EXPECT_TRUE(Contains(text, "\rmovie.swf  [######################--------]  75%"));
    EXPECT_EQ(text.find("10%"), text.rfind("10%"));
    EXPECT_EQ('\r', text.back());  // erased at the end
}

// A long name keeps its end, cut before a whole character: a Japanese name
// whose cut would fall inside a character loses all of that character.
TEST(CliProgress, LongNamesAreCutBetweenCharacters)
{
    TerminalBar progress;
    StartTerminalBar(&progress, stdout, "a/\xE3\x83\xA0"
                                     "\xE3\x83\xBC\xE3\x83\xB3\xE3\x83\xA0\xE3\x83\xBC"
                                     "\xE3\x83\xB3\xE3\x83\xA0\xE3\x83\xBC\xE3\x83\xB3"
                                     "\xE3\x83\xA0.swf");
    EXPECT_STREQ(progress.label, "...\xE3\x83\xB3\xE3\x83\xA0\xE3\x83\xBC\xE3\x83\xB3"
                                 "\xE3\x83\xA0\xE3\x83\xBC\xE3\x83\xB3\xE3\x83\xA0.swf");
}

// ---------------------------------------------------------------------------
// Projectors of every platform

// The player of each layout that the build makes.
const struct {
    const char* layout;
    const char* fixture;
} layoutPlayers[] = {
    {"windows", "player-11.2.exe"},
    {"linux-i386", "linux-player-i386"},
    {"linux-x86_64", "linux-player-x86_64"},
};

// Runs a command that must succeed and returns what it wrote to `output`.
Bytes Written(std::vector<std::string> words, const std::string& output)
{
    RemoveFile(output);
    words.push_back("--quiet");
    CliResult result = RunCli(words);
    EXPECT_EQ(exitDone, result.code) << Describe(words, result);
    return FileExists(output) ? ReadWholeFile(output) : Bytes();
}

// Each layout around real movies: info, both extracts and every save mode
// give exactly the bytes a projector of that layout must have; replacing
// the player takes the replacement's layout.
TEST_F(CliCorpus, EveryLayoutRoundTrips)
{
    FreshFolder("layouts");
    int movies = 0;
    for (const ManifestRow& row : rows) {
        if (row.signature != "CWS" || !Converts(row) || row.size > 20000)
            continue;
        if (++movies > 3)
            break;
        SCOPED_TRACE(row.file);
        const std::string dir = "layouts/";
        Bytes movie = ReadWholeFile(CorpusPath(row.file));
        WriteWholeFile(dir + "movie.swf", movie);
        Bytes uncompressed = Written({"save", dir + "movie.swf", dir + "fws.swf", "--movie",
                                      "decompress"}, dir + "fws.swf");
        Bytes recompressed = Written({"save", dir + "movie.swf", dir + "cws.swf", "--movie",
                                      "compress"}, dir + "cws.swf");
        for (const auto& source : layoutPlayers) {
            SCOPED_TRACE(source.layout);
            Bytes player = Fixture(source.fixture);
            const std::string original = dir + source.layout;
            WriteWholeFile(original, MakeLayoutProjector(source.layout, player, movie));

            CliResult info = RunCli({"info", "--json", original});
            std::map<std::string, std::string> json = InfoJsonValues(SplitLines(info.out)[0], true);
            EXPECT_EQ(Quoted("projector"), json["kind"]);
            EXPECT_EQ(Quoted(source.layout), json["layout"]);
            EXPECT_EQ(std::to_string(player.size()), json["player_size"]);
            EXPECT_EQ(std::to_string(movie.size()), json["movie_size"]);

            EXPECT_EQ(player, Written({"extract-player", original, dir + "player"}, dir + "player"));
            EXPECT_EQ(movie, Written({"extract-movie", original, dir + "out"}, dir + "out"));
            const struct {
                std::vector<std::string> options;
                Bytes expected;
            } saves[] = {
                {{"--movie", "decompress"}, MakeLayoutProjector(source.layout, player, uncompressed)},
                {{"--movie", "compress"}, MakeLayoutProjector(source.layout, player, recompressed)},
                {{"--player", "remove"}, movie},
                {{"--player", "replace=" + original},
                 MakeLayoutProjector(source.layout, player, movie)},
            };
            for (const auto& save : saves) {
                std::vector<std::string> words = {"save", original, dir + "out", "--force"};
                words.insert(words.end(), save.options.begin(), save.options.end());
                EXPECT_EQ(save.expected, Written(words, dir + "out")) << Describe(words, {});
            }
            EXPECT_EQ(MakeLayoutProjector(source.layout, player, movie),
                      Written({"save", dir + "movie.swf", dir + "out", "--player",
                               "replace=" + original, "--force"}, dir + "out"));
            // Into every other layout, from its player alone.
            for (const auto& target : layoutPlayers) {
                std::vector<std::string> words = {"save", original, dir + "out", "--force",
                                                  "--player",
                                                  "replace=" + FixturePath(target.fixture)};
                EXPECT_EQ(MakeLayoutProjector(target.layout, Fixture(target.fixture), movie),
                          Written(words, dir + "out")) << target.layout;
            }
        }
    }
    EXPECT_EQ(4, movies);
}

// A .app folder gives its movie and takes a new player, but is never
// written: keeping or extracting its player is refused.
TEST(CliLayouts, AppFolders)
{
    FreshFolder("app");
    Bytes movie = MakeCompressedMovie(13, PatternBytes(3000, 8, true));
    ASSERT_TRUE(MakeAppFolder("app/Game.app", movie,
                              "<plist><dict><key>CFBundleShortVersionString</key>"
                              "<string>32.0.0.465</string></dict></plist>"));
    CliResult info = RunCli({"info", "--json", "app/Game.app"});
    std::map<std::string, std::string> json = InfoJsonValues(SplitLines(info.out)[0], true);
    EXPECT_EQ(Quoted("projector"), json["kind"]) << info.out;
    EXPECT_EQ(Quoted("mac-app"), json["layout"]);
    EXPECT_EQ(Quoted("32.0"), json["player_version"]);
    EXPECT_EQ("0", json["player_size"]);

    EXPECT_EQ(movie, Written({"extract-movie", "app/Game.app", "app/movie.swf"}, "app/movie.swf"));
    EXPECT_EQ(movie, Written({"save", "app/Game.app", "app/out", "--player", "remove"}, "app/out"));
    Bytes linux = Fixture("linux-player-x86_64");
    EXPECT_EQ(MakeLayoutProjector("linux-x86_64", linux, movie),
              Written({"save", "app/Game.app/", "--out-dir", FreshFolder("app-out"), "--player",
                       "replace=" + FixturePath("linux-player-x86_64")}, "app-out/Game"));
    const std::vector<std::string> refused[] = {
        {"save", "app/Game.app", "app/refused", "--movie", "decompress"},
        {"extract-player", "app/Game.app", "app/refused"},
        {"save", "app/movie.swf", "app/refused", "--player", "replace=app/Game.app"},
    };
    for (const auto& words : refused) {
        CliResult result = RunCli(words);
        EXPECT_EQ(exitFailed, result.code) << Describe(words, result);
        EXPECT_TRUE(Contains(result.err, ".app folder")) << Describe(words, result);
        EXPECT_FALSE(FileExists("app/refused"));
    }
}

// Linux players carry no version: a save is never refused for them, and
// says so unless quiet.
TEST(CliLayouts, LinuxPlayersAreNotVersionChecked)
{
    FreshFolder("unchecked");
    WriteWholeFile("unchecked/new.swf", MakeUncompressedMovie(43, 500));
    std::vector<std::string> words = {"save", "unchecked/new.swf", "unchecked/out", "--player",
                                      "replace=" + FixturePath("linux-player-i386")};
    CliResult result = RunCli(words);
    EXPECT_EQ(exitDone, result.code) << Describe(words, result);
    EXPECT_TRUE(Contains(result.err, "unknown and was not checked")) << result.err;
    EXPECT_EQ(1u, CountLines(result.err));
}

// ---------------------------------------------------------------------------
// scan

// One line of scan --json, for comparing.
std::string ScanLine(const std::string& file, uint64_t offset, const char* signature, int version,
                     uint32_t declared, uint64_t stored, bool confirmed)
{
    return "{\"file\":" + Quoted(file) + ",\"offset\":" + std::to_string(offset) +
           ",\"signature\":" + Quoted(signature) + ",\"version\":" + std::to_string(version) +
           ",\"declared_length\":" + std::to_string(declared) + ",\"stored_size\":" +
           std::to_string(stored) + ",\"confirmed\":" + (confirmed ? "true" : "false") + "}";
}

// Movies at odd offsets in noise are found and given back exactly; a
// signature followed by garbage, or a stream cut short, is never confirmed.
TEST(CliScan, FindsEmbeddedMoviesAndConfirmsOnlyRealOnes)
{
    FreshFolder("scan");
    Bytes fws = MakeUncompressedMovie(10, 3000);
    // A real frame header and tags: rectangle, rate, count, ShowFrame, End.
    Bytes tags = {0x00, 0x00, 0x0C, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00};
    Bytes small = MakeMovie("FWS", 9, 8 + (uint32_t)tags.size(), tags);
    Bytes cws = MakeCompressedMovie(17, PatternBytes(20000, 3, true));
    Bytes cut(cws.begin(), cws.begin() + cws.size() / 2);
    Bytes garbageCws = MakeMovie("CWS", 10, 5000, Concat({0x78, 0x9C}, PatternBytes(300, 4, false)));
    Bytes garbageFws = MakeMovie("FWS", 10, 300, PatternBytes(292, 5, false));
    Bytes earlyEnd = MakeMovie("FWS", 9, 8 + (uint32_t)tags.size() + 4, Concat(tags, {1, 2, 3, 4}));
    Bytes noise = PatternBytes(4001, 9, false);
    std::vector<Bytes> pieces = {noise, small, noise, cws, noise, garbageCws, noise, garbageFws,
                                 noise, earlyEnd, noise, cut};
    Bytes file;
    std::vector<uint64_t> offsets;
    for (const Bytes& piece : pieces) {
        offsets.push_back(file.size());
        file = Concat(file, piece);
    }
    WriteWholeFile("scan/noise.bin", file);
    CliResult result = RunCli({"scan", "--json", "scan/noise.bin"});
    ASSERT_EQ(exitDone, result.code) << result.err;
    std::vector<std::string> lines = SplitLines(result.out);
    const std::string name = "scan/noise.bin";
    const std::string expected[] = {
        ScanLine(name, offsets[1], "FWS", 9, (uint32_t)small.size(), small.size(), true),
        ScanLine(name, offsets[3], "CWS", 17, 20008, cws.size(), true),
    };
    for (const std::string& line : expected)
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << result.out;
    EXPECT_EQ(2u, lines.size()) << result.out;  // only what was confirmed
    EXPECT_TRUE(Contains(result.err, "4 candidate(s) not confirmed")) << result.err;
    result = RunCli({"scan", "--json", "--candidates", "scan/noise.bin"});
    lines = SplitLines(result.out);
    size_t confirmed = 0;
    for (const std::string& line : lines)
        confirmed += Contains(line, "\"confirmed\":true");
    EXPECT_EQ(2u, confirmed) << result.out;
    EXPECT_EQ(6u, lines.size()) << result.out;
    EXPECT_EQ("", result.err);

    EXPECT_EQ(cws, Written({"extract-movie", "--at", std::to_string(offsets[3]), name,
                            "scan/cws.swf"}, "scan/cws.swf"));
    const std::vector<std::string> failing[] = {
        {"extract-movie", "--at", std::to_string(offsets[5]), name, "scan/bad.swf"},
        {"extract-movie", "--at", std::to_string(offsets[11]), name, "scan/bad.swf"},
        {"extract-movie", "--at", std::to_string(offsets[3] + 1), name, "scan/bad.swf"},
    };
    for (const auto& words : failing) {
        CliResult refusal = RunCli(words);
        EXPECT_EQ(exitFailed, refusal.code) << Describe(words, refusal);
        EXPECT_TRUE(Contains(refusal.err, "no confirmed movie")) << Describe(words, refusal);
        EXPECT_FALSE(FileExists("scan/bad.swf"));
    }
    CliResult usage = RunCli({"extract-movie", "--at", "12x", name, "scan/bad.swf"});
    EXPECT_EQ(exitUsage, usage.code) << usage.err;

    // A player program that carries a movie among its resources.
    std::string pe = FixturePath("player-with-movie.exe");
    result = RunCli({"scan", "--json", pe});
    lines = SplitLines(result.out);
    ASSERT_EQ(1u, lines.size()) << result.out;
    EXPECT_TRUE(Contains(lines[0], "\"signature\":\"FWS\",\"version\":10,\"declared_length\":22,"
                                   "\"stored_size\":22,\"confirmed\":true")) << lines[0];
    std::string offset = lines[0].substr(lines[0].find("\"offset\":") + 9);
    offset = offset.substr(0, offset.find(','));
    Bytes resource = Written({"extract-movie", "--at", offset, pe, "scan/resource.swf"},
                             "scan/resource.swf");
    Bytes programBytes = Fixture("player-with-movie.exe");
    EXPECT_EQ(Bytes(programBytes.begin() + atol(offset.c_str()),
                    programBytes.begin() + atol(offset.c_str()) + 22), resource);
}

// The job and placing threads: every task is worked once and finished
// once; a task left to place is placed once, by a placing thread when one
// runs and by its own job otherwise, and never named when its flush
// failed; no task is lost when there are far more tasks than jobs.
std::atomic<int> worked{0};
std::atomic<int> placed{0};

void WorkOnTask(const WriteRequest&, Task* task)
{
    worked++;
    task->progressed++;
    task->toPlace = task->input.size() % 2 == 0;
}

void StartTheFlush(const WriteRequest&, Task* task)
{
    EXPECT_TRUE(task->toPlace);
}

// The flush fails for inputs of six letters.
bool FlushTheTask(const WriteRequest&, Task* task)
{
    task->toPlace = false;
    return task->input.size() != 6;
}

bool NameTheTask(const WriteRequest&, Task* task)
{
    EXPECT_NE(6u, task->input.size());
    return true;
}

void FinishTheTasks(const WriteRequest&, Task* const* named, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        placed++;
        named[i]->progressed++;
    }
}

TEST(CliJobs, EveryTaskIsWorkedAndPlacedOnce)
{
    WriteRequest request = {};
    for (size_t jobs : {1, 3, 0}) {  // 0: no thread started, the caller runs them
        std::vector<Task> tasks(501);
        worked = 0;
        placed = 0;
        Jobs run;
        run.request = &request;
        run.work = WorkOnTask;
        run.startFlush = StartTheFlush;
        run.flush = FlushTheTask;
        run.name = NameTheTask;
        run.finish = FinishTheTasks;
        for (size_t i = 0; i < tasks.size(); i++) {
            tasks[i].input = std::string(i % 7 + 1, 'a');
            run.queue.push_back(&tasks[i]);
        }
        std::vector<std::thread> threads;
        EXPECT_FALSE(Failed(StartJobs(&run, jobs, &threads)));
        if (run.jobCount == 0)
            RunJobsHere(&run);
        for (std::thread& thread : threads)
            thread.join();
        int toPlace = 0;
        for (const Task& task : tasks) {
            bool placedOne = task.input.size() % 2 == 0 && task.input.size() != 6;
            toPlace += placedOne;
            EXPECT_TRUE(task.finished.load());
            EXPECT_EQ(placedOne ? 2u : 1u, task.progressed.load()) << jobs;
        }
        EXPECT_EQ((int)tasks.size(), worked.load()) << jobs;
        EXPECT_EQ(toPlace, placed.load()) << jobs;
        EXPECT_EQ(tasks.size(), run.done) << jobs;
    }
}

}  // namespace
