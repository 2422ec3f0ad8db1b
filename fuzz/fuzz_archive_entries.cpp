// archive_entries.cpp - fuzz target: any file to the collection walk,
// once with its entries held in memory and once read again from the
// archive. Every entry read lies within its bytes, and an entry read both
// ways reads the same, and checks the same through its byte source.
#include <map>
#include <string>

#include "rebuild/collection_walk.h"
#include "rebuild/movie_check.h"
#include "fuzz_support.h"

namespace {

std::string Describe(const CollectionEntry& entry)
{
    const MovieInfo& at = entry.location;
    FUZZ_CHECK((uint64_t)at.movieOffset + at.movieSize <= entry.size);
    FUZZ_CHECK(at.playerSize <= entry.size && entry.hasFileSha256);
    MovieCheck check;
    Failure checked = CheckMovieSource(entry.source, at, nullptr, &check);
    return std::to_string((int)checked.kind) + " " + std::to_string((int)check.health) + " " +
           std::to_string(check.decodedLength) + " " + std::to_string(entry.size) + " " +
           std::to_string((int)at.layout) + " " +
           std::to_string(at.header) + " " + std::to_string(at.movieOffset) + "+" +
           std::to_string(at.movieSize) + " " +
           std::string((const char*)entry.fileSha256, sha256Size);
}

bool Collect(const CollectionEntry& entry, void* context)
{
    FUZZ_CHECK(entry.depth >= 1 && entry.depth <= archiveNestingLimit);
    if (!entry.failed)
        (*(std::map<std::string, std::string>*)context)[entry.name] = Describe(entry);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = ScratchPath("collection");
    WriteScratchFile(path, data, size);
    std::map<std::string, std::string> held, reread;
    std::string error;
    WalkCollection(path, "c", CollectionOptions{false, 0, ""}, Collect, &held, &error);
    WalkCollection(path, "c", CollectionOptions{false, 1, ""}, Collect, &reread, &error);
    for (const auto& entry : held) {
        auto other = reread.find(entry.first);
        if (other != reread.end())
            FUZZ_CHECK(other->second == entry.second);
    }
    return 0;
}
