// test_support.h - fixtures shared by the test programs: files on disk,
// synthetic movies and projectors, the real-movie corpus, SHA-256.
#pragma once

#include <cstdio>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// Files, relative to the test's scratch folder or absolute.
Bytes ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);
// Names of the files in a folder, without "." and "..".
std::vector<std::string> ListFolder(const std::string& folder);

// A movie: 3-letter signature, version, declared length, then `body`.
Bytes MakeMovie(const char* signature, uint8_t version, uint32_t declaredLength, const Bytes& body);
// An "FWS" movie of `bodyLength` patterned bytes that declares its length.
Bytes MakeUncompressedMovie(uint8_t version, uint32_t bodyLength);
// The zlib stream of `body` (level 6, as other tools write them).
Bytes ZlibStream(const Bytes& body);
// A "CWS" movie whose stream holds `body` and that declares 8 + body size.
Bytes MakeCompressedMovie(uint8_t version, const Bytes& body);
// Player bytes, movie, trailer with the movie's size.
Bytes MakeProjector(const Bytes& player, const Bytes& movie);
// A projector of a layout as InspectMovie names it: "windows" (as
// MakeProjector), "linux-i386" (player, 32-bit size, magic, movie) or
// "linux-x86_64" (player, 64-bit size, the magic sign-extended, movie).
Bytes MakeLayoutProjector(const std::string& layout, const Bytes& player, const Bytes& movie);
// A NAME.app folder at `path` (its parent must exist) holding `movie` and
// the property list `infoList`. False when the folders cannot be made.
bool MakeAppFolder(const std::string& path, const Bytes& movie, const std::string& infoList);
// `length` bytes starting "MZ", patterned so that a missed byte shows.
Bytes MakePlayerBytes(uint32_t length);
// Deterministic bytes: compressible text when `compressible`, else noise.
Bytes PatternBytes(uint32_t length, uint32_t seed, bool compressible);
Bytes Concat(const Bytes& a, const Bytes& b);

// A MemAlloc copy of `bytes`, as the codecs take them.
unsigned char* ToBlock(const Bytes& bytes);
Bytes FromBlock(const unsigned char* block, uint32_t size);

// The test player program built by the project (starts with "MZ").
std::string FixturePath(const char* name);
// The real-movie corpus: its folder, and whether it is there.
std::string CorpusPath(const std::string& relative);
bool HaveCorpus();

// One file of the corpus as manifest.tsv describes it (fields as written
// there; "-" where a field does not apply).
struct ManifestRow {
    std::string file, signature, version, declaredLength, sha256, fwsSha256;
    uint32_t size;
};
// The rows of manifest.tsv, in its order; empty without the corpus.
std::vector<ManifestRow> ReadManifest();

// A test over the real movies, with the manifest read; skipped when the
// corpus is not there.
class CorpusTest : public ::testing::Test {
protected:
    void SetUp() override;
    std::vector<ManifestRow> rows;
};

std::string Sha256Hex(const Bytes& bytes);

// Writes `bytes` at `offset` in the file at `path`, creating it (and
// leaving a hole, where the file system has them) as needed. False on
// failure.
bool WriteAt(const std::string& path, uint64_t offset, const Bytes& bytes);

// Creates a folder (its parent must exist); true if it exists afterwards.
bool MakeFolder(const std::string& path);

// What was written to the temporary `stream` (tmpfile), which is closed.
std::string ReadStream(FILE* stream);
