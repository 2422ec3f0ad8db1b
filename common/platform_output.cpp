// platform_output.cpp - an output's commit in one call, over the steps
// that each platform's output file provides.
#include "common/platform.h"

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
