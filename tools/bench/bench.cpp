// bench.cpp - times the movie codecs against plain zlib, libdeflate and
// liblzma called directly, and batches of small movies on one thread
// against quillaro-cli with one job and with all, on a synthetic mix of
// tag-like and noise-like data (and the real movies of a corpus folder),
// with the peak memory of each case. Every zlib stream the codecs write
// is read back by zlib's own inflate.
//
// Every case runs in a forked child that loads its input from a scratch
// file, so that its peak resident memory (from wait4) is its own.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <libdeflate.h>
#include <lzma.h>
#include <zlib.h>

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "rebuild/lzma_body.h"
#include "rebuild/parallel_deflate.h"
#include "rebuild/rebuild.h"

namespace {

typedef std::chrono::steady_clock Clock;
const uint64_t mebibyte = 1024 * 1024;

struct Settings {
    uint32_t sizeMb = 64;       // the large movie: deflated in blocks
    uint32_t wholeMb = 32;      // the movie deflated and inflated whole
    uint32_t lzmaMb = 8;        // the movie for LZMA, whose preset 9 is slow
    int runs = 3;               // each timing is the best of this many
    uint32_t batchFiles = 2000;
    uint32_t batchFileKb = 16;  // the size of each small movie
    bool scaling = false;       // also batches of 1,000 and 50,000 files, all jobs
    std::vector<uint32_t> largeMb = {64, 256, 1024};  // movies through quillaro-cli
    std::string cli;            // quillaro-cli; by default the one of this build
    std::string folder = "bench-scratch";
    std::string corpus;         // a folder of real movies (swf/ of the shared corpus)
    std::string only;           // the parts to run, separated by commas; empty: all
};

// What one case measured; sent from the child to the parent.
struct Measure {
    double seconds;    // the best run
    uint64_t outputSize;
    int ok;
    uint64_t peakBytes;  // filled in by the parent, unless the case ran a program
};

// The peak of the program a case ran (quillaro-cli), set by the case in
// the child; 0 when the case ran in the child itself.
uint64_t programPeak = 0;

std::string PathOf(const Settings& settings, const std::string& name)
{
    return settings.folder + "/" + name;
}

// ---- The synthetic movie ----

uint32_t NextRandom(uint32_t* state)
{
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

// Tag-like data: records of a short header and fields that repeat with
// small variations, as shapes, frames and scripts do.
void FillTags(unsigned char* out, size_t length, uint32_t* state)
{
    static const char* const words[] = {"DefineShape", "PlaceObject2", "ShowFrame", "DoAction",
                                        "gotoAndPlay", "_root.score", "onEnterFrame"};
    size_t i = 0;
    while (i < length) {
        uint32_t r = NextRandom(state);
        unsigned char record[64];
        size_t n = 0;
        record[n++] = (unsigned char)(r & 0x3F);
        record[n++] = (unsigned char)((r >> 6) & 0x03);
        const char* word = words[(r >> 8) % 7];
        size_t wordLength = strlen(word);
        memcpy(record + n, word, wordLength);
        n += wordLength;
        for (int field = 0; field < 4; field++)
            record[n++] = (unsigned char)((r >> (field * 3)) & 0x0F);
        for (size_t k = 0; k < n && i < length; k++)
            out[i++] = record[k];
    }
}

void FillNoise(unsigned char* out, size_t length, uint32_t* state)
{
    for (size_t i = 0; i < length; i++)
        out[i] = (unsigned char)NextRandom(state);
}

// An FWS movie of `bodyLength` bytes: segments of tags (three in four)
// and noise (bitmaps, sounds), in 64 KiB pieces.
std::vector<unsigned char> MakeMovie(uint32_t bodyLength, uint32_t seed)
{
    std::vector<unsigned char> movie(bodyLength + movieHeaderSize);
    WriteLe32(movie.data(), 0x0A000000u | signatureUncompressed);
    WriteLe32(movie.data() + 4, (uint32_t)movie.size());
    uint32_t state = seed * 2654435761u + 1;
    const size_t segment = 64 * 1024;
    for (size_t start = 0, index = 0; start < bodyLength; start += segment, index++) {
        size_t length = bodyLength - start < segment ? bodyLength - start : segment;
        unsigned char* out = movie.data() + movieHeaderSize + start;
        if (index % 4 == 3)
            FillNoise(out, length, &state);
        else
            FillTags(out, length, &state);
    }
    return movie;
}

bool WriteFile(const std::string& path, const unsigned char* data, size_t size)
{
    FILE* file = fopen(path.c_str(), "wb");
    bool written = file && fwrite(data, 1, size, file) == size;
    return file && fclose(file) == 0 && written;
}

// A MemAlloc block with the file's bytes; null on failure.
unsigned char* LoadFile(const std::string& path, uint32_t* size)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return nullptr;
    *size = (uint32_t)status.st_size;
    unsigned char* block = (unsigned char*)MemAlloc(*size ? *size : 1);
    FILE* file = fopen(path.c_str(), "rb");
    bool read = file && block && fread(block, 1, *size, file) == *size;
    if (file)
        fclose(file);
    if (!read) {
        MemFree(block);
        return nullptr;
    }
    return block;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- The cases: each times one run and says how big its output is ----

typedef bool (*Case)(const Settings& settings, uint64_t* outputSize, double* seconds);

// The movie of the scratch folder the next cases work on, set before forking.
const char* subject = "movie.swf";

// The subject's name with another ending: "movie.swf" -> "movie-cws.swf".
std::string Derived(const char* ending)
{
    std::string name = subject;
    return name.substr(0, name.size() - 4) + ending;
}

// Whether the "CWS" movie in `compressed` (a file, or `movie` in memory)
// is read back by zlib's own inflate as the body of the "FWS" movie file
// `original`: every stream the bench times is checked, untimed, in pieces
// of 1 MiB so as to add nothing to the case's peak memory.
bool InflatesTo(const std::string& compressed, const unsigned char* movie, size_t movieSize,
                const std::string& original)
{
    const size_t piece = 1 << 20;
    std::vector<unsigned char> input(piece), output(piece), expected(piece);
    FILE* stored = movie ? nullptr : fopen(compressed.c_str(), "rb");
    FILE* body = fopen(original.c_str(), "rb");
    z_stream stream = {};
    bool ok = (movie || stored) && body && fseek(body, movieHeaderSize, SEEK_SET) == 0 &&
              (movie || fseek(stored, movieHeaderSize, SEEK_SET) == 0) && inflateInit(&stream) == Z_OK;
    if (movie) {
        stream.next_in = (Bytef*)movie + movieHeaderSize;
        stream.avail_in = (uInt)(movieSize - movieHeaderSize);
    }
    int status = Z_OK;
    while (ok && status == Z_OK) {
        if (stream.avail_in == 0 && stored) {
            stream.next_in = input.data();
            stream.avail_in = (uInt)fread(input.data(), 1, piece, stored);
        }
        stream.next_out = output.data();
        stream.avail_out = (uInt)piece;
        status = inflate(&stream, Z_NO_FLUSH);
        size_t produced = piece - stream.avail_out;
        ok = (status == Z_OK || status == Z_STREAM_END) &&
             fread(expected.data(), 1, produced, body) == produced &&
             memcmp(expected.data(), output.data(), produced) == 0;
    }
    // The stream ends at the end of the movie, and so does the body.
    ok = ok && stream.avail_in == 0 && (!stored || fgetc(stored) == EOF) && fgetc(body) == EOF;
    inflateEnd(&stream);
    if (stored)
        fclose(stored);
    if (body)
        fclose(body);
    return ok;
}

bool ZlibLevel9(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, subject), &size);
    if (!movie)
        return false;
    uLong bound = compressBound(size);
    unsigned char* output = (unsigned char*)malloc(bound);
    z_stream stream = {};
    Clock::time_point start = Clock::now();
    bool ok = output && deflateInit2(&stream, 9, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (ok) {
        stream.next_in = movie + movieHeaderSize;
        stream.avail_in = size - movieHeaderSize;
        stream.next_out = output;
        stream.avail_out = (uInt)bound;
        ok = deflate(&stream, Z_FINISH) == Z_STREAM_END;
        *outputSize = stream.total_out + movieHeaderSize;
        deflateEnd(&stream);
    }
    *seconds = SecondsSince(start);
    free(output);
    MemFree(movie);
    return ok;
}

// libdeflate called directly on the whole body, at `level`, one thread.
bool LibdeflateDirect(const Settings& settings, int level, uint64_t* outputSize, double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, subject), &size);
    if (!movie)
        return false;
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    size_t bound = libdeflate_zlib_compress_bound(compressor, size - movieHeaderSize);
    unsigned char* output = (unsigned char*)malloc(bound);
    Clock::time_point start = Clock::now();
    size_t written = compressor && output ? libdeflate_zlib_compress(compressor, movie + movieHeaderSize,
                                                                     size - movieHeaderSize, output, bound)
                                          : 0;
    *seconds = SecondsSince(start);
    *outputSize = written + movieHeaderSize;
    libdeflate_free_compressor(compressor);
    free(output);
    MemFree(movie);
    return written != 0;
}

