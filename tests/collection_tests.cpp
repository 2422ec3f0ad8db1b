// collection_tests.cpp - the identity of a movie's uncompressed form, and
// movies inside collections: archives written here (libarchive's writer,
// WARC by hand) from the corpus, each entry against the same bytes as a
// file, with entries held in memory and read again from the archive.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <map>

#include "common/sha256.h"
#include "movie/archive_entries.h"
#include "movie/movie_file.h"
#include "rebuild/collection_walk.h"
#include "rebuild/movie_identity.h"
#include "rebuild/rebuild.h"
#include "test_support.h"

namespace {

std::string Hex(const unsigned char digest[sha256Size])
{
    char text[sha256HexSize];
    FormatSha256Hex(digest, text);
    return text;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

uint32_t ReadLe16Bytes(const Bytes& bytes, size_t at) { return bytes[at] | bytes[at + 1] << 8; }

// What inspection, identity and facts say of one file's bytes, as text,
// so that an entry and a file compare in one line and differ readably.
std::string Describe(const MovieInfo& location, bool hasMovieSha256,
                     const unsigned char* movieSha256, FailureKind error, const FactsReader* facts)
{
    std::string text = "layout " + std::to_string((int)location.layout) + " header " +
                       std::to_string(location.header) + " length " +
                       std::to_string(location.fileLength) + " player " +
                       std::to_string(location.playerSize) + " movie " +
                       std::to_string(location.movieOffset) + "+" +
                       std::to_string(location.movieSize) + " error " +
                       std::to_string((int)error) + " sha " +
                       (hasMovieSha256 ? Hex(movieSha256) : "null");
    if (facts)
        text += " tags " + std::to_string(facts->facts.tagCount) + " frames " +
                std::to_string(facts->facts.frameCount) + " stage " +
                std::to_string(facts->facts.stageWidthTwips) + " metadata " +
                std::to_string(facts->facts.metadata.size());
    return text;
}

// The same bytes given as a file.
std::string DescribeFile(const Bytes& bytes, std::string* fileSha256)
{
    WriteWholeFile("as-file.bin", bytes);
    MovieInfo location;
    InspectMovie("as-file.bin", &location);
    FactsReader reader;
    unsigned char digest[sha256Size];
    FailureKind error;
    error = ReadMovieFileIdentity("as-file.bin", location, &reader, digest).kind;
    bool hashed = error == FailureKind::None;
    unsigned char fileDigest[sha256Size];
    EXPECT_TRUE(HashFileBytes("as-file.bin", fileDigest));
    *fileSha256 = Hex(fileDigest);
    return Describe(location, hashed, digest, error, hashed ? &reader : nullptr);
}

std::string DescribeEntry(const CollectionEntry& entry)
{
    return Describe(entry.location, entry.hasMovieSha256, entry.movieSha256, entry.movieError,
                    entry.facts);
}

std::string Sha256OfFile(const std::string& path)
{
    unsigned char digest[sha256Size];
    return HashFileBytes(path.c_str(), digest) ? Hex(digest) : "unreadable";
}

// ---- Writing archives --------------------------------------------------

struct Member {
    std::string path;
    Bytes bytes;
    bool link;  // a symbolic link to "target" instead of a file
};

// An archive of `format` (libarchive's name) with `filter` (or none) and
// writer `options` (or none), holding `members`.
Bytes WriteArchive(const char* format, const char* filter, const char* options,
                   const std::vector<Member>& members, const char* passphrase = nullptr)
{
    size_t capacity = 1 << 16;
    for (const Member& member : members)
        capacity += member.bytes.size() * 2 + 1024;
    Bytes out(capacity);
    size_t used = 0;
    struct archive* archive = archive_write_new();
    EXPECT_EQ(archive_write_set_format_by_name(archive, format), ARCHIVE_OK);
    if (filter) {
        EXPECT_EQ(archive_write_add_filter_by_name(archive, filter), ARCHIVE_OK);
    }
    if (options) {
        EXPECT_EQ(archive_write_set_options(archive, options), ARCHIVE_OK)
            << archive_error_string(archive);
    }
    if (passphrase)
        archive_write_set_passphrase(archive, passphrase);
    EXPECT_EQ(archive_write_open_memory(archive, out.data(), out.size(), &used), ARCHIVE_OK);
    for (const Member& member : members) {
        struct archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.path.c_str());
        archive_entry_set_filetype(entry, member.link ? AE_IFLNK : AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, member.link ? 0 : (la_int64_t)member.bytes.size());
        if (member.link)
            archive_entry_set_symlink(entry, "target");
        EXPECT_EQ(archive_write_header(archive, entry), ARCHIVE_OK) << archive_error_string(archive);
        if (!member.link)
            archive_write_data(archive, member.bytes.data(), member.bytes.size());
        archive_entry_free(entry);
    }
    EXPECT_EQ(archive_write_close(archive), ARCHIVE_OK) << archive_error_string(archive);
    archive_write_free(archive);
    out.resize(used);
    return out;
}

// One WARC record of `type` for `uri` with `content`.
Bytes WarcRecord(const std::string& type, const std::string& uri, const Bytes& content)
{
    std::string head = "WARC/1.0\r\nWARC-Type: " + type + "\r\nWARC-Target-URI: " + uri +
                       "\r\nWARC-Date: 2014-03-01T10:00:00Z\r\nWARC-Record-ID: <urn:uuid:" +
                       std::to_string(content.size()) + ">\r\nContent-Type: application/http; "
                       "msgtype=response\r\nContent-Length: " + std::to_string(content.size()) +
                       "\r\n\r\n";
    return Concat(Concat(Text(head), content), Text("\r\n\r\n"));
}

// An HTTP response carrying `body`, whole or in chunks of 1000 bytes.
Bytes HttpResponse(const Bytes& body, bool chunked)
{
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n";
    if (!chunked)
        return Concat(Text(head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n"),
                      body);
    Bytes message = Text(head + "Transfer-Encoding: chunked\r\n\r\n");
    for (size_t at = 0; at < body.size(); at += 1000) {
        size_t length = std::min<size_t>(1000, body.size() - at);
        char size[32];
        snprintf(size, sizeof size, "%zx;name=value\r\n", length);
        message = Concat(message, Text(size));
        message = Concat(message, Bytes(body.begin() + at, body.begin() + at + length));
        message = Concat(message, Text("\r\n"));
    }
    return Concat(message, Text("0\r\nX-Trailer: yes\r\n\r\n"));
}

// ---- Walking -------------------------------------------------------------

struct Found {
    std::string name;
    bool failed;
    std::string error;
    std::string description;
    std::string fileSha256;
};

bool Collect(const CollectionEntry& entry, void* context)
{
    Found found = {entry.name, entry.failed, entry.error, "", ""};
    if (!entry.failed) {
        found.description = DescribeEntry(entry);
        found.fileSha256 = entry.hasFileSha256 ? Hex(entry.fileSha256) : "null";
    }
    ((std::vector<Found>*)context)->push_back(found);
    return true;
}

std::vector<Found> WalkFile(const std::string& path, uint64_t memoryLimit, bool* walked,
                            std::string* error)
{
    std::vector<Found> found;
    CollectionOptions options = {true, memoryLimit, ""};
    *walked = WalkCollection(path.c_str(), path, options, Collect, &found, error);
    return found;
}

// The movies the archives hold: a real one of each compression, the
// first also as the other two and in projectors of every layout.
class Collections : public CorpusTest {
protected:
    void SetUp() override
    {
        CorpusTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        const char* movies[] = {"swf/gnash-movies.all-zoomhenge.swf", "swf/jpexs-as2-as2.swf",
                                "swf/ruffle-avm2-away3d_advanced_shallow_water_demo.swf"};
        for (const char* movie : movies)
            files.push_back({movie, ReadWholeFile(CorpusPath(movie)), false});
        const std::string uncompressed = CorpusPath(movies[0]);
        files.push_back({"copies/zlib.swf", Saved(uncompressed, PlayerAction::Keep,
                                                  MovieAction::Compress, ""), false});
        files.push_back({"copies/lzma.swf", Saved(uncompressed, PlayerAction::Keep,
                                                  MovieAction::CompressLzma, ""), false});
        files.push_back({"copies/game.exe", Saved(uncompressed, PlayerAction::AddReplace,
                                                  MovieAction::Compress, "player.exe"), false});
        files.push_back({"copies/game-linux", Saved(uncompressed, PlayerAction::AddReplace,
                                                    MovieAction::CompressLzma,
                                                    "linux-player-x86_64"), false});
        files.push_back({"notes/readme.txt", Text("not a movie\n"), false});
    }

    Bytes Saved(const std::string& movie, PlayerAction player, MovieAction action,
                const char* fixture)
    {
        std::string playerPath = *fixture ? FixturePath(fixture) : "";
        EXPECT_FALSE(Failed(RebuildMovieFile(nullptr, movie.c_str(), "saved.bin",
                                             playerPath.c_str(), MakeRebuildMode(player, action))));
        return ReadWholeFile("saved.bin");
    }

    // Every member of `files` found in `found` under `prefix`, as a file.
    void ExpectSameAsFiles(const std::vector<Found>& found, const std::string& prefix)
    {
        size_t matched = 0;
        for (const Found& entry : found) {
            for (const Member& member : files) {
                if (entry.name != prefix + member.path)
                    continue;
                matched++;
                EXPECT_FALSE(entry.failed) << entry.name << ": " << entry.error;
                std::string fileSha256;
                EXPECT_EQ(entry.description, DescribeFile(member.bytes, &fileSha256)) << entry.name;
                EXPECT_EQ(entry.fileSha256, fileSha256) << entry.name;
            }
        }
        EXPECT_EQ(matched, files.size()) << prefix;
    }

    std::vector<Member> files;
};

}  // namespace

// The identity is the SHA-256 of the uncompressed form that an
// independent reader recorded for every real movie.
TEST_F(CorpusTest, MovieIdentityIsTheHashOfTheUncompressedForm)
{
    for (const ManifestRow& row : rows) {
        std::string path = CorpusPath(row.file);
        MovieInfo location;
        InspectMovie(path.c_str(), &location);
        if (location.fileLength > (64u << 20))
            continue;  // padding to gigabytes is tested by the facts walk
        FactsReader identityFacts, fileFacts;
        unsigned char digest[sha256Size];
        FailureKind error;
        error = ReadMovieFileIdentity(path.c_str(), location, &identityFacts, digest).kind;
        bool hashed = error == FailureKind::None;
        Failure factsFailure = ReadMovieFileFacts(path.c_str(), location, &fileFacts);
        bool read = !Failed(factsFailure);
        FailureKind factsError = factsFailure.kind;
        EXPECT_EQ(hashed ? Hex(digest) : "-", row.fwsSha256) << row.file;
        EXPECT_EQ(error, factsError) << row.file;
        if (hashed && read) {
            EXPECT_EQ(Describe(location, true, digest, error, &identityFacts),
                      Describe(location, true, digest, error, &fileFacts)) << row.file;
        }
        EXPECT_EQ(Sha256OfFile(path), row.sha256) << row.file;
    }
}

// FWS, CWS and ZWS copies of one movie, bare or in any projector, share
// the identity: the hash of what Save writes with decompress and remove.
TEST_F(Collections, CopiesOfOneMovieShareItsIdentity)
{
    ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, CorpusPath(files[0].path).c_str(), "plain.swf",
                                         "", MakeRebuildMode(PlayerAction::Remove,
                                                             MovieAction::Decompress))));
    std::string expected = Sha256OfFile("plain.swf");
    for (size_t i : {0, 3, 4, 5, 6}) {
        std::string fileSha256;
        std::string description = DescribeFile(files[i].bytes, &fileSha256);
        EXPECT_NE(description.find("sha " + expected), std::string::npos)
            << files[i].path << ": " << description;
    }
    EXPECT_EQ(Sha256OfFile(CorpusPath(files[0].path)), expected);
}

