// test_support.cpp - fixtures shared by the test programs.
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sstream>
#include <zlib.h>

#include "common/bytes.h"
#include "common/platform.h"

Bytes ReadWholeFile(const std::string& path)
{
    Bytes bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    unsigned char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(file);
    return bytes;
}

void WriteWholeFile(const std::string& path, const Bytes& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool FileExists(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file)
        fclose(file);
    return file != nullptr;
}

void RemoveFile(const std::string& path)
{
    remove(path.c_str());
}

std::vector<std::string> ListFolder(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return names;
    while (struct dirent* entry = readdir(directory)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(directory);
    return names;
}

Bytes MakeMovie(const char* signature, uint8_t version, uint32_t declaredLength, const Bytes& body)
{
    Bytes movie(8 + body.size());
    memcpy(movie.data(), signature, 3);
    movie[3] = version;
    WriteLe32(movie.data() + 4, declaredLength);
    std::copy(body.begin(), body.end(), movie.begin() + 8);
    return movie;
}

Bytes PatternBytes(uint32_t length, uint32_t seed, bool compressible)
{
    Bytes bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < length; i++) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = compressible ? (unsigned char)("DefineShape PlaceObject2 ShowFrame "[i % 35] ^
                                                  ((state & 0x7) == 0 ? 1 : 0))
                                : (unsigned char)state;
    }
    return bytes;
}

Bytes MakeUncompressedMovie(uint8_t version, uint32_t bodyLength)
{
    return MakeMovie("FWS", version, bodyLength + 8, PatternBytes(bodyLength, version, true));
}

Bytes ZlibStream(const Bytes& body)
{
    uLongf length = compressBound((uLong)body.size());
    Bytes stream(length);
    compress2(stream.data(), &length, body.data(), (uLong)body.size(), 6);
    stream.resize(length);
    return stream;
}

Bytes MakeCompressedMovie(uint8_t version, const Bytes& body)
{
    return MakeMovie("CWS", version, (uint32_t)body.size() + 8, ZlibStream(body));
}

Bytes Concat(const Bytes& a, const Bytes& b)
{
    Bytes joined(a.size() + b.size());
    std::copy(a.begin(), a.end(), joined.begin());
    std::copy(b.begin(), b.end(), joined.begin() + (long)a.size());
    return joined;
}

Bytes MakeProjector(const Bytes& player, const Bytes& movie)
{
    Bytes trailer(8);
    WriteLe32(trailer.data(), 0xFA123456);
    WriteLe32(trailer.data() + 4, (uint32_t)movie.size());
    return Concat(Concat(player, movie), trailer);
}

Bytes MakeLayoutProjector(const std::string& layout, const Bytes& player, const Bytes& movie)
{
    uint64_t size = movie.size();
    if (layout == "windows")
        return MakeProjector(player, movie);
    Bytes framing;
    if (layout == "linux-i386") {
        framing.resize(8);
        WriteLe32(framing.data(), (uint32_t)size);
        WriteLe32(framing.data() + 4, 0xFA123456);
    } else {
        framing = {0, 0, 0, 0, 0, 0, 0, 0, 0x56, 0x34, 0x12, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF};
        for (int i = 0; i < 8; i++)
            framing[i] = (unsigned char)(size >> (8 * i));
    }
    return Concat(Concat(player, framing), movie);
}

bool MakeAppFolder(const std::string& path, const Bytes& movie, const std::string& infoList)
{
    bool made = MakeFolder(path) && MakeFolder(path + "/Contents") &&
                MakeFolder(path + "/Contents/Resources");
    if (made) {
        WriteWholeFile(path + "/Contents/Resources/movie.swf", movie);
        WriteWholeFile(path + "/Contents/Info.plist", Bytes(infoList.begin(), infoList.end()));
    }
    return made;
}

Bytes MakePlayerBytes(uint32_t length)
{
    Bytes player = PatternBytes(length, 77, false);
    if (length >= 2) {
        player[0] = 'M';
        player[1] = 'Z';
    }
    return player;
}

unsigned char* ToBlock(const Bytes& bytes)
{
    unsigned char* block = (unsigned char*)MemAlloc(bytes.size() ? bytes.size() : 1);
    if (block && !bytes.empty())
        memcpy(block, bytes.data(), bytes.size());
    return block;
}