bool LibdeflateDefault(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return LibdeflateDirect(settings, deflateLevelDefault, outputSize, seconds);
}

// CompressMovie of the subject; the output is checked with zlib's inflate,
// and kept as the subject's "CWS" form when `keep`.
bool Compress(const Settings& settings, unsigned threads, int level, bool keep,
              uint64_t* outputSize, double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, subject), &size);
    if (!movie)
        return false;
    Clock::time_point start = Clock::now();
    movie = CompressMovie(nullptr, movie, &size, nullptr, threads, level);
    *seconds = SecondsSince(start);
    *outputSize = size;
    bool ok = movie && InflatesTo("", movie, size, PathOf(settings, subject));
    ok = ok && (!keep || WriteFile(PathOf(settings, Derived("-cws.swf")), movie, size));
    MemFree(movie);
    return ok;
}

bool CompressOneThread(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return Compress(settings, 1, deflateLevelDefault, false, outputSize, seconds);
}

bool CompressAllCores(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return Compress(settings, 0, deflateLevelDefault, true, outputSize, seconds);
}

bool CompressBest(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return Compress(settings, 0, deflateLevelBest, false, outputSize, seconds);
}

// Inflates the subject's "CWS" form in memory: zlib's own raw inflate, or
// libdeflate called directly.
bool InflateDirect(const Settings& settings, bool libdeflate, uint64_t* outputSize,
                   double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, Derived("-cws.swf")), &size);
    if (!movie)
        return false;
    uint32_t bodyLength = ReadLe32(movie + 4) - movieHeaderSize;
    unsigned char* output = (unsigned char*)malloc(bodyLength);
    libdeflate_decompressor* decompressor = libdeflate ? libdeflate_alloc_decompressor() : nullptr;
    z_stream stream = {};
    Clock::time_point start = Clock::now();
    bool ok = output && (libdeflate ? decompressor != nullptr : inflateInit(&stream) == Z_OK);
    if (ok && libdeflate) {
        ok = libdeflate_zlib_decompress(decompressor, movie + movieHeaderSize,
                                        size - movieHeaderSize, output, bodyLength,
                                        nullptr) == LIBDEFLATE_SUCCESS;
    } else if (ok) {
        stream.next_in = movie + movieHeaderSize;
        stream.avail_in = size - movieHeaderSize;
        stream.next_out = output;
        stream.avail_out = bodyLength;
        ok = inflate(&stream, Z_FINISH) == Z_STREAM_END;
        inflateEnd(&stream);
    }
    *seconds = SecondsSince(start);
    *outputSize = bodyLength + movieHeaderSize;
    libdeflate_free_decompressor(decompressor);
    free(output);
    MemFree(movie);
    return ok;
}

bool RawInflate(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return InflateDirect(settings, false, outputSize, seconds);
}

bool LibdeflateInflate(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return InflateDirect(settings, true, outputSize, seconds);
}

