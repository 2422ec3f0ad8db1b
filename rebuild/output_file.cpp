// output_file.cpp - one output file's life over the platform's files.
#include "rebuild/output_file.h"

Failure OpenOutput(OutputFile* output, const char* destinationPath)
{
    output->tempPath = nullptr;
    output->size = 0;
    output->file = destinationPath ? CreateTempFileBeside(destinationPath, &output->tempPath)
                                   : nullptr;
    return FailureOf(output->file ? FailureKind::None : FailureKind::CreateFailed);
}

bool WriteOutput(OutputFile* output, const void* data, uint32_t count)
{
    output->size += count;
    return WriteFileBytes(output->file, data, count);
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
    CommitResult result = CommitResult::Failed;
    if (CloseWrittenFile(output->file))
        result = CommitTempFile(output->tempPath, destinationPath, commit);
    if (result != CommitResult::Done)
        DeleteFilePath(output->tempPath);
    MemFree(output->tempPath);
    output->file = nullptr;
    output->tempPath = nullptr;
    if (result == CommitResult::Exists)
        return FailureOf(FailureKind::OutputExists);
    return FailureOf(result == CommitResult::Done ? FailureKind::None : FailureKind::WriteFailed);
}

void AbandonOutput(OutputFile* output)
{
    if (!output->file)
        return;
    CloseWrittenFile(output->file);
    DeleteFilePath(output->tempPath);
    MemFree(output->tempPath);
    output->file = nullptr;
    output->tempPath = nullptr;
}
