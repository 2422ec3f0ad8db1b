// fuzz_support.cpp - the scratch folder and the invariant check of the
// fuzz targets (POSIX: the fuzzers run on Linux).
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "common/platform.h"
#include "movie/movie_facts.h"

namespace {
std::string scratchFolder;
std::vector<std::string> scratchFiles;

void RemoveScratchFolder()
{
    for (const std::string& file : scratchFiles)
        unlink(file.c_str());
    rmdir(scratchFolder.c_str());
}
}  // namespace

void FuzzCheckFailed(const char* file, int line, const char* condition)
{
    fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    abort();
}

const char* ScratchPath(const char* name)
{
    if (scratchFolder.empty()) {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillaro-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            FuzzCheckFailed(__FILE__, __LINE__, "mkdtemp");
        scratchFolder = pattern;
        atexit(RemoveScratchFolder);
    }
    std::string path = scratchFolder + "/" + name;
    for (const std::string& file : scratchFiles)
        if (file == path)
            return file.c_str();
    // Reserved up front so that the texts handed out never move.
    scratchFiles.reserve(16);
    FUZZ_CHECK(scratchFiles.size() < 16);
    scratchFiles.push_back(path);
    return scratchFiles.back().c_str();
}

void WriteScratchFile(const char* path, const uint8_t* data, size_t size)
{
    FILE* file = fopen(path, "wb");
    FUZZ_CHECK(file != nullptr);
    bool written = fwrite(data, 1, size, file) == size;
    FUZZ_CHECK(fclose(file) == 0 && written);
}

unsigned char* ReadScratchFile(const char* path, size_t* size)
{
    *size = 0;
    FILE* file = fopen(path, "rb");
    if (!file)
        return nullptr;
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + count);
    fclose(file);
    unsigned char* copy = (unsigned char*)MemAlloc(bytes.size() + 1);
    if (!copy)
        return nullptr;
    for (size_t i = 0; i < bytes.size(); i++)
        copy[i] = bytes[i];
    *size = bytes.size();
    return copy;
}

bool SameFacts(const MovieFacts& a, const MovieFacts& b)
{
    return a.hasStage == b.hasStage && a.stageWidthTwips == b.stageWidthTwips &&
           a.stageHeightTwips == b.stageHeightTwips && a.hasFrames == b.hasFrames &&
           a.frameRate == b.frameRate && a.frameCount == b.frameCount &&
           a.tagCount == b.tagCount && a.endTag == b.endTag &&
           memcmp(a.tagCounts, b.tagCounts, sizeof a.tagCounts) == 0 &&
           a.hasBackground == b.hasBackground && a.background == b.background &&
           a.hasFileAttributes == b.hasFileAttributes && a.fileAttributes == b.fileAttributes &&
           a.hasMetadata == b.hasMetadata && a.metadata == b.metadata &&
           a.isProtected == b.isProtected && a.debugger == b.debugger;
}

static bool AppendBytes(void* context, const unsigned char* data, size_t length)
{
    std::vector<unsigned char>* bytes = (std::vector<unsigned char>*)context;
    bytes->insert(bytes->end(), data, data + length);
    return true;
}

ByteSink VectorSink(std::vector<unsigned char>* bytes)
{
    return ByteSink{AppendBytes, nullptr, bytes};
}