// DecompressMovie over the movie file `name` of the scratch folder.
bool DecompressFile(const Settings& settings, const std::string& name, uint64_t* outputSize,
                    double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, name), &size);
    if (!movie)
        return false;
    Clock::time_point start = Clock::now();
    movie = DecompressMovie(nullptr, movie, &size);
    *seconds = SecondsSince(start);
    *outputSize = size;
    MemFree(movie);
    return movie != nullptr;
}

bool Decompress(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return DecompressFile(settings, Derived("-cws.swf"), outputSize, seconds);
}

// A Save of the subject's "CWS" form, file to file; a "CWS" output is
// checked with zlib's inflate.
bool Rebuild(const Settings& settings, MovieAction action, uint64_t* outputSize,
             double* seconds)
{
    std::string output = PathOf(settings, "rebuilt.swf");
    Clock::time_point start = Clock::now();
    bool ok = !Failed(RebuildMovieFile(nullptr, PathOf(settings, Derived("-cws.swf")).c_str(),
                                       output.c_str(), nullptr,
                                       MakeRebuildMode(PlayerAction::Remove, action)));
    *seconds = SecondsSince(start);
    struct stat status;
    *outputSize = stat(output.c_str(), &status) == 0 ? (uint64_t)status.st_size : 0;
    if (action == MovieAction::Compress)
        ok = ok && InflatesTo(output, nullptr, 0, PathOf(settings, subject));
    return ok;
}

bool RebuildCompress(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return Rebuild(settings, MovieAction::Compress, outputSize, seconds);
}

bool RebuildDecompress(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return Rebuild(settings, MovieAction::Decompress, outputSize, seconds);
}

// ---- Large movies through quillaro-cli, run as a program ----

// Runs quillaro-cli with `words`, its output to /dev/null; true when it
// succeeded. Its peak memory (wait4) goes to programPeak.
bool RunCli(const Settings& settings, std::vector<std::string> words)
{
    words.insert(words.begin(), settings.cli);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return false;
    programPeak = (uint64_t)usage.ru_maxrss * 1024;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint64_t FileSize(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? (uint64_t)status.st_size : 0;
}

// save --movie `action` of `input` into `output` (removed first), timed.
bool CliSave(const Settings& settings, const std::string& input, const std::string& output,
             const char* action, uint64_t* outputSize, double* seconds)
{
    unlink(output.c_str());
    Clock::time_point start = Clock::now();
    bool ok = RunCli(settings, {"save", input, output, "--movie", action, "--quiet"});
    *seconds = SecondsSince(start);
    *outputSize = FileSize(output);
    return ok;
}

// The subject to "CWS", kept as its "-cws.swf" form and checked with zlib.
bool CliCompress(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    std::string output = PathOf(settings, Derived("-cws.swf"));
    return CliSave(settings, PathOf(settings, subject), output, "compress", outputSize,
                   seconds) &&
           InflatesTo(output, nullptr, 0, PathOf(settings, subject));
}

bool CliDecompress(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    std::string output = PathOf(settings, Derived("-fws.swf"));
    bool ok = CliSave(settings, PathOf(settings, Derived("-cws.swf")), output, "decompress",
                      outputSize, seconds);
    ok = ok && *outputSize == FileSize(PathOf(settings, subject));
    unlink(output.c_str());
    return ok;
}

// A command over the subject's "CWS" form that writes nothing.
bool CliReads(const Settings& settings, std::vector<std::string> words, uint64_t* outputSize,
              double* seconds)
{
    words.push_back(PathOf(settings, Derived("-cws.swf")));
    Clock::time_point start = Clock::now();
    bool ok = RunCli(settings, words);
    *seconds = SecondsSince(start);
    *outputSize = 0;
    return ok;
}

bool CliCheck(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return CliReads(settings, {"check"}, outputSize, seconds);
}

bool CliFacts(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return CliReads(settings, {"info", "--facts"}, outputSize, seconds);
}

// Removes the folders the batches wrote into, and what they hold.
void RemoveBatchOutputs(const std::string& folder)
{
    DIR* listing = opendir(folder.c_str());
    while (dirent* entry = listing ? readdir(listing) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;
        std::string run = folder + "/" + entry->d_name;
        DIR* files = opendir(run.c_str());
        while (dirent* file = files ? readdir(files) : nullptr) {
            if (strcmp(file->d_name, ".") != 0 && strcmp(file->d_name, "..") != 0)
                unlink((run + "/" + file->d_name).c_str());
        }
        if (files)
            closedir(files);
        if (rmdir(run.c_str()) != 0)
            unlink(run.c_str());  // a file of an older bench
    }
    if (listing)
        closedir(listing);
}

// Sets up a batch run in its child: a new folder for its outputs (new
// files, as a collection's first conversion), and the memory setting of
// quillaro-cli. Each run has a folder of its own, removed only when all
// batches are done: right after thousands of files are deleted, ext4
// without a journal (as on these machines) looks past every recently
// deleted inode for each new file, which took a third of a batch's time
// when the runs shared one emptied folder.
std::string NewBatchFolder(const Settings& settings)
{
    std::string folder = PathOf(settings, "batch-out/" + std::to_string(getpid()));
    mkdir(folder.c_str(), 0777);
    sync();  // what earlier runs wrote is on the disk before this one starts
    KeepFreedMemory();
    return folder;
}

// A batch of `count` small movies through quillaro-cli with `jobs` jobs.
bool Batch(const Settings& settings, uint32_t count, const char* jobs, uint64_t* outputSize,
           double* seconds)
{
    std::string folder = NewBatchFolder(settings);
    std::vector<std::string> words = {"quillaro-cli", "save", "--movie", "compress",
                                      "--quiet", "--jobs", jobs, "--out-dir", folder};
    for (uint32_t i = 0; i < count; i++)
        words.push_back(PathOf(settings, "batch/" + std::to_string(i) + ".swf"));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    Clock::time_point start = Clock::now();
    int code = CliMain((int)argv.size(), argv.data(), stdout, stderr);
    *seconds = SecondsSince(start);
    *outputSize = count;
    return code == 0;
}

uint32_t batchCount = 0;  // the batch size of the Batch cases, set before forking

// The reference for the batches: a plain program on one thread, as a
// script would be: each file read, its body deflated by zlib at its
// default level, written to its new name, flushed (fsync) and closed,
// one after the other.
bool PlainZlibFile(const std::string& input, const std::string& output)
{
    uint32_t size;
    unsigned char* movie = LoadFile(input, &size);
    if (!movie || size < movieHeaderSize)
        return false;
    uLongf length = compressBound(size - movieHeaderSize);
    std::vector<unsigned char> stored(movieHeaderSize + length);
    memcpy(stored.data(), movie, movieHeaderSize);
    stored[0] = 'C';
    bool ok = compress2(stored.data() + movieHeaderSize, &length, movie + movieHeaderSize,
                        size - movieHeaderSize, Z_DEFAULT_COMPRESSION) == Z_OK;
    MemFree(movie);
    int descriptor = ok ? open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666) : -1;
    size_t total = movieHeaderSize + length;
    ok = descriptor >= 0 && write(descriptor, stored.data(), total) == (ssize_t)total &&
         fsync(descriptor) == 0;
    return descriptor >= 0 && close(descriptor) == 0 && ok;
}

