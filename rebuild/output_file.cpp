// output_file.cpp - one output file's life over the platform's outputs.
#include "rebuild/output_file.h"

namespace {
Failure FailureOfCommit(CommitResult result)
{
    switch (result) {
    case CommitResult::Done: return NoFailure();
    case CommitResult::Exists: return FailureOf(FailureKind::OutputExists);
    case CommitResult::NotFlushed: return FailureOf(FailureKind::NotFlushed);
    case CommitResult::Failed: break;
    }
    return FailureOf(FailureKind::WriteFailed);
}

// Each time this much more is written, the writing of it to the disk is
// started: the disk writes a large output while the rest is made, and
// the flush before it is named waits for the last part only.
const uint64_t flushStep = 2u << 20;
}  // namespace

Failure OpenOutput(OutputFile* output, const char* destinationPath)
{
    output->size = 0;
    output->flushStarted = 0;
    output->file = destinationPath ? CreateOutputBeside(destinationPath) : nullptr;
    return FailureOf(output->file ? FailureKind::None : FailureKind::CreateFailed);
}

bool WriteOutput(OutputFile* output, const void* data, uint32_t count)
{
    output->size += count;
    if (!WriteFileBytes(output->file, data, count))
        return false;
    uint64_t unstarted = output->size - output->flushStarted;
    if (unstarted >= flushStep) {
        StartFlushOutput(output->file, output->flushStarted, unstarted);
        output->flushStarted = output->size;
    }
    return true;
}

bool PatchOutput(OutputFile* output, uint64_t offset, const void* data, uint32_t count)
{
    if (offset + count > output->size)
        return false;
    return SeekFile(output->file, offset) && WriteFileBytes(output->file, data, count) &&
           SeekFile(output->file, output->size);
}

Failure PlaceOutput(OutputFile* output, const char* destinationPath, CommitMode commit)
{
    CommitResult result = CommitOutput(output->file, destinationPath, commit);
    output->file = nullptr;
    return FailureOfCommit(result);
}

void StartFlushOutputFile(OutputFile* output)
{
    StartFlushOutput(output->file, output->flushStarted, 0);
    output->flushStarted = output->size;
}

Failure FlushOutputFile(OutputFile* output)
{
    if (FlushOutput(output->file))
        return NoFailure();
    AbandonOutput(output);
    return FailureOf(FailureKind::WriteFailed);
}

// The output must have been flushed (FlushOutputFile).
Failure NameOutputFile(OutputFile* output, const char* destinationPath, CommitMode commit)
{
    CommitResult result = NameOutput(output->file, destinationPath, commit);
    if (result != CommitResult::Done)
        AbandonOutput(output);
    return FailureOfCommit(result);
}

bool FlushFolderOf(OutputFile* output)
{
    return FlushOutputFolder(output->file);
}

Failure FinishOutputFile(OutputFile* output, bool folderFlushed)
{
    CommitResult result = FinishOutput(output->file, folderFlushed);
    output->file = nullptr;
    return FailureOfCommit(result);
}

void AbandonOutput(OutputFile* output)
{
    DiscardOutput(output->file);
    output->file = nullptr;
}
