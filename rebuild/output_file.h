// output_file.h - the life of every file the program writes: opened beside
// its destination, written, then placed over the destination in one step
// or abandoned, so that no failure loses or half-writes a file.
#pragma once

#include <cstdint>

#include "common/failure.h"
#include "common/platform.h"

// An output being written. `tempPath` is a MemAlloc block owned here;
// `size` counts the bytes written.
struct OutputFile {
    PlatformFile* file;
    char* tempPath;
    uint64_t size;
};

// Opens an output beside `destinationPath`. CreateFailed when no file can
// be created there (or the path is null); `*output` is then empty.
Failure OpenOutput(OutputFile* output, const char* destinationPath);

// Appends `count` bytes; false when they could not all be written.
bool WriteOutput(OutputFile* output, const void* data, uint32_t count);

// Writes `count` bytes over those at `offset`, which were written before
// (a size known only once what follows it is written); later writes
// still append. False when that failed.
bool PatchOutput(OutputFile* output, uint64_t offset, const void* data, uint32_t count);

// Flushes the output to the disk and moves it to `destinationPath` as
// `commit` says: None, OutputExists or WriteFailed. The output is closed
// and its temporary gone afterwards, whatever the result.
Failure PlaceOutput(OutputFile* output, const char* destinationPath, CommitMode commit);

// Drops an unfinished output; the destination is untouched. An empty
// output is ignored.
void AbandonOutput(OutputFile* output);