bool PlainScript(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    std::string folder = NewBatchFolder(settings);
    bool ok = true;
    Clock::time_point start = Clock::now();
    for (uint32_t i = 0; i < batchCount && ok; i++) {
        std::string name = std::to_string(i) + ".swf";
        ok = PlainZlibFile(PathOf(settings, "batch/" + name), folder + "/" + name);
    }
    *seconds = SecondsSince(start);
    *outputSize = batchCount;
    return ok;
}

bool BatchOneJob(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return Batch(settings, batchCount, "1", outputSize, seconds);
}

bool BatchAllJobs(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    std::string cores = std::to_string(std::thread::hardware_concurrency());
    return Batch(settings, batchCount, cores.c_str(), outputSize, seconds);
}

// liblzma called directly on the same body with the codec's settings:
// raw LZMA1 at preset 9, a dictionary no larger than the body, an end marker.
bool LzmaFilters(uint32_t bodyLength, lzma_options_lzma* options, lzma_filter* filters)
{
    if (lzma_lzma_preset(options, 9))
        return false;
    if (bodyLength < options->dict_size)
        options->dict_size = bodyLength > LZMA_DICT_SIZE_MIN ? bodyLength : LZMA_DICT_SIZE_MIN;
    filters[0] = {LZMA_FILTER_LZMA1, options};
    filters[1] = {LZMA_VLI_UNKNOWN, nullptr};
    return true;
}

// One liblzma run over `input` into `output`; the encoder when `encode`.
bool LzmaDirect(bool encode, const unsigned char* input, size_t inputLength,
                unsigned char* output, size_t room, uint32_t bodyLength, uint64_t* produced)
{
    lzma_options_lzma options;
    lzma_filter filters[2];
    lzma_stream stream = LZMA_STREAM_INIT;
    bool ok = output && LzmaFilters(bodyLength, &options, filters) &&
              (encode ? lzma_raw_encoder(&stream, filters) : lzma_raw_decoder(&stream, filters)) ==
                  LZMA_OK;
    lzma_ret status = LZMA_PROG_ERROR;
    if (ok) {
        stream.next_in = input;
        stream.avail_in = inputLength;
        stream.next_out = output;
        stream.avail_out = room;
        status = lzma_code(&stream, encode ? LZMA_FINISH : LZMA_RUN);
    }
    *produced = stream.total_out;
    lzma_end(&stream);
    return ok && (status == LZMA_STREAM_END || (!encode && stream.total_out == room));
}

bool LzmaEncodeDirect(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, "lzma.swf"), &size);
    if (!movie)
        return false;
    uint32_t bodyLength = size - movieHeaderSize;
    size_t room = bodyLength + bodyLength / 2 + 65536;
    unsigned char* output = (unsigned char*)malloc(room);
    Clock::time_point start = Clock::now();
    bool ok = LzmaDirect(true, movie + movieHeaderSize, bodyLength, output, room, bodyLength,
                         outputSize);
    *seconds = SecondsSince(start);
    *outputSize += lzmaStreamOffset;
    ok = ok && WriteFile(PathOf(settings, "lzma.raw"), output, *outputSize - lzmaStreamOffset);
    free(output);
    MemFree(movie);
    return ok;
}

bool LzmaEncode(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, "lzma.swf"), &size);
    if (!movie)
        return false;
    uint32_t encodedSize = 0;
    Clock::time_point start = Clock::now();
    unsigned char* encoded = LzmaEncodeMovie(movie, size, &encodedSize, nullptr);
    *seconds = SecondsSince(start);
    *outputSize = encodedSize;
    bool ok = encoded && WriteFile(PathOf(settings, "lzma-zws.swf"), encoded, encodedSize);
    MemFree(encoded);
    MemFree(movie);
    return ok;
}

bool LzmaDecodeDirect(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    uint32_t size, movieSize;
    unsigned char* raw = LoadFile(PathOf(settings, "lzma.raw"), &size);
    unsigned char* movie = LoadFile(PathOf(settings, "lzma.swf"), &movieSize);
    uint32_t bodyLength = movieSize - movieHeaderSize;
    unsigned char* output = raw && movie ? (unsigned char*)malloc(bodyLength) : nullptr;
    Clock::time_point start = Clock::now();
    bool ok = output && LzmaDirect(false, raw, size, output, bodyLength, bodyLength, outputSize);
    *seconds = SecondsSince(start);
    *outputSize += movieHeaderSize;
    free(output);
    MemFree(raw);
    MemFree(movie);
    return ok;
}

bool LzmaDecode(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    return DecompressFile(settings, "lzma-zws.swf", outputSize, seconds);
}

bool LzmaZlibForm(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    uint32_t size;
    unsigned char* movie = LoadFile(PathOf(settings, "lzma.swf"), &size);
    if (!movie)
        return false;
    Clock::time_point start = Clock::now();
    movie = CompressMovie(nullptr, movie, &size);
    *seconds = SecondsSince(start);
    *outputSize = size;
    MemFree(movie);
    return movie != nullptr;
}

// ---- Real movies: every movie of the corpus folder, in its "FWS" form ----

int corpusLevel = 0;  // the level of the Corpus case, set before forking; 0: zlib's level 9

