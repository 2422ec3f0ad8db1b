// platform_tests.cpp - the platform layer's file rules that the operations
// above it rely on: readers share and read regular files only, an output
// is committed without replacing when asked, and an unfinished one leaves
// nothing, whether abandoned, swept at exit or killed.
#include <gtest/gtest.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "common/platform.h"
#include "common/platform_file.h"
#include "test_support.h"

namespace {

std::string FreshFolder(const char* name)
{
    MakeFolder(name);
    for (const std::string& file : ListFolder(name))
        RemoveFile(std::string(name) + "/" + file);
    return name;
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// An output for `destination` holding `bytes`, written and not committed.
PlatformFile* WriteNewOutput(const std::string& destination, const Bytes& bytes)
{
    PlatformFile* file = CreateOutputBeside(destination.c_str());
    EXPECT_TRUE(file && WriteFileBytes(file, bytes.data(), (uint32_t)bytes.size()));
    return file;
}

// Two readers at once, and a third program reading meanwhile.
TEST(PlatformFiles, ReadersShareAFile)
{
    WriteWholeFile("shared.bin", Bytes(100, 's'));
    PlatformFile* first = OpenFileForRead("shared.bin");
    PlatformFile* second = OpenFileForRead("shared.bin");
    EXPECT_NE(nullptr, first);
    EXPECT_NE(nullptr, second);
    EXPECT_EQ(Bytes(100, 's'), ReadWholeFile("shared.bin"));
    CloseFile(first);
    CloseFile(second);
}

// The name is taken by someone else between the check and the commit:
// the no-replace commit says so and keeps that file; the replacing one
// replaces it. Only committed outputs are ever seen in the folder.
TEST(PlatformFiles, CommitModes)
{
    std::string folder = FreshFolder("commit");
    std::string destination = folder + "/out.swf";
    WriteWholeFile(destination, Bytes(10, 'o'));
    PlatformFile* output = WriteNewOutput(destination, Bytes(20, 'n'));
#ifdef __linux__
    EXPECT_EQ(std::vector<std::string>{"out.swf"}, ListFolder(folder)) << "unnamed until committed";
#endif
    EXPECT_EQ(CommitResult::Exists, CommitOutput(output, destination.c_str(), CommitMode::NoReplace));
    EXPECT_EQ(Bytes(10, 'o'), ReadWholeFile(destination));
    output = WriteNewOutput(destination, Bytes(20, 'n'));
    EXPECT_EQ(CommitResult::Done, CommitOutput(output, destination.c_str(), CommitMode::Replace));
    EXPECT_EQ(Bytes(20, 'n'), ReadWholeFile(destination));

    output = WriteNewOutput(destination, Bytes(30, 'f'));
    std::string free = folder + "/free.swf";
    EXPECT_EQ(CommitResult::Done, CommitOutput(output, free.c_str(), CommitMode::NoReplace));
    EXPECT_EQ(Bytes(30, 'f'), ReadWholeFile(free));
    DiscardOutput(WriteNewOutput(destination, Bytes(40, 'a')));
    EXPECT_EQ(Sorted({"free.swf", "out.swf"}), Sorted(ListFolder(folder)));
}

// A folder that could not be flushed after the naming: a new name is
// taken back, so that a failure leaves the destination as it was; a file
// that was replaced cannot come back, and the result says so.
TEST(PlatformFiles, UnflushedFolder)
{
    std::string folder = FreshFolder("unflushed");
    std::string destination = folder + "/out.swf";
    WriteWholeFile(destination, Bytes(10, 'o'));
    struct {
        const char* name;
        CommitMode mode;
        CommitResult result;
        Bytes after;
    } cases[] = {
        {"new.swf", CommitMode::NoReplace, CommitResult::Failed, Bytes()},
        {"new.swf", CommitMode::Replace, CommitResult::Failed, Bytes()},
        {"out.swf", CommitMode::Replace, CommitResult::NotFlushed, Bytes(20, 'n')},
    };
    for (const auto& test : cases) {
        std::string path = folder + "/" + test.name;
        PlatformFile* output = WriteNewOutput(path, Bytes(20, 'n'));
        ASSERT_TRUE(FlushOutput(output));
        ASSERT_EQ(CommitResult::Done, NameOutput(output, path.c_str(), test.mode));
        EXPECT_EQ(test.result, FinishOutput(output, false)) << test.name;
        EXPECT_EQ(test.after, FileExists(path) ? ReadWholeFile(path) : Bytes()) << test.name;
    }
    EXPECT_EQ(std::vector<std::string>{"out.swf"}, ListFolder(folder));
}

// An output that is never committed leaves nothing once its handle closes,
// as when the process is killed: it has no name (Linux), or the system
// deletes it (Windows).
TEST(PlatformFiles, KilledOutputLeavesNothing)
{
    std::string folder = FreshFolder("killed");
    PlatformFile* output = WriteNewOutput(folder + "/out.swf", Bytes(10, 'k'));
    ASSERT_NE(nullptr, output);
#ifdef _WIN32
    CloseHandle(output->handle);
    output->handle = INVALID_HANDLE_VALUE;
#else
    close(output->descriptor);
    output->descriptor = -1;
#endif
#if defined(_WIN32) || defined(__linux__)
    EXPECT_TRUE(ListFolder(folder).empty());
#endif
    DiscardOutput(output);  // the record, and elsewhere the fallback's named file
}

// The sweep on a signal removes what is being written, and nothing that
// was committed.
TEST(PlatformFiles, UnfinishedOutputsAreSwept)
{
    std::string folder = FreshFolder("sweep");
    std::string destination = folder + "/out.swf";
    ASSERT_EQ(CommitResult::Done, CommitOutput(WriteNewOutput(destination, Bytes(10, 'c')),
                                               destination.c_str(), CommitMode::NoReplace));
    PlatformFile* open = WriteNewOutput(destination, Bytes(10, 'x'));
    ASSERT_NE(nullptr, open);
    DeleteUnfinishedTempFiles();
    DiscardOutput(open);
    EXPECT_EQ(std::vector<std::string>{"out.swf"}, ListFolder(folder));
    EXPECT_EQ(Bytes(10, 'c'), ReadWholeFile(destination));
}

// Only regular files are read: a folder, a named pipe or a device is
// refused at once, never waited on (a pipe without a writer would block).
TEST(PlatformFiles, OnlyRegularFilesAreRead)
{
    std::string folder = FreshFolder("special");
#ifdef _WIN32
    HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\quillaro-test", PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0,
                                   nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    const char* refused[] = {"special", "NUL", "CON", "\\\\.\\pipe\\quillaro-test"};
#else
    ASSERT_EQ(0, mkfifo("special/fifo", 0600));
    const char* refused[] = {"special", "special/fifo", "/dev/null", "/dev/zero"};
    alarm(20);  // a read that waits fails the test rather than hanging it
#endif
    for (const char* path : refused) {
        PlatformFile* file = OpenFileForRead(path);
        EXPECT_EQ(nullptr, file) << path;
        CloseFile(file);
    }
#ifdef _WIN32
    CloseHandle(pipe);
#else
    alarm(0);
#endif
}

}  // namespace
