// pe_version.cpp - fuzz target: the portable reader of a program's
// version resource, over any file. It must read nothing outside the file;
// a version it finds is the file's on every read.
#include "movie/version_resource.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = ScratchPath("player.exe");
    WriteScratchFile(path, data, size);
    PackedVersion version = ReadVersionResourceOfFile(path);
    FUZZ_CHECK(GetPlayerVersion(path) == version);
    // The block reader on its own, with the input taken as a version block.
    FixedFileVersionIn(data, size);
    return 0;
}