// The uncompressed forms of the movies in the folder (decoded, untimed).
std::vector<std::vector<unsigned char>> LoadCorpus(const Settings& settings)
{
    std::vector<std::vector<unsigned char>> movies;
    DIR* listing = opendir(settings.corpus.c_str());
    while (dirent* entry = listing ? readdir(listing) : nullptr) {
        uint32_t size = 0;
        unsigned char* movie = entry->d_name[0] != '.'
                                   ? LoadFile(settings.corpus + "/" + entry->d_name, &size)
                                   : nullptr;
        // Damaged movies may declare far more than they hold: padding is
        // not what the codecs are compared on.
        bool plausible = size > movieHeaderSize && ReadLe32(movie + 4) / 1032 <= size;
        if (movie && plausible)
            movie = DecompressMovie(nullptr, movie, &size);
        if (movie && size > movieHeaderSize && MovieSignature(ReadLe32(movie)) ==
                                                   signatureUncompressed &&
            ReadLe32(movie + 4) == size)
            movies.emplace_back(movie, movie + size);
        MemFree(movie);
    }
    if (listing)
        closedir(listing);
    return movies;
}

bool Corpus(const Settings& settings, uint64_t* outputSize, double* seconds)
{
    std::vector<std::vector<unsigned char>> movies = LoadCorpus(settings);
    bool ok = !movies.empty();
    *outputSize = 0;
    *seconds = 0;
    for (const std::vector<unsigned char>& movie : movies) {
        uLongf length = compressBound((uLong)movie.size());
        std::vector<unsigned char> output(corpusLevel == 0 ? length : 0);
        unsigned char* block = corpusLevel != 0 ? (unsigned char*)MemAlloc(movie.size()) : nullptr;
        if (block)
            memcpy(block, movie.data(), movie.size());
        uint32_t size = (uint32_t)movie.size();
        Clock::time_point start = Clock::now();
        if (corpusLevel == 0)
            ok = ok && compress2(output.data(), &length, movie.data() + movieHeaderSize,
                                 (uLong)movie.size() - movieHeaderSize, 9) == Z_OK;
        else
            ok = ok && (block = CompressMovie(nullptr, block, &size, nullptr, 1, corpusLevel));
        *seconds += SecondsSince(start);
        *outputSize += corpusLevel == 0 ? length + movieHeaderSize : size;
        MemFree(block);
    }
    return ok;
}

bool Nothing(const Settings&, uint64_t* outputSize, double* seconds)
{
    *outputSize = 0;
    *seconds = 0;
    return true;
}

// Runs `run` in a child, best of the settings' runs; the child's peak
// memory comes from wait4.
Measure RunCase(const Settings& settings, Case run, int runs)
{
    Measure measure = {};
    int channel[2];
    if (pipe(channel) != 0)
        return measure;
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        Measure best = {1e30, 0, 1, 0};
        for (int i = 0; i < runs && best.ok; i++) {
            double seconds = 0;
            best.ok = run(settings, &best.outputSize, &seconds);
            if (seconds < best.seconds)
                best.seconds = seconds;
            best.peakBytes = programPeak > best.peakBytes ? programPeak : best.peakBytes;
        }
        ssize_t sent = write(channel[1], &best, sizeof best);
        _exit(sent == (ssize_t)sizeof best ? 0 : 1);
    }
    close(channel[1]);
    bool received = child > 0 && read(channel[0], &measure, sizeof measure) == sizeof measure;
    close(channel[0]);
    int status = 0;
    struct rusage usage = {};
    if (child > 0)
        wait4(child, &status, 0, &usage);
    if (!received)
        measure.ok = 0;
    if (measure.peakBytes == 0)
        measure.peakBytes = (uint64_t)usage.ru_maxrss * 1024;
    return measure;
}

// The cases of one comparison, run in turn `runs` times, so that a slow
// spell of the machine falls on all of them alike; each keeps its best.
std::vector<Measure> RunAlternating(const Settings& settings, const std::vector<Case>& cases,
                                    int runs)
{
    std::vector<Measure> best(cases.size());
    for (int i = 0; i < runs; i++) {
        for (size_t c = 0; c < cases.size(); c++) {
            Measure measure = RunCase(settings, cases[c], 1);
            if (i == 0 || (measure.ok && measure.seconds < best[c].seconds)) {
                uint64_t peak = best[c].peakBytes;
                best[c] = measure;
                best[c].peakBytes = peak > measure.peakBytes ? peak : measure.peakBytes;
            }
            best[c].ok = best[c].ok && measure.ok;
        }
    }
    return best;
}

double Mb(uint64_t bytes) { return bytes / 1e6; }
double MiB(uint64_t bytes) { return (double)bytes / mebibyte; }

// A row: the time, the speed against `reference` seconds, the output and,
// against `referenceSize` (0: none), its size.
void PrintRow(const char* name, const Measure& measure, double reference,
              uint64_t referenceSize = 0)
{
    if (!measure.ok) {
        printf("%-36s FAILED\n", name);
        return;
    }
    char size[16] = "";
    if (referenceSize != 0)
        snprintf(size, sizeof size, "%.4fx", (double)measure.outputSize / referenceSize);
    printf("%-36s %8.3f s  %6.2fx  %10.3f MB  %8s  %8.1f MiB\n", name, measure.seconds,
           measure.seconds > 0 ? reference / measure.seconds : 0.0, Mb(measure.outputSize), size,
           MiB(measure.peakBytes));
}

void PrintHeading()
{
    printf("%-36s %10s  %7s  %13s  %8s  %12s\n", "case", "time", "speed", "output", "size",
           "peak");
}

// The real movies: zlib's level 9 against the default and the best level.
void RunCorpus(const Settings& settings)
{
    printf("\nReal movies (%s), each deflated whole on one thread:\n", settings.corpus.c_str());
    std::vector<Measure> measures;
    for (int level : {0, deflateLevelDefault, deflateLevelBest}) {
        corpusLevel = level;
        measures.push_back(RunAlternating(settings, {Corpus}, settings.runs)[0]);
    }
    const Measure& zlib = measures[0];
    PrintRow("zlib level 9", zlib, zlib.seconds, zlib.outputSize);
    PrintRow("CompressMovie", measures[1], zlib.seconds, zlib.outputSize);
    PrintRow("CompressMovie, best level", measures[2], zlib.seconds, zlib.outputSize);
}

