// platform_output.cpp - an output's commit in one call, over the steps
// that each platform's output file provides.
#include "common/platform.h"
#include "common/platform_file.h"

CommitResult CommitOutput(PlatformFile* file, const char* destinationPath, CommitMode mode)
{
    CommitResult result =
        FlushOutput(file) ? NameOutput(file, destinationPath, mode) : CommitResult::Failed;
    if (result != CommitResult::Done) {
        DiscardOutput(file);
        return result;
    }
    return FinishOutput(file, FlushOutputFolder(file));
}

CommitResult FinishOutput(PlatformFile* file, bool folderFlushed)
{
    // A name whose folder did not reach the disk may be gone after a power
    // cut: a new one is taken back, and the failure said. One that replaced
    // a file stays (the old bytes are gone either way), with its own result.
    bool replaced = file->output.replaced;
    CommitResult result = folderFlushed ? CommitResult::Done
                          : replaced    ? CommitResult::NotFlushed
                                        : CommitResult::Failed;
    EndOutput(file, !folderFlushed && !replaced);
    return result;
}