Bytes FromBlock(const unsigned char* block, uint32_t size)
{
    return block ? Bytes(block, block + size) : Bytes();
}

std::string FixturePath(const char* name)
{
    return std::string(QUILLARO_FIXTURE_DIR) + "/" + name;
}

std::string CorpusPath(const std::string& relative)
{
    return std::string(QUILLARO_CORPUS_DIR) + "/" + relative;
}

bool HaveCorpus()
{
    return FileExists(CorpusPath("manifest.tsv"));
}

std::vector<ManifestRow> ReadManifest()
{
    std::vector<ManifestRow> rows;
    Bytes text = ReadWholeFile(CorpusPath("manifest.tsv"));
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string line;
    std::getline(lines, line);  // column names
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            fields.push_back(cell);
        if (fields.size() < 11)
            continue;
        rows.push_back({fields[0], fields[2], fields[3], fields[4], fields[9], fields[10],
                        (uint32_t)strtoul(fields[1].c_str(), nullptr, 10)});
    }
    return rows;
}

// SHA-256 (FIPS 180-4), enough to compare files with the corpus manifest.
namespace {
const uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

uint32_t Rotate(uint32_t value, int bits) { return value >> bits | value << (32 - bits); }

void HashBlock(uint32_t state[8], const unsigned char* block)
{
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
        w[i] = (uint32_t)block[4 * i] << 24 | (uint32_t)block[4 * i + 1] << 16 |
               (uint32_t)block[4 * i + 2] << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; i++) {
        uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[8];
    memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; i++) {
        uint32_t s1 = Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25);
        uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        uint32_t t1 = v[7] + s1 + choice + roundConstants[i] + w[i];
        uint32_t s0 = Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22);
        uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + s0 + majority;
    }
    for (int i = 0; i < 8; i++)
        state[i] += v[i];
}
}  // namespace

std::string Sha256Hex(const Bytes& bytes)
{
    uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes padded = bytes;
    uint64_t bits = (uint64_t)bytes.size() * 8;
    padded.push_back(0x80);
    while (padded.size() % 64 != 56)
        padded.push_back(0);
    for (int i = 7; i >= 0; i--)
        padded.push_back((unsigned char)(bits >> (8 * i)));
    for (size_t offset = 0; offset < padded.size(); offset += 64)
        HashBlock(state, padded.data() + offset);
    std::string hex;
    char digits[9];
    for (uint32_t word : state) {
        snprintf(digits, sizeof digits, "%08x", word);
        hex += digits;
    }
    return hex;
}

bool WriteAt(const std::string& path, uint64_t offset, const Bytes& bytes)
{
    FILE* file = fopen(path.c_str(), "r+b");
    if (!file)
        file = fopen(path.c_str(), "w+b");
    if (!file)
        return false;
#ifdef _WIN32
    bool positioned = _fseeki64(file, (long long)offset, SEEK_SET) == 0;
#else
    bool positioned = fseeko(file, (off_t)offset, SEEK_SET) == 0;
#endif
    bool written = positioned && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

bool MakeFolder(const std::string& path)
{
#ifdef _WIN32
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0777);
#endif
    DIR* directory = opendir(path.c_str());
    if (directory)
        closedir(directory);
    return directory != nullptr;
}

void CorpusTest::SetUp()
{
    if (!HaveCorpus())
        GTEST_SKIP() << "the movie corpus is not at " << CorpusPath("");
    rows = ReadManifest();
    ASSERT_GT(rows.size(), 150u);
}

std::string ReadStream(FILE* stream)
{
    std::string text;
    fflush(stream);
    rewind(stream);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, stream)) > 0)
        text.append(chunk, got);
    fclose(stream);
    return text;
}

namespace {
// The tests make and remove folders by relative names ("app", "out",
// ...): run anywhere else than the scratch folder ctest gives them, they
// could delete a source tree. Every test is skipped then.
class ScratchFolderGuard : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(".quillaro-test-work"))
            << "run the tests with ctest, or from their folder build/<configuration>/tests/"
               "work/<program>: they create and delete files where they start";
    }
};

::testing::Environment* const scratchFolderGuard =
    ::testing::AddGlobalTestEnvironment(new ScratchFolderGuard);
}  // namespace