// LZMA next to liblzma called directly, on a smaller movie of its own.
void RunLzma(const Settings& settings)
{
    std::vector<unsigned char> movie = MakeMovie((uint32_t)(settings.lzmaMb * mebibyte), 3);
    movie[3] = 13;  // the oldest version an LZMA movie may have
    if (!WriteFile(PathOf(settings, "lzma.swf"), movie.data(), movie.size())) {
        printf("the LZMA movie could not be written\n");
        return;
    }
    printf("\nLZMA (preset 9) on a %u MiB movie of the same mix:\n", settings.lzmaMb);
    std::vector<Measure> encoders = RunAlternating(settings, {LzmaEncodeDirect, LzmaEncode},
                                                   settings.runs);
    std::vector<Measure> decoders = RunAlternating(settings, {LzmaDecodeDirect, LzmaDecode},
                                                   settings.runs);
    const Measure& direct = encoders[0];
    const Measure& encode = encoders[1];
    const Measure& decodeDirect = decoders[0];
    const Measure& decode = decoders[1];
    Measure zlibForm = RunCase(settings, LzmaZlibForm, 1);
    PrintRow("liblzma encode, called directly", direct, direct.seconds, direct.outputSize);
    PrintRow("LzmaEncodeMovie", encode, direct.seconds, direct.outputSize);
    PrintRow("liblzma decode, called directly", decodeDirect, decodeDirect.seconds);
    PrintRow("DecompressMovie (ZWS)", decode, decodeDirect.seconds);
    PrintRow("CompressMovie (CWS) of the same", zlibForm, zlibForm.seconds, direct.outputSize);
    printf("  within 5%% of liblzma: encode %+.1f%%, decode %+.1f%%; ZWS is %.1f%% of the CWS size\n",
           100.0 * (encode.seconds / direct.seconds - 1),
           100.0 * (decode.seconds / decodeDirect.seconds - 1),
           100.0 * encode.outputSize / zlibForm.outputSize);
}

bool MakeBatch(const Settings& settings, uint32_t count)
{
    mkdir(PathOf(settings, "batch").c_str(), 0777);
    mkdir(PathOf(settings, "batch-out").c_str(), 0777);
    for (uint32_t i = 0; i < count; i++) {
        std::vector<unsigned char> movie = MakeMovie(settings.batchFileKb * 1024, i + 7);
        std::string path = PathOf(settings, "batch/" + std::to_string(i) + ".swf");
        if (!WriteFile(path, movie.data(), movie.size()))
            return false;
    }
    return true;
}

// Removes the small movies of the batches.
void RemoveBatchInputs(const Settings& settings, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        unlink(PathOf(settings, "batch/" + std::to_string(i) + ".swf").c_str());
    rmdir(PathOf(settings, "batch").c_str());
}

void RunBatchComparison(const Settings& settings, uint32_t count)
{
    batchCount = count;
    std::vector<Measure> batches =
        RunAlternating(settings, {PlainScript, BatchOneJob, BatchAllJobs}, settings.runs);
    const Measure& reference = batches[0];
    std::string name = std::to_string(count) + " files, plain zlib + fsync";
    PrintRow(name.c_str(), reference, reference.seconds);
    name = std::to_string(count) + " files, 1 job";
    PrintRow(name.c_str(), batches[1], reference.seconds);
    name = std::to_string(count) + " files, all jobs";
    PrintRow(name.c_str(), batches[2], reference.seconds);
    printf("  target: all jobs at least 3x the plain program: %.2fx\n",
           reference.seconds / batches[2].seconds);
}

// Time and memory per file of all jobs at 1,000 and at 50,000 files.
void RunScaling(const Settings& settings)
{
    printf("\nBatches of 1,000 and 50,000 files, all jobs (one run each):\n");
    Measure small = {}, large = {};
    for (uint32_t count : {1000u, 50000u}) {
        batchCount = count;
        Measure measure = RunCase(settings, BatchAllJobs, 1);
        std::string name = std::to_string(count) + " files, all jobs";
        PrintRow(name.c_str(), measure, measure.seconds);
        printf("%-34s %8.3f ms per file\n", "", measure.seconds * 1000 / count);
        (count == 1000 ? small : large) = measure;
        RemoveBatchOutputs(PathOf(settings, "batch-out"));
    }
    printf("  target: flat from 1,000 to 50,000 files: time per file %.2fx; peak %.1f -> %.1f "
           "MiB, %.2f KiB per file added (the names given and the outputs claimed)\n",
           (large.seconds / 50000) / (small.seconds / 1000), MiB(small.peakBytes),
           MiB(large.peakBytes), ((double)large.peakBytes - (double)small.peakBytes) / 49000 / 1024);
}

void RunBatches(const Settings& settings)
{
    uint32_t largest = settings.scaling && settings.batchFiles < 50000 ? 50000 : settings.batchFiles;
    if (!MakeBatch(settings, largest)) {
        printf("the batch files could not be written\n");
        RemoveBatchInputs(settings, largest);
        return;
    }
    RemoveBatchOutputs(PathOf(settings, "batch-out"));
    printf("\nBatch of small movies (%u KiB each), save --movie compress into a new folder:\n",
           settings.batchFileKb);
    RunBatchComparison(settings, settings.batchFiles);
    RemoveBatchOutputs(PathOf(settings, "batch-out"));
    if (settings.scaling)
        RunScaling(settings);
    RemoveBatchInputs(settings, largest);
    rmdir(PathOf(settings, "batch-out").c_str());
}

// "64,256,1024" -> {64, 256, 1024}; sizes out of range are left out.
std::vector<uint32_t> SizesOf(const char* text)
{
    std::vector<uint32_t> sizes;
    for (const char* at = text; *at; at += *at == ',') {
        char* end;
        unsigned long size = strtoul(at, &end, 10);
        if (end == at)
            break;
        if (size >= 1 && size <= 4095)
            sizes.push_back((uint32_t)size);
        at = end;
    }
    return sizes;
}