// Every entry of every kind of collection reads as the same bytes given
// as a file, whether held in memory or read again from the archive.
TEST_F(Collections, EntriesReadAsFiles)
{
    Bytes inner = WriteArchive("zip", nullptr, "zip:compression=deflate", files);
    std::vector<Member> outer = files;
    outer.push_back({"nested/inner.zip", inner, false});
    outer.push_back({"link.swf", {}, true});
    Bytes warc;
    for (size_t i = 0; i < files.size(); i++) {
        Bytes response = HttpResponse(files[i].bytes, i % 2 == 1);
        warc = Concat(warc, WarcRecord("response", "http://example.org/" + files[i].path, response));
        warc = Concat(warc, WarcRecord("request", "http://example.org/" + files[i].path,
                                       Text("GET / HTTP/1.1\r\n\r\n")));
    }
    struct Case {
        const char* name;
        Bytes bytes;
        bool nested;
    } cases[] = {
        {"stored.zip", WriteArchive("zip", nullptr, "zip:compression=store", outer), true},
        {"deflated.zip", WriteArchive("zip", nullptr, "zip:compression=deflate", outer), true},
        {"movies.tar.gz", WriteArchive("paxr", "gzip", nullptr, outer), true},
        {"movies.tar.xz", WriteArchive("ustar", "xz", nullptr, files), false},
        {"movies.7z", WriteArchive("7zip", nullptr, nullptr, outer), true},
        {"crawl.warc", warc, false},
        {"crawl.warc.gz", WriteArchive("raw", "gzip", nullptr, {{"crawl.warc", warc, false}}), false},
    };
    for (const Case& test : cases) {
        WriteWholeFile(test.name, test.bytes);
        for (uint64_t memoryLimit : {(uint64_t)0, (uint64_t)1}) {
            SCOPED_TRACE(std::string(test.name) + " memory limit " + std::to_string(memoryLimit));
            bool walked;
            std::string error;
            std::vector<Found> found = WalkFile(test.name, memoryLimit, &walked, &error);
            EXPECT_TRUE(walked) << error;
            const char* prefix = strstr(test.name, ".warc") ? "!/http://example.org/" : "!/";
            ExpectSameAsFiles(found, test.name + std::string(prefix));
            if (test.nested)
                ExpectSameAsFiles(found, test.name + std::string("!/nested/inner.zip!/"));
            EXPECT_EQ(found.size(), files.size() * (test.nested ? 2 : 1));
        }
    }
}

