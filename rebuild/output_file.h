// output_file.h - the life of every file the program writes: opened beside
// its destination, written, then put in place over the destination in one
// step (its data and its folder flushed first) or abandoned, so that no
// failure and no crash loses or half-writes a file.
#pragma once

#include <cstdint>

#include "common/failure.h"
#include "common/platform.h"

// An output being written; `size` counts the bytes written, of which
// the writing to the disk of the first `flushStarted` has been started.
struct OutputFile {
    PlatformFile* file;
    uint64_t size;
    uint64_t flushStarted = 0;
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

// Puts the output in place at `destinationPath` as `commit` says, its
// data and then its folder flushed to the disk: None, OutputExists,
// WriteFailed, or NotFlushed (it replaced the destination, but the folder
// could not be flushed). The output is closed afterwards, whatever the
// result, and nothing of it is left but the destination.
Failure PlaceOutput(OutputFile* output, const char* destinationPath, CommitMode commit);

// PlaceOutput in steps, for a batch that makes a group of outputs durable
// together and flushes a folder once for all the outputs it put there:
// StartFlushOutputFile as soon as each is written, FlushOutputFile for
// each of the group, then NameOutputFile for each that was flushed,
// FlushFolderOf once for each folder, and FinishOutputFile for each with
// what that flush returned. On a failure of FlushOutputFile or
// NameOutputFile the output is gone; on None it stays open.
void StartFlushOutputFile(OutputFile* output);
Failure FlushOutputFile(OutputFile* output);
Failure NameOutputFile(OutputFile* output, const char* destinationPath, CommitMode commit);
bool FlushFolderOf(OutputFile* output);
Failure FinishOutputFile(OutputFile* output, bool folderFlushed);

// Drops an unfinished output; the destination is untouched. An empty
// output is ignored.
void AbandonOutput(OutputFile* output);