bool ParseSettings(int argc, char** argv, Settings* settings)
{
    for (int i = 1; i < argc; i++) {
        std::string word = argv[i];
        bool hasValue = i + 1 < argc;
        if (word == "--size-mb" && hasValue)
            settings->sizeMb = (uint32_t)atoi(argv[++i]);
        else if (word == "--whole-mb" && hasValue)
            settings->wholeMb = (uint32_t)atoi(argv[++i]);
        else if (word == "--lzma-mb" && hasValue)
            settings->lzmaMb = (uint32_t)atoi(argv[++i]);
        else if (word == "--runs" && hasValue)
            settings->runs = atoi(argv[++i]);
        else if (word == "--batch" && hasValue)
            settings->batchFiles = (uint32_t)atoi(argv[++i]);
        else if (word == "--scaling")
            settings->scaling = true;
        else if (word == "--dir" && hasValue)
            settings->folder = argv[++i];
        else if (word == "--corpus" && hasValue)
            settings->corpus = argv[++i];
        else if (word == "--large" && hasValue)
            settings->largeMb = SizesOf(argv[++i]);
        else if (word == "--cli" && hasValue)
            settings->cli = argv[++i];
        else if (word == "--only" && hasValue)
            settings->only = argv[++i];
        else
            return false;
    }
    return settings->sizeMb >= 1 && settings->sizeMb <= 2048 && settings->wholeMb >= 1 &&
           settings->wholeMb <= 2048 && settings->lzmaMb >= 1 && settings->lzmaMb <= 2048 &&
           settings->runs >= 1;
}

bool WriteMovies(const Settings& settings)
{
    std::vector<unsigned char> movie = MakeMovie((uint32_t)(settings.sizeMb * mebibyte), 1);
    if (!WriteFile(PathOf(settings, "movie.swf"), movie.data(), movie.size()))
        return false;
    movie = MakeMovie((uint32_t)(settings.wholeMb * mebibyte), 2);
    return WriteFile(PathOf(settings, "whole.swf"), movie.data(), movie.size());
}

// An FWS movie file of `bodyLength` bytes of the same mix, written in
// pieces so that the bench itself stays small.
bool WriteLargeMovie(const std::string& path, uint64_t bodyLength, uint32_t seed)
{
    FILE* file = fopen(path.c_str(), "wb");
    unsigned char header[movieHeaderSize];
    WriteLe32(header, 0x0A000000u | signatureUncompressed);
    WriteLe32(header + 4, (uint32_t)(bodyLength + movieHeaderSize));
    bool ok = file && fwrite(header, 1, movieHeaderSize, file) == movieHeaderSize;
    const size_t segment = 64 * 1024;
    std::vector<unsigned char> piece(segment);
    uint32_t state = seed * 2654435761u + 1;
    for (uint64_t start = 0, index = 0; ok && start < bodyLength; start += segment, index++) {
        size_t length = bodyLength - start < segment ? (size_t)(bodyLength - start) : segment;
        if (index % 4 == 3)
            FillNoise(piece.data(), length, &state);
        else
            FillTags(piece.data(), length, &state);
        ok = fwrite(piece.data(), 1, length, file) == length;
    }
    return file && fclose(file) == 0 && ok;
}

// A large movie through quillaro-cli, a program of its own, beside zlib
// called directly in memory: compress against zlib's level 9, and
// decompress, check and info --facts of the result against zlib's raw
// inflate. Returns the largest peak of quillaro-cli.
uint64_t RunLarge(const Settings& settings, uint32_t sizeMb)
{
    subject = "large.swf";
    if (!WriteLargeMovie(PathOf(settings, subject), (uint64_t)sizeMb * mebibyte, 5)) {
        printf("the %u MiB movie could not be written\n", sizeMb);
        return 0;
    }
    printf("\nThe %u MiB movie through quillaro-cli (a child process; one run each):\n", sizeMb);
    Measure zlib = RunCase(settings, ZlibLevel9, 1);
    Measure compress = RunCase(settings, CliCompress, 1);
    Measure inflate = RunCase(settings, RawInflate, 1);
    std::vector<Measure> readers =
        RunAlternating(settings, {CliDecompress, CliCheck, CliFacts}, 1);
    PrintRow("zlib level 9, in memory", zlib, zlib.seconds, zlib.outputSize);
    PrintRow("save --movie compress", compress, zlib.seconds, zlib.outputSize);
    PrintRow("zlib raw inflate, in memory", inflate, inflate.seconds);
    PrintRow("save --movie decompress", readers[0], inflate.seconds);
    PrintRow("check", readers[1], inflate.seconds);
    PrintRow("info --facts", readers[2], inflate.seconds);
    unlink(PathOf(settings, subject).c_str());
    unlink(PathOf(settings, Derived("-cws.swf")).c_str());
    uint64_t peak = compress.peakBytes;
    for (const Measure& measure : readers)
        peak = measure.peakBytes > peak ? measure.peakBytes : peak;
    return peak;
}

void RunLargeMovies(const Settings& settings)
{
    for (uint32_t sizeMb : settings.largeMb) {
        uint64_t peak = RunLarge(settings, sizeMb);
        printf("  largest peak of quillaro-cli: %.1f MiB (target for 1 GiB: at most 64 MiB)\n",
               MiB(peak));
    }
}

// The large movie: zlib's level 9, libdeflate called directly, and
// CompressMovie (in blocks) on one thread and on all cores, then a Save
// that recompresses it. Returns the zlib row, the all-cores row and the
// Save's.
void RunBlocks(const Settings& settings, Measure* zlib, Measure* all, Measure* recompress)
{
    subject = "movie.swf";
    printf("\nThe %u MiB movie (deflated in blocks: longer than %u MiB):\n", settings.sizeMb,
           (unsigned)(wholeBodyLimit / mebibyte));
    std::vector<Measure> measures = RunAlternating(
        settings, {ZlibLevel9, LibdeflateDefault, CompressOneThread, CompressAllCores, CompressBest},
        settings.runs);
    *zlib = measures[0];
    *all = measures[3];
    uint64_t size = zlib->outputSize;
    std::string direct = "libdeflate level " + std::to_string(deflateLevelDefault) + ", whole";
    PrintRow("zlib level 9, memory level 8", *zlib, zlib->seconds, size);
    PrintRow(direct.c_str(), measures[1], zlib->seconds, size);
    PrintRow("CompressMovie, 1 thread", measures[2], zlib->seconds, size);
    PrintRow("CompressMovie, all cores", *all, zlib->seconds, size);
    PrintRow("CompressMovie best, all cores", measures[4], zlib->seconds, size);
    *recompress = RunCase(settings, RebuildCompress, 1);
    PrintRow("Save CWS -> CWS (recompress)", *recompress, zlib->seconds, size);
}

