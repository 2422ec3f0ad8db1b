// bench.cpp - times the movie codecs and the rebuild against plain zlib,
// measures their peak memory, and counts the bytes inspection reads.
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "rebuild/rebuild.h"

namespace {

typedef std::chrono::steady_clock Clock;

const uint32_t mebibyte = 1024 * 1024;
const uint32_t kibibyte = 1024;
const uint32_t movieVersion = 10;
const uint32_t playerStubSize = 64 * 1024;
const uint64_t largeProjectorSize = 3ull << 30;
const uint32_t largeMovieSize = 1024;
const uint64_t inspectionReadLimit = 20;
const double speedLimit = 1.05;  // codec time over plain zlib time
// Quick operations are run until their runs add up to this many seconds
// (within the cap), since one run of a fraction of a second varies by
// several percent between forked children.
const double leastMeasuredSeconds = 5.0;
const int mostRuns = 30;
const int deflateMemoryLevel = 9;  // as the codec sets it

// Files of the scratch folder, all removed at the end.
const char movieFile[] = "movie.swf";                  // the synthetic FWS movie
const char zlibDeflatedFile[] = "body.zlib";           // its body deflated by plain zlib
const char zlibInflatedFile[] = "body.inflated";       // that stream inflated again
const char compressedFile[] = "movie-cws.swf";         // CompressMovie's output
const char decompressedFile[] = "movie-fws.swf";       // DecompressMovie's output of that
const char projectorFile[] = "projector.exe";          // fake player, the CWS movie, trailer
const char rebuiltDecompressedFile[] = "rebuilt-fws.exe";
const char rebuiltCompressedFile[] = "rebuilt-cws.exe";
const char largeProjectorFile[] = "large.exe";         // 3 GiB, almost all hole
const char* const scratchFiles[] = {
    movieFile,         zlibDeflatedFile,        zlibInflatedFile,
    compressedFile,    decompressedFile,        projectorFile,
    rebuiltDecompressedFile, rebuiltCompressedFile, largeProjectorFile,
};

// ---- The synthetic movie ----

// splitmix64 from a fixed seed: the same movie on every run and machine.
struct Random {
    uint64_t state;
};

uint64_t NextRandom(Random* random)
{
    uint64_t z = (random->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t RandomBelow(Random* random, uint32_t limit)
{
    return (uint32_t)(NextRandom(random) % limit);
}

// Bytes being laid down; those past `capacity` are dropped, which cuts
// the movie's last tag short.
struct ByteWriter {
    unsigned char* data;
    size_t capacity;
    size_t used;
};

void PutByte(ByteWriter* writer, uint32_t value)
{
    if (writer->used < writer->capacity)
        writer->data[writer->used++] = (unsigned char)value;
}

void PutLe16(ByteWriter* writer, uint32_t value)
{
    PutByte(writer, value);
    PutByte(writer, value >> 8);
}

void PutLe32(ByteWriter* writer, uint32_t value)
{
    PutLe16(writer, value);
    PutLe16(writer, value >> 16);
}

void PutChars(ByteWriter* writer, const char* text)
{
    while (*text)
        PutByte(writer, (unsigned char)*text++);
}

void PutText(ByteWriter* writer, const char* text)
{
    PutChars(writer, text);
    PutByte(writer, 0);
}

// What the tags refer to. Positions drift and ids count up from one tag
// to the next, which gives the data the near-repeats of a real timeline.
struct Scene {
    uint32_t nextId;
    int32_t x;
    int32_t y;
};

uint32_t NewId(Scene* scene)
{
    uint32_t id = scene->nextId;
    scene->nextId = id == 60000 ? 1 : id + 1;
    return id;
}

const char* const words[] = {
    "_root",     "this",      "play",   "stop",    "gotoAndPlay", "gotoAndStop", "loadMovie",
    "onRelease", "onPress",   "button", "label",   "score",       "level",       "frame",
    "intro",     "menu",      "_x",     "_y",      "_alpha",      "_visible",    "Welcome",
    "to",        "the",       "game",   "Start",   "Options",     "Credits",     "Loading",
};

const char* RandomWord(Random* random)
{
    return words[RandomBelow(random, sizeof words / sizeof words[0])];
}

// PlaceObject2: depth, character, a translation and now and then a name.
void FillPlaceObject(ByteWriter* record, Random* random, Scene* scene)
{
    bool named = RandomBelow(random, 4) == 0;
    PutByte(record, named ? 0x26 : 0x06);
    PutLe16(record, 1 + RandomBelow(random, 40));
    PutLe16(record, 1 + RandomBelow(random, scene->nextId));
    scene->x += (int32_t)RandomBelow(random, 41) - 20;
    scene->y += (int32_t)RandomBelow(random, 41) - 20;
    PutLe32(record, (uint32_t)scene->x * 20);
    PutLe32(record, (uint32_t)scene->y * 20);
    if (named) {
        char name[32];
        snprintf(name, sizeof name, "%s_%u", RandomWord(random), RandomBelow(random, 100));
        PutText(record, name);
    }
}

// DefineShape: an id, bounds, a fill style and a run of short edges.
void FillShape(ByteWriter* record, Random* random, Scene* scene)
{
    PutLe16(record, NewId(scene));
    PutLe32(record, 0);
    PutLe32(record, 20 * (10 + RandomBelow(random, 500)));
    PutLe32(record, 0);
    PutLe32(record, 20 * (10 + RandomBelow(random, 400)));
    PutByte(record, RandomBelow(random, 4));
    uint32_t edges = 4 + RandomBelow(random, 60);
    for (uint32_t i = 0; i < edges; i++) {
        PutByte(record, 0xF0 | RandomBelow(random, 2));
        PutLe16(record, 20 * RandomBelow(random, 9));
        PutLe16(record, 20 * RandomBelow(random, 9));
    }
}

// DefineText: a font, a height, a colour from a small palette and a line
// of words.
void FillText(ByteWriter* record, Random* random, Scene* scene)
{
    static const uint32_t colours[] = {0x000000, 0xFFFFFF, 0x336699, 0xCC0000};
    PutLe16(record, NewId(scene));
    PutLe16(record, 1 + RandomBelow(random, 3));
    PutLe16(record, 240 + 40 * RandomBelow(random, 4));
    uint32_t colour = colours[RandomBelow(random, 4)];
    PutByte(record, colour >> 16);
    PutByte(record, colour >> 8);
    PutByte(record, colour);
    uint32_t count = 3 + RandomBelow(random, 10);
    for (uint32_t i = 0; i < count; i++) {
        PutChars(record, RandomWord(random));
        PutByte(record, i + 1 < count ? ' ' : 0);
    }
}

// DoAction: pushes of names, each followed by the action that uses it.
void FillAction(ByteWriter* record, Random* random, Scene*)
{
    static const unsigned char users[] = {0x1C, 0x3D, 0x52, 0x4E};
    uint32_t count = 2 + RandomBelow(random, 6);
    for (uint32_t i = 0; i < count; i++) {
        const char* word = RandomWord(random);
        PutByte(record, 0x96);
        PutLe16(record, (uint32_t)strlen(word) + 2);
        PutByte(record, 0);
        PutText(record, word);
        PutByte(record, users[RandomBelow(random, 4)]);
    }
    PutByte(record, 0);
}

// The small tags of a timeline; a null filler gives an empty tag.
struct TagKind {
    uint32_t code;
    void (*fill)(ByteWriter* record, Random* random, Scene* scene);
};

const TagKind tagKinds[] = {
    {1, nullptr},           // ShowFrame
    {2, FillShape},         // DefineShape
    {11, FillText},         // DefineText
    {12, FillAction},       // DoAction
    {26, FillPlaceObject},  // PlaceObject2
};

const uint32_t tagCodeJpeg = 21;  // DefineBitsJPEG2
const uint32_t tagCodeShift = 6;
const uint32_t shortTagLimit = 63;

void PutTagHeader(ByteWriter* movie, uint32_t code, uint32_t length)
{
    if (length < shortTagLimit) {
        PutLe16(movie, code << tagCodeShift | length);
    } else {
        PutLe16(movie, code << tagCodeShift | shortTagLimit);
        PutLe32(movie, length);
    }
}

void PutSmallTag(ByteWriter* movie, Random* random, Scene* scene)
{
    const TagKind& kind = tagKinds[RandomBelow(random, sizeof tagKinds / sizeof tagKinds[0])];
    unsigned char content[512];
    ByteWriter record = {content, sizeof content, 0};
    if (kind.fill)
        kind.fill(&record, random, scene);
    PutTagHeader(movie, kind.code, (uint32_t)record.used);
    for (size_t i = 0; i < record.used; i++)
        PutByte(movie, content[i]);
}

// A run of small tags, 4 to 64 KiB, as between two bitmaps of a movie.
void PutTagRun(ByteWriter* movie, Random* random, Scene* scene)
{
    size_t end = movie->used + (4 + RandomBelow(random, 60)) * kibibyte;
    while (movie->used < end && movie->used < movie->capacity)
        PutSmallTag(movie, random, scene);
}

// A bitmap of 16 to 256 KiB: an id, the JPEG start marker and entropy-
// coded data, which no compressor shrinks.
void PutBitmap(ByteWriter* movie, Random* random, Scene* scene)
{
    uint32_t length = (16 + RandomBelow(random, 240)) * kibibyte;
    PutTagHeader(movie, tagCodeJpeg, length);
    PutLe16(movie, NewId(scene));
    PutByte(movie, 0xFF);
    PutByte(movie, 0xD8);
    for (uint32_t i = 4; i < length; i += 8) {
        uint64_t bits = NextRandom(random);
        for (uint32_t b = 0; b < 8 && i + b < length; b++)
            PutByte(movie, (uint32_t)(bits >> 8 * b));
    }
}

// Bytes of the body by kind.
struct MovieMix {
    size_t tagBytes;
    size_t bitmapBytes;
};

// Fills the body with runs of small tags and bitmaps, so that about 60% of
// its bytes compress well and 40% not at all.
MovieMix FillBody(ByteWriter* body)
{
    Random random = {0x51554C4C41524F31ull};
    Scene scene = {1, 0, 0};
    MovieMix mix = {0, 0};
    while (body->used < body->capacity) {
        size_t start = body->used;
        bool bitmap = mix.bitmapBytes * 5 < body->used * 2;
        if (bitmap)
            PutBitmap(body, &random, &scene);
        else
            PutTagRun(body, &random, &scene);
        (bitmap ? mix.bitmapBytes : mix.tagBytes) += body->used - start;
    }
    return mix;
}

// A new FWS movie of `size` bytes (malloc; the caller frees it), or null.
unsigned char* MakeMovie(uint32_t size, MovieMix* mix)
{
    unsigned char* movie = (unsigned char*)malloc(size);
    if (!movie)
        return nullptr;
    WriteLe32(movie, signatureUncompressed | movieVersion << 24);
    WriteLe32(movie + 4, size);
    ByteWriter body = {movie + movieHeaderSize, size - movieHeaderSize, 0};
    *mix = FillBody(&body);
    return movie;
}

// ---- Files ----

// What a run of the benchmark works on. The sizes are filled in as the
// stages that make the files finish.
struct Bench {
    std::string folder;
    int runs;
    uint32_t movieSize;         // the synthetic FWS movie, header included
    uint32_t zlibDeflatedSize;  // plain zlib's stream of its body
    uint32_t compressedSize;    // the CWS movie CompressMovie made of it
};

std::string PathOf(const Bench& bench, const char* name)
{
    return bench.folder + "/" + name;
}

bool WriteAll(int descriptor, const void* data, size_t size)
{
    const unsigned char* bytes = (const unsigned char*)data;
    while (size > 0) {
        ssize_t written = write(descriptor, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= (size_t)written;
    }
    return true;
}

bool ReadAll(int descriptor, void* data, size_t size)
{
    unsigned char* bytes = (unsigned char*)data;
    while (size > 0) {
        ssize_t got = read(descriptor, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= (size_t)got;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size)
{
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return false;
    bool written = WriteAll(descriptor, data, size);
    return close(descriptor) == 0 && written;
}

// The size of a file, or UINT64_MAX when it has none.
uint64_t FileSize(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? (uint64_t)status.st_size : UINT64_MAX;
}

bool ReadAt(int descriptor, uint64_t offset, unsigned char* buffer, size_t count)
{
    return pread(descriptor, buffer, count, (off_t)offset) == (ssize_t)count;
}

// True when `length` bytes of file A from `offsetA` equal those of file B
// from `offsetB`.
bool RangesMatch(const std::string& pathA, uint64_t offsetA, const std::string& pathB,
                 uint64_t offsetB, uint64_t length)
{
    int fileA = open(pathA.c_str(), O_RDONLY | O_CLOEXEC);
    int fileB = open(pathB.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<unsigned char> bytesA(mebibyte), bytesB(mebibyte);
    bool same = fileA >= 0 && fileB >= 0;
    for (uint64_t done = 0; same && done < length; done += mebibyte) {
        size_t count = (size_t)(length - done < mebibyte ? length - done : mebibyte);
        same = ReadAt(fileA, offsetA + done, bytesA.data(), count) &&
               ReadAt(fileB, offsetB + done, bytesB.data(), count) &&
               memcmp(bytesA.data(), bytesB.data(), count) == 0;
    }
    if (fileA >= 0)
        close(fileA);
    if (fileB >= 0)
        close(fileB);
    return same;
}

// Appends the whole file at `path` to `descriptor`.
bool AppendFile(int descriptor, const std::string& path)
{
    int source = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return false;
    std::vector<unsigned char> chunk(mebibyte);
    ssize_t got;
    bool written = true;
    while (written && (got = read(source, chunk.data(), chunk.size())) > 0)
        written = WriteAll(descriptor, chunk.data(), (size_t)got);
    close(source);
    return written && got == 0;
}

void PutTrailer(unsigned char* trailer, uint32_t movieSize)
{
    WriteLe32(trailer, projectorMagic);
    WriteLe32(trailer + 4, movieSize);
}

// A projector of the CWS movie: a fake 64 KiB player ("MZ" and filler),
// the movie, then the trailer.
bool MakeProjector(const Bench& bench)
{
    std::vector<unsigned char> player(playerStubSize);
    Random random = {0x504C41594552ull};
    for (unsigned char& byte : player)
        byte = (unsigned char)NextRandom(&random);
    player[0] = 'M';
    player[1] = 'Z';
    unsigned char trailer[projectorTrailerSize];
    PutTrailer(trailer, bench.compressedSize);
    int descriptor = open(PathOf(bench, projectorFile).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return false;
    bool written = WriteAll(descriptor, player.data(), player.size()) &&
                   AppendFile(descriptor, PathOf(bench, compressedFile)) &&
                   WriteAll(descriptor, trailer, sizeof trailer);
    return close(descriptor) == 0 && written;
}

// A 3 GiB projector that is almost all hole: "MZ" at the start, then at
// the end a small FWS movie and the trailer that points at it.
bool MakeLargeProjector(const std::string& path)
{
    int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return false;
    unsigned char tail[largeMovieSize + projectorTrailerSize] = {};
    WriteLe32(tail, signatureUncompressed | movieVersion << 24);
    WriteLe32(tail + 4, largeMovieSize);
    PutTrailer(tail + largeMovieSize, largeMovieSize);
    off_t tailOffset = (off_t)(largeProjectorSize - sizeof tail);
    bool written = ftruncate(descriptor, (off_t)largeProjectorSize) == 0 &&
                   pwrite(descriptor, "MZ", 2, 0) == 2 &&
                   pwrite(descriptor, tail, sizeof tail, tailOffset) == (ssize_t)sizeof tail;
    return close(descriptor) == 0 && written;
}

bool CreateScratchFolder(Bench* bench)
{
    char folder[] = "/tmp/quillaro-bench-XXXXXX";
    if (!mkdtemp(folder))
        return false;
    bench->folder = folder;
    return true;
}

void RemoveScratchFolder(const Bench& bench)
{
    for (const char* name : scratchFiles)
        unlink(PathOf(bench, name).c_str());
    rmdir(bench.folder.c_str());
}

// ---- Memory and reads, from /proc ----

// Reads a /proc file into `text` (NUL-terminated); returns the bytes read.
size_t ReadProcFile(const char* path, char* text, size_t room)
{
    size_t length = 0;
    int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0) {
        ssize_t got;
        while (length + 1 < room && (got = read(descriptor, text + length, room - 1 - length)) > 0)
            length += (size_t)got;
        close(descriptor);
    }
    text[length] = 0;
    return length;
}

// The number after `field` in a "name: value" listing; 0 when absent.
uint64_t FieldValue(const char* text, const char* field)
{
    const char* found = strstr(text, field);
    return found ? strtoull(found + strlen(field), nullptr, 10) : 0;
}

uint64_t StatusFieldKiB(const char* field)
{
    char text[8192];
    ReadProcFile("/proc/self/status", text, sizeof text);
    return FieldValue(text, field);
}

uint64_t ResidentKiB() { return StatusFieldKiB("VmRSS:"); }
uint64_t PeakResidentKiB() { return StatusFieldKiB("VmHWM:"); }

// Maps in every page of the readable file mappings (the program and its
// libraries). A child of fork starts without them and would count each
// code page it runs, in steps of the kernel's fault-around, as growth.
void MapInFilePages()
{
    static char maps[256 * 1024];
    ReadProcFile("/proc/self/maps", maps, sizeof maps);
    const char* line = maps;
    while (*line) {
        unsigned long start = 0, end = 0, inode = 0;
        char permissions[8] = "";
        if (sscanf(line, "%lx-%lx %7s %*s %*s %lu", &start, &end, permissions, &inode) == 4 &&
            inode != 0 && permissions[0] == 'r')
            madvise((void*)start, end - start, MADV_POPULATE_READ);
        const char* next = strchr(line, '\n');
        line = next ? next + 1 : line + strlen(line);
    }
}

// Makes what is resident now the baseline of a child's peak: the file
// pages are mapped in, and freed heap pages inherited from the parent are
// given back, so that reusing them shows as growth. Then the peak resident
// size restarts from the current one (Linux 4.0 on) rather than from the
// parent's at fork time.
void SettleResidentSet()
{
    MapInFilePages();
    malloc_trim(0);
    int descriptor = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (descriptor >= 0) {
        WriteAll(descriptor, "5", 1);
        close(descriptor);
    }
}

// Bytes this process has read through system calls so far (rchar). The
// read of /proc/self/io itself shows only in the next reading, so its size
// goes to `*ownBytes` for the caller to take off.
uint64_t ReadByteCount(uint64_t* ownBytes)
{
    char text[1024];
    *ownBytes = ReadProcFile("/proc/self/io", text, sizeof text);
    return FieldValue(text, "rchar:");
}

// ---- Measured runs ----

// What one measured run sends back to the parent through a pipe.
struct RunResult {
    bool ok;
    double seconds;           // the operation alone, without loading its input
    uint64_t baselineKiB;     // resident before the run loaded its input
    uint64_t peakKiB;         // the highest resident size of the run
    uint32_t progressUpdates; // moves of the progress bar
    uint32_t outputSize;
};

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads a whole input file; null when it cannot be read whole.
unsigned char* LoadInput(const Bench& bench, const char* name, uint32_t size)
{
    return ReadFileRangeFully(PathOf(bench, name).c_str(), 0, size);
}

// The operations a child runs. Each loads its input, times its work into
// `result->seconds` and leaves its output in the scratch folder. Plain
// zlib does the codec's whole job: it allocates the output and frees the
// input, as the codec must.

void RunZlibDeflate(const Bench& bench, RunResult* result)
{
    unsigned char* movie = LoadInput(bench, movieFile, bench.movieSize);
    if (!movie)
        return;
    uint32_t bodySize = bench.movieSize - movieHeaderSize;
    Clock::time_point start = Clock::now();
    z_stream stream = {};
    unsigned char* output = nullptr;
    int status = deflateInit2(&stream, 9, Z_DEFLATED, MAX_WBITS, deflateMemoryLevel,
                              Z_DEFAULT_STRATEGY);
    if (status == Z_OK) {
        uLong bound = deflateBound(&stream, bodySize);
        output = (unsigned char*)malloc(bound);
        stream.next_in = movie + movieHeaderSize;
        stream.avail_in = bodySize;
        stream.next_out = output;
        stream.avail_out = (uInt)bound;
        status = output ? deflate(&stream, Z_FINISH) : Z_MEM_ERROR;
        deflateEnd(&stream);
    }
    MemFree(movie);
    result->seconds = SecondsSince(start);
    result->outputSize = (uint32_t)stream.total_out;
    result->ok = status == Z_STREAM_END &&
                 WriteWholeFile(PathOf(bench, zlibDeflatedFile), output, stream.total_out);
    free(output);
}

void RunZlibInflate(const Bench& bench, RunResult* result)
{
    unsigned char* input = LoadInput(bench, zlibDeflatedFile, bench.zlibDeflatedSize);
    if (!input)
        return;
    uint32_t bodySize = bench.movieSize - movieHeaderSize;
    Clock::time_point start = Clock::now();
    z_stream stream = {};
    unsigned char* output = nullptr;
    int status = inflateInit(&stream);
    if (status == Z_OK) {
        output = (unsigned char*)malloc(bodySize);
        stream.next_in = input;
        stream.avail_in = bench.zlibDeflatedSize;
        stream.next_out = output;
        stream.avail_out = bodySize;
        status = output ? inflate(&stream, Z_FINISH) : Z_MEM_ERROR;
        inflateEnd(&stream);
    }
    MemFree(input);
    result->seconds = SecondsSince(start);
    result->outputSize = (uint32_t)stream.total_out;
    result->ok = status == Z_STREAM_END && stream.total_out == bodySize &&
                 WriteWholeFile(PathOf(bench, zlibInflatedFile), output, bodySize);
    free(output);
}

struct CountedProgress {
    uint32_t updates;
};

void CountProgress(void* context, uint64_t, uint64_t)
{
    ((CountedProgress*)context)->updates++;
}

unsigned char* CompressAllCores(const Progress* progress, unsigned char* buffer, uint32_t* size,
                                ConversionError* error)
{
    return CompressMovie(progress, buffer, size, error);
}

typedef unsigned char* (*Codec)(const Progress* progress, unsigned char* buffer, uint32_t* size,
                                ConversionError* error);

void RunCodec(const Bench& bench, Codec codec, const char* inputName, uint32_t inputSize,
              const char* outputName, RunResult* result)
{
    uint32_t size = inputSize;
    unsigned char* movie = LoadInput(bench, inputName, size);
    if (!movie)
        return;
    CountedProgress display = {0};
    Progress progress = {CountProgress, &display};
    Clock::time_point start = Clock::now();
    movie = codec(&progress, movie, &size, nullptr);
    result->seconds = SecondsSince(start);
    result->progressUpdates = display.updates;
    result->outputSize = size;
    result->ok = movie && WriteWholeFile(PathOf(bench, outputName), movie, size);
    MemFree(movie);
}

void RunCompressMovie(const Bench& bench, RunResult* result)
{
    RunCodec(bench, CompressAllCores, movieFile, bench.movieSize, compressedFile, result);
}

void RunDecompressMovie(const Bench& bench, RunResult* result)
{
    RunCodec(bench, DecompressMovie, compressedFile, bench.compressedSize, decompressedFile,
             result);
}

void RunRebuild(const Bench& bench, MovieAction action, const char* outputName,
                RunResult* result)
{
    std::string source = PathOf(bench, projectorFile);
    std::string output = PathOf(bench, outputName);
    CountedProgress display = {0};
    Progress progress = {CountProgress, &display};
    Clock::time_point start = Clock::now();
    result->ok = RebuildMovieFile(&progress, source.c_str(), output.c_str(), nullptr,
                                  MakeRebuildMode(PlayerAction::Keep, action));
    result->seconds = SecondsSince(start);
    result->progressUpdates = display.updates;
    result->outputSize = (uint32_t)FileSize(output);
}

void RunRebuildDecompress(const Bench& bench, RunResult* result)
{
    RunRebuild(bench, MovieAction::Decompress, rebuiltDecompressedFile, result);
}

void RunRebuildCompress(const Bench& bench, RunResult* result)
{
    RunRebuild(bench, MovieAction::Compress, rebuiltCompressedFile, result);
}

typedef void (*Operation)(const Bench& bench, RunResult* result);

// The child's side of a measured run; never returns.
[[noreturn]] void RunChild(const Bench& bench, Operation operation, int channel)
{
    RunResult result = {};
    SettleResidentSet();
    result.baselineKiB = ResidentKiB();
    operation(bench, &result);
    result.peakKiB = PeakResidentKiB();
    _exit(WriteAll(channel, &result, sizeof result) ? 0 : 1);
}

// Runs `operation` once in a child process, so that the peak memory seen
// is the operation's own. False when the child failed.
bool MeasureOnce(const Bench& bench, Operation operation, RunResult* result)
{
    int channel[2];
    if (pipe(channel) != 0)
        return false;
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        RunChild(bench, operation, channel[1]);
    }
    close(channel[1]);
    bool received = child > 0 && ReadAll(channel[0], result, sizeof *result);
    close(channel[0]);
    int status = 0;
    bool exited = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                  WEXITSTATUS(status) == 0;
    return received && exited && result->ok;
}

// The best of a stage's runs.
struct StageResult {
    bool ok;
    int runs;
    double totalSeconds;
    double bestSeconds;
    uint64_t growthKiB;  // the largest peak over baseline of any run
    uint32_t progressUpdates;
    uint32_t outputSize;
};

void AddRun(const Bench& bench, Operation operation, StageResult* stage)
{
    RunResult result = {};
    stage->ok = MeasureOnce(bench, operation, &result);
    stage->runs++;
    stage->totalSeconds += result.seconds;
    if (stage->runs == 1 || result.seconds < stage->bestSeconds)
        stage->bestSeconds = result.seconds;
    uint64_t growth =
        result.peakKiB > result.baselineKiB ? result.peakKiB - result.baselineKiB : 0;
    if (growth > stage->growthKiB)
        stage->growthKiB = growth;
    stage->progressUpdates = result.progressUpdates;
    stage->outputSize = result.outputSize;
}

// True while a stage needs more runs: the runs asked for, then more of a
// quick operation.
bool MoreRuns(const Bench& bench, const StageResult& stage)
{
    return stage.ok && (stage.runs < bench.runs ||
                        (stage.totalSeconds < leastMeasuredSeconds && stage.runs < mostRuns));
}

StageResult MeasureStage(const Bench& bench, Operation operation)
{
    StageResult stage = {true, 0, 0, 0, 0, 0, 0};
    while (MoreRuns(bench, stage))
        AddRun(bench, operation, &stage);
    return stage;
}

// Runs plain zlib and the codec by turns, so that a change in the load of
// the machine falls on both alike.
void MeasurePair(const Bench& bench, Operation zlibOperation, Operation codecOperation,
                 StageResult* zlibStage, StageResult* codecStage)
{
    *zlibStage = *codecStage = StageResult{true, 0, 0, 0, 0, 0, 0};
    while (zlibStage->ok && codecStage->ok &&
           (MoreRuns(bench, *zlibStage) || MoreRuns(bench, *codecStage))) {
        AddRun(bench, zlibOperation, zlibStage);
        AddRun(bench, codecOperation, codecStage);
    }
}

// ---- Checks of the outputs ----

bool RoundTripIdentical(const Bench& bench)
{
    std::string original = PathOf(bench, movieFile);
    std::string output = PathOf(bench, decompressedFile);
    return FileSize(output) == bench.movieSize &&
           RangesMatch(original, 0, output, 0, bench.movieSize);
}

bool ZlibRoundTripIdentical(const Bench& bench)
{
    std::string output = PathOf(bench, zlibInflatedFile);
    uint32_t bodySize = bench.movieSize - movieHeaderSize;
    return FileSize(output) == bodySize &&
           RangesMatch(PathOf(bench, movieFile), movieHeaderSize, output, 0, bodySize);
}

// The CWS movie keeps the version and the declared length.
bool CompressedHeaderRight(const Bench& bench)
{
    unsigned char header[movieHeaderSize];
    int descriptor = open(PathOf(bench, compressedFile).c_str(), O_RDONLY | O_CLOEXEC);
    bool read = descriptor >= 0 && ReadAt(descriptor, 0, header, sizeof header);
    if (descriptor >= 0)
        close(descriptor);
    return read && ReadLe32(header) == (signatureZlib | movieVersion << 24) &&
           ReadLe32(header + 4) == bench.movieSize;
}

bool SameStreamAsZlib(const Bench& bench)
{
    return bench.compressedSize - movieHeaderSize == bench.zlibDeflatedSize &&
           RangesMatch(PathOf(bench, compressedFile), movieHeaderSize,
                       PathOf(bench, zlibDeflatedFile), 0, bench.zlibDeflatedSize);
}

// A rebuilt projector: the same player, then `movieName`'s bytes, then a
// trailer giving their size.
bool RebuiltAsExpected(const Bench& bench, const char* outputName, const char* movieName,
                       uint32_t movieSize)
{
    std::string output = PathOf(bench, outputName);
    unsigned char trailer[projectorTrailerSize], expected[projectorTrailerSize];
    PutTrailer(expected, movieSize);
    int descriptor = open(output.c_str(), O_RDONLY | O_CLOEXEC);
    bool read = descriptor >= 0 && ReadAt(descriptor, playerStubSize + movieSize, trailer,
                                          sizeof trailer);
    if (descriptor >= 0)
        close(descriptor);
    return read && memcmp(trailer, expected, sizeof trailer) == 0 &&
           FileSize(output) == playerStubSize + movieSize + projectorTrailerSize &&
           RangesMatch(output, 0, PathOf(bench, projectorFile), 0, playerStubSize) &&
           RangesMatch(output, playerStubSize, PathOf(bench, movieName), 0, movieSize);
}

// ---- The table ----

double Mebibytes(uint64_t bytes) { return (double)bytes / mebibyte; }

const char* Verdict(bool passed) { return passed ? "PASS" : "FAIL"; }

void PrintTableHeader()
{
    printf("\n%-24s %5s %8s %7s %8s %6s %9s %10s %7s %6s\n", "operation", "runs", "best s",
           "MB/s", "vs zlib", "speed", "peak MiB", "limit MiB", "memory", "bar");
}

// One row. `zlibSeconds` is 0 for a row without a speed target, and
// `memoryLimit` 0 for one without a memory target.
void PrintRow(const char* name, const StageResult& stage, uint32_t bodySize, double zlibSeconds,
              uint64_t memoryLimit)
{
    if (!stage.ok) {
        printf("%-24s FAILED\n", name);
        return;
    }
    double ratio = zlibSeconds > 0 ? stage.bestSeconds / zlibSeconds : 0;
    char ratioText[16] = "-", limitText[16] = "-";
    if (zlibSeconds > 0)
        snprintf(ratioText, sizeof ratioText, "%.3f", ratio);
    if (memoryLimit > 0)
        snprintf(limitText, sizeof limitText, "%.1f", Mebibytes(memoryLimit));
    printf("%-24s %5d %8.3f %7.1f %8s %6s %9.1f %10s %7s %6u\n", name, stage.runs,
           stage.bestSeconds, bodySize / stage.bestSeconds / 1e6, ratioText,
           zlibSeconds > 0 ? Verdict(ratio <= speedLimit) : "-",
           Mebibytes(stage.growthKiB * kibibyte), limitText,
           memoryLimit > 0 ? Verdict(stage.growthKiB * kibibyte <= memoryLimit) : "-",
           stage.progressUpdates);
}

// The memory a conversion may use: its input, its output and 1 MiB.
uint64_t MemoryLimit(uint64_t storedSize, uint64_t convertedSize)
{
    return storedSize + convertedSize + mebibyte;
}

// ---- The stages ----

bool MakeMovieFile(Bench* bench, uint32_t sizeMiB)
{
    MovieMix mix;
    bench->movieSize = sizeMiB * mebibyte;
    unsigned char* movie = MakeMovie(bench->movieSize, &mix);
    bool written = movie && WriteWholeFile(PathOf(*bench, movieFile), movie, bench->movieSize);
    free(movie);
    if (!written) {
        fprintf(stderr, "quillaro-bench: cannot make the movie in %s\n", bench->folder.c_str());
        return false;
    }
    double body = (double)(mix.tagBytes + mix.bitmapBytes);
    printf("Quillaro benchmark: synthetic FWS movie of %u MiB (%u bytes, version %u)\n", sizeMiB,
           bench->movieSize, movieVersion);
    printf("  body: %.1f%% small tags, %.1f%% bitmap data\n", 100 * mix.tagBytes / body,
           100 * mix.bitmapBytes / body);
    printf("  times: the best of at least %d runs, of quick operations until they add up\n"
           "    to %.0f s; plain zlib and codec runs alternate\n"
           "  MB/s: 10^6 uncompressed body bytes a second; bar: moves of the progress bar\n"
           "  peak MiB: growth of a child process's resident set while it loads its input and\n"
           "    converts it; limit: stored + converted movie + 1 MiB (for a rebuild the FWS\n"
           "    form, the largest the movie takes)\n",
           bench->runs, leastMeasuredSeconds);
    return true;
}

// Plain zlib, then the codecs, on the movie's body. False on a failure or
// a round trip that changed the movie.
bool MeasureCodecs(Bench* bench)
{
    uint32_t bodySize = bench->movieSize - movieHeaderSize;
    StageResult deflated, compressed;
    MeasurePair(*bench, RunZlibDeflate, RunCompressMovie, &deflated, &compressed);
    bench->zlibDeflatedSize = deflated.outputSize;
    bench->compressedSize = compressed.outputSize;
    PrintRow("zlib deflate, level 9", deflated, bodySize, 0, 0);
    PrintRow("CompressMovie", compressed, bodySize, deflated.bestSeconds,
             MemoryLimit(bench->movieSize, bench->compressedSize));
    if (!deflated.ok || !compressed.ok)
        return false;

    StageResult inflated, decompressed;
    MeasurePair(*bench, RunZlibInflate, RunDecompressMovie, &inflated, &decompressed);
    PrintRow("zlib inflate", inflated, bodySize, 0, 0);
    PrintRow("DecompressMovie", decompressed, bodySize, inflated.bestSeconds,
             MemoryLimit(bench->compressedSize, bench->movieSize));
    return inflated.ok && decompressed.ok;
}

bool CheckCodecOutputs(const Bench& bench)
{
    bool zlibSame = ZlibRoundTripIdentical(bench);
    bool headerRight = CompressedHeaderRight(bench);
    bool codecSame = RoundTripIdentical(bench);
    printf("  compressed %.1f MiB to %.1f MiB (%.1f%%); codec stream %s plain zlib's\n",
           Mebibytes(bench.movieSize), Mebibytes(bench.compressedSize),
           100.0 * bench.compressedSize / bench.movieSize,
           SameStreamAsZlib(bench) ? "identical to" : "differs from");
    printf("  round trip: plain zlib %s, codecs %s, CWS header %s\n",
           zlibSame ? "identical" : "DIFFERS", codecSame ? "identical" : "DIFFERS",
           headerRight ? "right" : "WRONG");
    return zlibSame && headerRight && codecSame;
}

// Both rebuilds of a projector holding the CWS movie. The limit of Keep +
// Compress counts the FWS form, which the movie passes through on its
// way to being compressed again.
bool MeasureRebuilds(const Bench& bench)
{
    if (!MakeProjector(bench)) {
        fprintf(stderr, "quillaro-bench: cannot make the projector\n");
        return false;
    }
    uint32_t bodySize = bench.movieSize - movieHeaderSize;
    uint64_t limit = MemoryLimit(bench.compressedSize, bench.movieSize);
    StageResult decompressed = MeasureStage(bench, RunRebuildDecompress);
    PrintRow("Rebuild keep+decompress", decompressed, bodySize, 0, limit);
    StageResult compressed = MeasureStage(bench, RunRebuildCompress);
    PrintRow("Rebuild keep+compress", compressed, bodySize, 0, limit);
    bool decompressedRight = decompressed.ok && RebuiltAsExpected(bench, rebuiltDecompressedFile,
                                                                  movieFile, bench.movieSize);
    bool compressedRight = compressed.ok && RebuiltAsExpected(bench, rebuiltCompressedFile,
                                                              compressedFile, bench.compressedSize);
    printf("  rebuilt projectors: keep+decompress %s, keep+compress %s\n",
           decompressedRight ? "right" : "WRONG", compressedRight ? "right" : "WRONG");
    return decompressedRight && compressedRight;
}

// What inspecting the large projector should find.
MovieInfo ExpectedLargeInfo()
{
    MovieInfo info;
    info.header = signatureUncompressed | movieVersion << 24;
    info.fileLength = largeMovieSize;
    info.movieSize = largeMovieSize;
    info.playerSize = (uint32_t)(largeProjectorSize - largeMovieSize - projectorTrailerSize);
    return info;
}

bool SameInfo(const MovieInfo& a, const MovieInfo& b)
{
    return a.header == b.header && a.fileLength == b.fileLength &&
           a.playerSize == b.playerSize && a.movieSize == b.movieSize;
}

// Inspects the 3 GiB projector, counting the bytes read. False when the
// record is not the one expected.
bool MeasureInspection(const Bench& bench)
{
    std::string path = PathOf(bench, largeProjectorFile);
    if (!MakeLargeProjector(path)) {
        fprintf(stderr, "quillaro-bench: cannot make the sparse projector\n");
        return false;
    }
    MovieInfo info;
    uint64_t ownBytes, ignored;
    uint64_t before = ReadByteCount(&ownBytes);
    Clock::time_point start = Clock::now();
    InspectMovieFile(path.c_str(), &info);
    double seconds = SecondsSince(start);
    uint64_t bytesRead = ReadByteCount(&ignored) - before - ownBytes;
    unlink(path.c_str());

    bool right = SameInfo(info, ExpectedLargeInfo());
    printf("\nInspectMovieFile, 3 GiB sparse projector: %" PRIu64 " bytes read (at most %" PRIu64
           ": %s) in %.3f ms\n",
           bytesRead, inspectionReadLimit, Verdict(bytesRead <= inspectionReadLimit),
           seconds * 1e3);
    printf("  header 0x%08X, fileLength %u, playerSize %u, movieSize %u: %s\n", info.header,
           info.fileLength, info.playerSize, info.movieSize, right ? "as expected" : "WRONG");
    return right;
}

// ---- Options ----

struct Options {
    uint32_t sizeMiB;
    int runs;
};

bool ParseNumber(const char* text, long lowest, long highest, long* value)
{
    char* end = nullptr;
    *value = text ? strtol(text, &end, 10) : 0;
    return text && *text && *end == 0 && *value >= lowest && *value <= highest;
}

void PrintUsage()
{
    printf("usage: quillaro-bench [--size-mb N] [--runs N]\n"
           "  --size-mb N  size of the synthetic movie in MiB, 1 to 4095 (default 64)\n"
           "  --runs N     least runs of each measurement, the best counts (default 3)\n");
}

// False (after saying why) when the arguments are not understood.
bool ParseOptions(int argc, char** argv, Options* options)
{
    options->sizeMiB = 64;
    options->runs = 3;
    for (int i = 1; i < argc; i++) {
        long value = 0;
        if (strcmp(argv[i], "--size-mb") == 0 && ParseNumber(argv[i + 1], 1, 4095, &value)) {
            options->sizeMiB = (uint32_t)value;
            i++;
        } else if (strcmp(argv[i], "--runs") == 0 && ParseNumber(argv[i + 1], 1, 100, &value)) {
            options->runs = (int)value;
            i++;
        } else {
            PrintUsage();
            return false;
        }
    }
    return true;
}

bool RunBenchmark(Bench* bench, uint32_t sizeMiB)
{
    if (!MakeMovieFile(bench, sizeMiB))
        return false;
    PrintTableHeader();
    bool codecsRight = MeasureCodecs(bench) && CheckCodecOutputs(*bench);
    bool rebuildsRight = codecsRight && MeasureRebuilds(*bench);
    bool inspectionRight = MeasureInspection(*bench);
    return codecsRight && rebuildsRight && inspectionRight;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options))
        return argc == 2 && strcmp(argv[1], "--help") == 0 ? 0 : 2;
    // Large blocks are mapped afresh and unmapped when freed, so that a
    // run's peak counts every page its buffers touch, and freed memory of
    // an earlier stage is never reused unseen.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    Bench bench = {};
    bench.runs = options.runs;
    if (!CreateScratchFolder(&bench)) {
        fprintf(stderr, "quillaro-bench: cannot create a folder in /tmp\n");
        return 1;
    }
    bool right = RunBenchmark(&bench, options.sizeMiB);
    RemoveScratchFolder(bench);
    return right ? 0 : 1;
}