// Damage, encryption and archives that cannot be read fail their own
// entries; the entries around them are still read.
TEST_F(Collections, DamageFailsOnlyItsOwnEntries)
{
    std::vector<Member> pair = {files[0], files[1]};
    // The cut comes well inside the second, incompressible movie.
    std::vector<Member> cutPair = {files[1], files[2]};
    Bytes secret = WriteArchive("zip", nullptr, "zip:encryption=zipcrypt", {files[1]}, "secret");
    Bytes damaged = WriteArchive("zip", nullptr, "zip:compression=deflate", pair);
    // A byte in the middle of the first entry's deflated data.
    uint32_t dataStart = 30 + ReadLe16Bytes(damaged, 26) + ReadLe16Bytes(damaged, 28);
    damaged[dataStart + 500] ^= 0x55;
    Bytes cut = WriteArchive("paxr", "gzip", nullptr, cutPair);
    cut.resize(cut.size() * 3 / 4);
    std::vector<Member> outer = {{"secret.zip", secret, false}, files[2],
                                 {"damaged.zip", damaged, false}, {"cut.tar.gz", cut, false},
                                 files[3]};
    WriteWholeFile("outer.zip", WriteArchive("zip", nullptr, "zip:compression=store", outer));
    for (uint64_t memoryLimit : {(uint64_t)0, (uint64_t)1}) {
        bool walked;
        std::string error;
        std::vector<Found> found = WalkFile("outer.zip", memoryLimit, &walked, &error);
        EXPECT_TRUE(walked) << error;
        std::map<std::string, std::string> failures;  // name to error, "" when read
        for (const Found& entry : found)
            failures[entry.name] = entry.failed ? "failed: " + entry.error : "";
        for (const char* good : {"outer.zip!/copies/zlib.swf",
                                 "outer.zip!/swf/ruffle-avm2-away3d_advanced_shallow_water_demo.swf",
                                 "outer.zip!/damaged.zip!/swf/jpexs-as2-as2.swf",
                                 "outer.zip!/cut.tar.gz!/swf/jpexs-as2-as2.swf"})
            EXPECT_EQ(failures.count(good) ? failures[good] : "missing", "") << good;
        for (const char* bad : {"outer.zip!/secret.zip!/swf/jpexs-as2-as2.swf",
                                "outer.zip!/damaged.zip!/swf/gnash-movies.all-zoomhenge.swf"})
            EXPECT_NE(failures[bad].find("failed: "), std::string::npos) << bad;
        // The cut archive fails at its second entry, or as a whole after
        // its first: either way with libarchive's reason.
        std::string cutSecond =
            failures["outer.zip!/cut.tar.gz!/swf/ruffle-avm2-away3d_advanced_shallow_water_demo.swf"];
        std::string cutWhole = failures["outer.zip!/cut.tar.gz"];
        EXPECT_NE((cutSecond + cutWhole).find("failed: "), std::string::npos);
        EXPECT_EQ(failures.size(), 8u);
    }
}

