// platform_tests.cpp - the platform layer's file rules that the operations
// above it rely on: readers share, a temporary file is moved without
// replacing when asked, and unfinished ones can be swept at exit.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/platform.h"
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

// A temporary file beside `destination` holding `bytes`, closed.
std::string WriteTemp(const std::string& destination, const Bytes& bytes)
{
    char* tempPath = nullptr;
    PlatformFile* file = CreateTempFileBeside(destination.c_str(), &tempPath);
    EXPECT_TRUE(file && WriteFileBytes(file, bytes.data(), (uint32_t)bytes.size()));
    EXPECT_TRUE(file && CloseWrittenFile(file));
    std::string path = tempPath ? tempPath : "";
    MemFree(tempPath);
    return path;
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

// The name is taken by someone else between the check and the move: the
// no-replace commit says so and both files stay; the replacing one moves.
TEST(PlatformFiles, CommitModes)
{
    std::string folder = FreshFolder("commit");
    std::string destination = folder + "/out.swf";
    std::string temp = WriteTemp(destination, Bytes(20, 'n'));
    WriteWholeFile(destination, Bytes(10, 'o'));
    EXPECT_EQ(CommitResult::Exists,
              CommitTempFile(temp.c_str(), destination.c_str(), CommitMode::NoReplace));
    EXPECT_EQ(Bytes(10, 'o'), ReadWholeFile(destination));
    EXPECT_EQ(Bytes(20, 'n'), ReadWholeFile(temp));
    EXPECT_EQ(CommitResult::Done,
              CommitTempFile(temp.c_str(), destination.c_str(), CommitMode::Replace));
    EXPECT_EQ(Bytes(20, 'n'), ReadWholeFile(destination));

    temp = WriteTemp(destination, Bytes(30, 'f'));
    EXPECT_EQ(CommitResult::Done,
              CommitTempFile(temp.c_str(), (folder + "/free.swf").c_str(), CommitMode::NoReplace));
    EXPECT_EQ(Bytes(30, 'f'), ReadWholeFile(folder + "/free.swf"));
    EXPECT_EQ(Sorted({"free.swf", "out.swf"}), Sorted(ListFolder(folder)));
}

// The sweep removes the files being written, and nothing that was
// committed or deleted already.
TEST(PlatformFiles, UnfinishedTempFilesAreSwept)
{
    std::string folder = FreshFolder("sweep");
    std::string destination = folder + "/out.swf";
    std::string committed = WriteTemp(destination, Bytes(10, 'c'));
    ASSERT_EQ(CommitResult::Done,
              CommitTempFile(committed.c_str(), destination.c_str(), CommitMode::NoReplace));
    DeleteFilePath(WriteTemp(destination, Bytes(10, 'd')).c_str());
    std::string closed = WriteTemp(destination, Bytes(10, 'x'));
    char* openPath = nullptr;
    PlatformFile* open = CreateTempFileBeside(destination.c_str(), &openPath);
    ASSERT_NE(nullptr, open);
    EXPECT_EQ(3u, ListFolder(folder).size());

    DeleteUnfinishedTempFiles();
    CloseWrittenFile(open);  // on Windows an open file goes when closed
    MemFree(openPath);
    EXPECT_EQ(std::vector<std::string>{"out.swf"}, ListFolder(folder));
    EXPECT_EQ(Bytes(10, 'c'), ReadWholeFile(destination));
}

}  // namespace