// The movie deflated and inflated whole, then inflated: zlib's raw inflate
// and libdeflate called directly, DecompressMovie in memory, and a Save
// from file to file. Returns the raw inflate row and the Save's.
void RunWhole(const Settings& settings, Measure* inflate, Measure* save)
{
    subject = "whole.swf";
    printf("\nThe %u MiB movie (deflated and inflated whole):\n", settings.wholeMb);
    std::vector<Measure> measures = RunAlternating(
        settings, {ZlibLevel9, LibdeflateDefault, CompressAllCores}, settings.runs);
    const Measure& zlib = measures[0];
    std::string direct = "libdeflate level " + std::to_string(deflateLevelDefault) + ", whole";
    PrintRow("zlib level 9, memory level 8", zlib, zlib.seconds, zlib.outputSize);
    PrintRow(direct.c_str(), measures[1], zlib.seconds, zlib.outputSize);
    PrintRow("CompressMovie", measures[2], zlib.seconds, zlib.outputSize);
    measures = RunAlternating(settings, {RawInflate, LibdeflateInflate, Decompress,
                                         RebuildDecompress}, settings.runs);
    *inflate = measures[0];
    *save = measures[3];
    PrintRow("zlib raw inflate, in memory", *inflate, inflate->seconds);
    PrintRow("libdeflate inflate, in memory", measures[1], inflate->seconds);
    PrintRow("DecompressMovie, in memory", measures[2], inflate->seconds);
    PrintRow("Save CWS -> FWS, file to file", *save, inflate->seconds);
}

// Whether the settings ask for `part` (all parts when none is named).
bool Wanted(const Settings& settings, const char* part)
{
    std::string list = "," + settings.only + ",";
    return settings.only.empty() || list.find("," + std::string(part) + ",") != std::string::npos;
}

// quillaro-cli of the same build: build/X/cli/ beside build/X/tools/bench/.
std::string DefaultCli()
{
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "quillaro-cli";
    std::string self(path, (size_t)length);
    size_t bench = self.rfind("/tools/bench/");
    return bench == std::string::npos ? "quillaro-cli" : self.substr(0, bench) + "/cli/quillaro-cli";
}

// Removes what the bench left in its folder, and the folder when empty.
void RemoveScratch(const Settings& settings)
{
    for (const char* name : {"movie.swf", "movie-cws.swf", "whole.swf", "whole-cws.swf",
                             "rebuilt.swf", "lzma.swf", "lzma.raw", "lzma-zws.swf"})
        unlink(PathOf(settings, name).c_str());
    rmdir(settings.folder.c_str());
}

void RunCodecs(const Settings& settings)
{
    unsigned cores = std::thread::hardware_concurrency();
    Measure baseline = RunCase(settings, Nothing, 1);
    Measure zlib, all, recompress, inflate, save;
    RunBlocks(settings, &zlib, &all, &recompress);
    RunWhole(settings, &inflate, &save);
    printf("(a child that does nothing peaks at %.1f MiB)\n", MiB(baseline.peakBytes));

    printf("\nTargets:\n");
    printf("  %u MiB on all cores: %.2fx zlib level 9 (at least 3.5x, goal 4x), output %.4fx "
           "its size (at most 0.99x)\n", settings.sizeMb, zlib.seconds / all.seconds,
           (double)all.outputSize / zlib.outputSize);
    printf("  %u MiB Save CWS -> FWS: %.2fx zlib's raw inflate in memory (at least 1.8x)\n",
           settings.wholeMb, inflate.seconds / save.seconds);
    printf("  peak of a Save <= stored + converted + 2 MiB per thread + baseline: %.1f MiB <= "
           "%.1f MiB\n", MiB(recompress.peakBytes),
           MiB(all.outputSize * 2 + 2 * mebibyte * cores + baseline.peakBytes));
    printf("  in-memory CompressMovie: %.1f MiB for a %u MiB movie\n", MiB(all.peakBytes),
           settings.sizeMb);
}

}  // namespace

int main(int argc, char** argv)
{
    Settings settings;
    settings.cli = DefaultCli();
    if (!ParseSettings(argc, argv, &settings)) {
        fprintf(stderr, "usage: quillaro-bench [--size-mb N] [--whole-mb N] [--lzma-mb N] "
                        "[--runs N] [--batch FILES] [--scaling] [--large MB,MB...] "
                        "[--cli PROGRAM] [--only codecs,corpus,lzma,batch,large] "
                        "[--dir FOLDER] [--corpus FOLDER]\n");
        return 2;
    }
    mkdir(settings.folder.c_str(), 0777);
    if (!WriteMovies(settings)) {
        fprintf(stderr, "quillaro-bench: cannot write into %s\n", settings.folder.c_str());
        return 1;
    }
    printf("Movies of tags and noise; %u cores; best of %d runs, the cases of a comparison in "
           "turn;\nspeed against the first row, size against zlib level 9; peak = resident "
           "memory\n\n", std::thread::hardware_concurrency(), settings.runs);
    PrintHeading();
    if (Wanted(settings, "codecs"))
        RunCodecs(settings);
    if (!settings.corpus.empty() && Wanted(settings, "corpus"))
        RunCorpus(settings);
    if (Wanted(settings, "lzma"))
        RunLzma(settings);
    if (Wanted(settings, "batch"))
        RunBatches(settings);
    if (Wanted(settings, "large"))
        RunLargeMovies(settings);
    RemoveScratch(settings);
    return 0;
}