// A name from an archive never chooses a folder.
TEST(EntryNames, OnlyASafeLastComponentNamesAFile)
{
    const struct {
        const char* path;
        const char* name;  // null: refused
    } cases[] = {
        {"games/level1/game.swf", "game.swf"}, {"game.swf", "game.swf"},
        {"dir\\sub\\game.exe", "game.exe"},    {"./game.swf", "game.swf"},
        {"../game.swf", nullptr},              {"games/../../etc/passwd", nullptr},
        {"/etc/passwd", nullptr},              {"\\windows\\win.ini", nullptr},
        {"C:game.swf", nullptr},               {"c:\\game.swf", nullptr},
        {"games/", nullptr},                   {"games/..", nullptr},
        {"games/.", nullptr},                  {"", nullptr},
        {"a/NUL.swf", nullptr},                {"a/com1", nullptr},
        {"a/game.swf:stream", nullptr},        {"a/game.swf.", nullptr},
        {"a/bad\nname.swf", nullptr},          {"a/console.swf", "console.swf"},
    };
    for (const auto& test : cases) {
        std::string name;
        bool safe = SafeEntryFileName(test.path, &name);
        EXPECT_EQ(safe, test.name != nullptr) << test.path;
        EXPECT_EQ(name, test.name ? test.name : "") << test.path;
    }
}

// Only archives are collections: a movie, a player program or text never
// counts, and the movie beside a projector's player is not taken for one.
TEST_F(Collections, OnlyArchivesAreCollections)
{
    WriteWholeFile("pack.zip", WriteArchive("zip", nullptr, nullptr, {files[0]}));
    WriteWholeFile("game.exe", files[5].bytes);
    WriteWholeFile("readme.txt", files.back().bytes);
    EXPECT_TRUE(IsCollectionFile("pack.zip"));
    for (const std::string& path : {CorpusPath(files[0].path), CorpusPath(files[1].path),
                                    std::string("game.exe"), std::string("readme.txt"),
                                    FixturePath("player.exe")})
        EXPECT_FALSE(IsCollectionFile(path.c_str())) << path;
}
