// rebuild_tests.cpp - Save and Extract player: the output of every mode
// byte for byte, and that no failure loses or corrupts a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <zlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/bytes.h"
#include "common/platform.h"
#include "failing_work_memory.h"
#include "failing_write.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "rebuild/lzma_body.h"
#include "rebuild/rebuild.h"
#include "short_read.h"
#include "test_support.h"

namespace {

const RebuildMode keepDecompress = MakeRebuildMode(PlayerAction::Keep, MovieAction::Decompress);
const RebuildMode keepCompress = MakeRebuildMode(PlayerAction::Keep, MovieAction::Compress);
const RebuildMode removeKeep = MakeRebuildMode(PlayerAction::Remove, MovieAction::Keep);
const RebuildMode removeDecompress =
    MakeRebuildMode(PlayerAction::Remove, MovieAction::Decompress);
const RebuildMode replaceKeep = MakeRebuildMode(PlayerAction::AddReplace, MovieAction::Keep);

Bytes Trailer(uint32_t movieSize)
{
    Bytes trailer(8);
    WriteLe32(trailer.data(), projectorMagic);
    WriteLe32(trailer.data() + 4, movieSize);
    return trailer;
}

Bytes Convert(Bytes movie, MovieAction action)
{
    unsigned char* block = ToBlock(movie);
    uint32_t size = (uint32_t)movie.size();
    if (action != MovieAction::Keep)
        block = DecompressMovie(nullptr, block, &size);
    if (action == MovieAction::Compress)
        block = CompressMovie(nullptr, block, &size);
    Bytes converted = FromBlock(block, size);
    MemFree(block);
    return converted;
}

// Each test works in a folder of its own, so that stray files show.
class Rebuild : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeBudget = UINT64_MAX;
        shortFileSize = 0;
        folder = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(MakeFolder(folder));
        for (const std::string& name : ListFolder(folder))
            RemoveFile(Path(name));
        player = ReadWholeFile(FixturePath("player.exe"));
        ASSERT_GT(player.size(), 1000u);
        newPlayer = MakePlayerBytes(300000);
        compressed = MakeCompressedMovie(10, PatternBytes(50000, 1, true));
        uncompressed = MakeMovie("FWS", 8, 5000, PatternBytes(4992, 2, true));
        WriteWholeFile(Path("projector.exe"), MakeProjector(player, compressed));
        WriteWholeFile(Path("movie.swf"), uncompressed);
        WriteWholeFile(Path("new-player.exe"), newPlayer);
    }
    void TearDown() override
    {
        writeBudget = UINT64_MAX;
        shortFileSize = 0;
    }

    std::string Path(const std::string& name) const { return folder + "/" + name; }

    bool RebuildTo(const char* source, const char* output, RebuildMode mode,
                   Failure* error = nullptr, const char* playerFile = "new-player.exe")
    {
        Failure result = RebuildMovieFile(nullptr, Path(source).c_str(), Path(output).c_str(),
                                          Path(playerFile).c_str(), mode);
        if (error)
            *error = result;
        return !Failed(result);
    }

    // The folder holds exactly these files: no temporary file is left.
    void ExpectFolderHolds(std::vector<std::string> names)
    {
        std::vector<std::string> present = ListFolder(folder);
        std::sort(present.begin(), present.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, present);
    }

    std::string folder;
    Bytes player, newPlayer, compressed, uncompressed;
};

TEST_F(Rebuild, EveryModeByteForByte)
{
    const MovieAction movieActions[] = {MovieAction::Keep, MovieAction::Decompress,
                                        MovieAction::Compress};
    const PlayerAction playerActions[] = {PlayerAction::Keep, PlayerAction::Remove,
                                          PlayerAction::AddReplace};
    for (PlayerAction playerAction : playerActions) {
        for (MovieAction movieAction : movieActions) {
            RebuildMode mode = MakeRebuildMode(playerAction, movieAction);
            if (mode == 0)
                continue;
            struct {
                const char* source;
                const Bytes* ownPlayer;
                const Bytes* movie;
            } sources[] = {{"projector.exe", &player, &compressed},
                           {"movie.swf", nullptr, &uncompressed}};
            for (const auto& source : sources) {
                Bytes movie = Convert(*source.movie, movieAction);
                const Bytes* playerBytes = playerAction == PlayerAction::Keep ? source.ownPlayer
                                           : playerAction == PlayerAction::AddReplace ? &newPlayer
                                                                                     : nullptr;
                Bytes expected = playerBytes ? MakeProjector(*playerBytes, movie) : movie;
                Failure error = FailureOf(FailureKind::NothingToDo);
                ASSERT_TRUE(RebuildTo(source.source, "out.bin", mode, &error))
                    << source.source << " mode " << mode;
                EXPECT_EQ(FailureKind::None, error.kind);
                EXPECT_EQ(expected, ReadWholeFile(Path("out.bin")))
                    << source.source << " mode " << std::hex << mode;
            }
        }
    }
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "out.bin"});
}

TEST_F(Rebuild, DecompressedProjectorLayout)
{
    ASSERT_TRUE(RebuildTo("projector.exe", "out.exe", keepDecompress));
    Bytes output = ReadWholeFile(Path("out.exe"));
    const uint32_t declared = 50008;
    ASSERT_EQ(player.size() + declared + 8, output.size());
    EXPECT_EQ(Bytes(player), Bytes(output.begin(), output.begin() + (long)player.size()));
    EXPECT_EQ(0x0A535746u, ReadLe32(output.data() + player.size()));
    EXPECT_EQ(Trailer(declared), Bytes(output.end() - 8, output.end()));
}

TEST_F(Rebuild, BareMovieWithAddedPlayer)
{
    ASSERT_TRUE(RebuildTo("movie.swf", "out.exe", replaceKeep));
    Bytes output = ReadWholeFile(Path("out.exe"));
    EXPECT_EQ(305008u, output.size());
    EXPECT_EQ(MakeProjector(newPlayer, uncompressed), output);
}

TEST_F(Rebuild, AddReplaceTakesOnlyThePlayerPartOfAProjector)
{
    Bytes otherMovie = MakeUncompressedMovie(9, 777);
    WriteWholeFile(Path("other.exe"), MakeProjector(newPlayer, otherMovie));
    ASSERT_TRUE(RebuildTo("projector.exe", "out.exe", replaceKeep, nullptr, "other.exe"));
    EXPECT_EQ(MakeProjector(newPlayer, compressed), ReadWholeFile(Path("out.exe")));
}

TEST_F(Rebuild, AddReplaceFromANonProgramGivesTheMovieAlone)
{
    WriteWholeFile(Path("notes.txt"), Bytes(100, 'n'));
    ASSERT_TRUE(RebuildTo("projector.exe", "out.swf", replaceKeep, nullptr, "notes.txt"));
    EXPECT_EQ(compressed, ReadWholeFile(Path("out.swf")));
}

// Every form to every other inside a projector: what comes out decodes
// to the same uncompressed movie.
TEST_F(Rebuild, LzmaMoviesConvertBothWays)
{
    const RebuildMode keepLzma = MakeRebuildMode(PlayerAction::Keep, MovieAction::CompressLzma);
    Bytes fws = MakeMovie("FWS", 13, 40008, PatternBytes(40000, 3, true));
    uint32_t size = 0;
    unsigned char* block = LzmaEncodeMovie(fws.data(), (uint32_t)fws.size(), &size, nullptr);
    Bytes lzma = FromBlock(block, size);
    MemFree(block);
    struct Case {
        Bytes movie;
        RebuildMode mode;
        const char* signature;
    } cases[] = {
        {lzma, removeKeep, "ZWS"},      {lzma, keepDecompress, "FWS"},
        {lzma, keepCompress, "CWS"},    {lzma, keepLzma, "ZWS"},
        {fws, keepLzma, "ZWS"},         {MakeCompressedMovie(13, Bytes(fws.begin() + 8, fws.end())),
                                         keepLzma, "ZWS"},
    };
    for (const Case& test : cases) {
        WriteWholeFile(Path("in.exe"), MakeProjector(player, test.movie));
        ASSERT_TRUE(RebuildTo("in.exe", "out.exe", test.mode)) << test.signature;
        Bytes out = ReadWholeFile(Path("out.exe"));
        size_t movieStart = test.mode == removeKeep ? 0 : player.size();
        size_t movieEnd = out.size() - (test.mode == removeKeep ? 0 : 8);
        Bytes movie(out.begin() + (long)movieStart, out.begin() + (long)movieEnd);
        EXPECT_EQ(0, memcmp(movie.data(), test.signature, 3)) << test.signature;
        if (test.mode == removeKeep) {
            EXPECT_EQ(lzma, movie);
        }
        block = ToBlock(movie);
        size = (uint32_t)movie.size();
        block = DecompressMovie(nullptr, block, &size);
        EXPECT_EQ(fws, FromBlock(block, size)) << test.signature;
        MemFree(block);
    }
}

// A damaged movie is saved only with the salvage asked for, and then as
// the part of its body that decoded, declaring the length written.
TEST_F(Rebuild, SalvageKeepsWhatDecodesOfADamagedMovie)
{
    Bytes body = PatternBytes(300000, 8, true);
    Bytes fws = MakeMovie("FWS", 15, 300008, body);
    uint32_t size = 0;
    unsigned char* block = LzmaEncodeMovie(fws.data(), (uint32_t)fws.size(), &size, nullptr);
    Bytes lzma = FromBlock(block, size);
    MemFree(block);
    Bytes zlib = MakeCompressedMovie(15, body);
    Bytes badChecksum = zlib;
    badChecksum.back() ^= 1;
    struct Case {
        const char* what;
        Bytes movie;
        Damage damage;
    } cases[] = {
        {"LZMA cut", Bytes(lzma.begin(), lzma.begin() + (long)lzma.size() / 2), Damage::CutShort},
        {"zlib cut", Bytes(zlib.begin(), zlib.begin() + (long)zlib.size() / 2), Damage::CutShort},
        {"zlib checksum", badChecksum, Damage::BadChecksum},
        {"whole", lzma, Damage::None},
    };
    for (const Case& test : cases) {
        WriteWholeFile(Path("damaged.swf"), test.movie);
        RemoveFile(Path("out.swf"));
        Failure error = FailureOf(FailureKind::None);
        bool whole = test.damage == Damage::None;
        EXPECT_EQ(whole, RebuildTo("damaged.swf", "out.swf", removeDecompress, &error)) << test.what;
        EXPECT_EQ(whole, FileExists(Path("out.swf"))) << test.what;

        RebuildDetails details = {0, 0, true, Damage::None, 0, 0};
        ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, Path("damaged.swf").c_str(),
                                             Path("out.swf").c_str(), nullptr, removeDecompress,
                                             &details)))
            << test.what;
        EXPECT_EQ(test.damage, details.damage) << test.what;
        Bytes out = ReadWholeFile(Path("out.swf"));
        ASSERT_GE(out.size(), 8u) << test.what;
        EXPECT_EQ(details.salvagedLength, out.size()) << test.what;
        EXPECT_EQ(out.size(), ReadLe32(out.data() + 4)) << test.what;
        EXPECT_EQ(0, memcmp(out.data(), "FWS\x0F", 4)) << test.what;
        EXPECT_GT(out.size(), whole ? fws.size() - 1 : 100000u) << test.what;
        EXPECT_TRUE(std::equal(out.begin() + 8, out.end(), body.begin())) << test.what;

        // A Linux projector keeps its player: the movie size stands in front
        // of the movie, and is the size of what was salvaged.
        Bytes linuxPlayer = ReadWholeFile(FixturePath("linux-player-x86_64"));
        WriteWholeFile(Path("damaged-linux"),
                       MakeLayoutProjector("linux-x86_64", linuxPlayer, test.movie));
        RemoveFile(Path("out-linux"));
        ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, Path("damaged-linux").c_str(),
                                             Path("out-linux").c_str(), nullptr, keepDecompress,
                                             &details)))
            << test.what;
        EXPECT_EQ(MakeLayoutProjector("linux-x86_64", linuxPlayer, out),
                  ReadWholeFile(Path("out-linux")))
            << test.what;
    }
}

// A cancel flag set before the work or while it runs stops every
// conversion, and Extract player, with Cancelled and nothing written.
TEST_F(Rebuild, CancelStopsTheWorkAndWritesNothing)
{
    Bytes body = PatternBytes(4 << 20, 9, true);
    WriteWholeFile(Path("big.swf"), MakeMovie("FWS", 15, (uint32_t)body.size() + 8, body));
    WriteWholeFile(Path("big-zlib.exe"), MakeProjector(player, MakeCompressedMovie(15, body)));
    struct CancelCase {
        const char* source;
        MovieAction action;
    };
    const CancelCase cases[] = {
        {"big-zlib.exe", MovieAction::Decompress}, {"big.swf", MovieAction::Compress},
        {"big-zlib.exe", MovieAction::Compress},   {"big.swf", MovieAction::CompressLzma},
        {"big-zlib.exe", MovieAction::CompressLzma},
    };
    // The flag is set by the first report of work done; the work must stop
    // soon after, not just before the output is placed.
    struct Watch {
        std::atomic<bool> cancel;
        uint64_t lastDone;
        uint64_t total;
    };
    auto cancelOnProgress = [](void* context, uint64_t done, uint64_t total) {
        Watch* watch = (Watch*)context;
        watch->lastDone = done;
        watch->total = total;
        if (done != 0)
            watch->cancel = true;
    };
    for (const CancelCase& test : cases) {
        for (bool before : {true, false}) {
            SCOPED_TRACE(std::string(test.source) + (before ? ", cancelled before" : ", while"));
            Watch watch;
            watch.cancel = before;
            watch.lastDone = watch.total = 0;
            Progress progress = {cancelOnProgress, &watch, &watch.cancel};
            Failure result = RebuildMovieFile(&progress, Path(test.source).c_str(),
                                              Path("out").c_str(), nullptr,
                                              MakeRebuildMode(PlayerAction::Keep, test.action));
            EXPECT_EQ(FailureKind::Cancelled, result.kind);
            // A body of up to 32 MiB is deflated in one call of libdeflate,
            // well under a second at the default level, which reports no
            // progress before its end: the cancel is seen right after it.
            if (test.action != MovieAction::Compress) {
                EXPECT_LT(watch.lastDone, watch.total / 2 + 1) << "it went on after the cancel";
            }
            ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "big.swf",
                               "big-zlib.exe"});
        }
    }
    std::atomic<bool> cancel(true);
    Progress progress = {nullptr, nullptr, &cancel};
    EXPECT_EQ(FailureKind::Cancelled,
              ExtractPlayer(Path("big-zlib.exe").c_str(), Path("out").c_str(), CommitMode::Replace,
                            &progress)
                  .kind);
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "big.swf", "big-zlib.exe"});
}

TEST_F(Rebuild, NothingIsCreatedWithoutAMovieOrARequest)
{
    WriteWholeFile(Path("out.bin"), Bytes(10, 'k'));
    WriteWholeFile(Path("notes.txt"), Bytes(100, 'n'));
    const struct {
        const char* source;
        RebuildMode mode;
        FailureKind error;
    } cases[] = {
        {"projector.exe", 0, FailureKind::NothingToDo},
        {"new-player.exe", removeKeep, FailureKind::NoMovie},
        {"notes.txt", keepCompress, FailureKind::NoMovie},
        {"missing.swf", keepCompress, FailureKind::NoMovie},
    };
    for (const auto& test : cases) {
        Failure error = FailureOf(FailureKind::None);
        EXPECT_FALSE(RebuildTo(test.source, "out.bin", test.mode, &error)) << test.source;
        EXPECT_EQ(test.error, error.kind) << test.source;
    }
    EXPECT_EQ(Bytes(10, 'k'), ReadWholeFile(Path("out.bin")));
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "out.bin", "notes.txt"});
}

// Writes fail part way, as on a full disk: at the player, the movie, the
// trailer. The existing output stays as it was and no temporary file is
// left behind.
TEST_F(Rebuild, FullDiskLeavesTheDestinationUntouched)
{
    WriteWholeFile(Path("out.exe"), Bytes(10, 'k'));
    const uint64_t budgets[] = {0, 100, player.size() + 10, player.size() + 50008 + 4};
    for (uint64_t budget : budgets) {
        writeBudget = budget;
        Failure error = FailureOf(FailureKind::None);
        EXPECT_FALSE(RebuildTo("projector.exe", "out.exe", keepDecompress, &error)) << budget;
        EXPECT_EQ(FailureKind::WriteFailed, error.kind) << budget;
        EXPECT_EQ(Bytes(10, 'k'), ReadWholeFile(Path("out.exe")));
    }
    writeBudget = 10;
    EXPECT_TRUE(Failed(ExtractPlayer(Path("projector.exe").c_str(), Path("out.exe").c_str())));
    EXPECT_EQ(Bytes(10, 'k'), ReadWholeFile(Path("out.exe")));
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "out.exe"});
}

TEST_F(Rebuild, UnwritableFolderIsReported)
{
    Failure error = FailureOf(FailureKind::None);
    EXPECT_FALSE(RebuildTo("projector.exe", "no-such-folder/out.exe", keepCompress, &error));
    EXPECT_EQ(FailureKind::CreateFailed, error.kind);
    EXPECT_TRUE(Failed((error = ExtractPlayer(Path("projector.exe").c_str(),
                               Path("no-such-folder/player.exe").c_str()))));
    EXPECT_EQ(FailureKind::CreateFailed, error.kind);
}

TEST_F(Rebuild, DamagedMovieFailsAndWritesNothing)
{
    Bytes damaged = compressed;
    damaged[damaged.size() - 1] ^= 0xFF;  // the checksum
    WriteWholeFile(Path("damaged.exe"), MakeProjector(player, damaged));
    WriteWholeFile(Path("out.exe"), Bytes(10, 'k'));
    const RebuildMode modes[] = {keepDecompress, keepCompress};
    for (RebuildMode mode : modes) {
        Failure error = FailureOf(FailureKind::None);
        EXPECT_FALSE(RebuildTo("damaged.exe", "out.exe", mode, &error));
        EXPECT_EQ(FailureKind::DamagedMovie, error.kind);
        EXPECT_EQ(Bytes(10, 'k'), ReadWholeFile(Path("out.exe")));
    }
    // Keeping the movie as stored does not look inside it.
    EXPECT_TRUE(RebuildTo("damaged.exe", "out.swf", removeKeep));
    EXPECT_EQ(damaged, ReadWholeFile(Path("out.swf")));
}

// A deflate worker that runs out of memory fails the Save, which then
// leaves no file behind: for the gathered body, or for the stream. (The
// allocations in between are libdeflate's whole inflate, which falls back
// to zlib's when it cannot have them.)
TEST_F(Rebuild, FailingWorkerWritesNothing)
{
    for (long allowed : {0L, 3L}) {
        workAllocationsLeft = allowed;
        Failure error = FailureOf(FailureKind::None);
        EXPECT_FALSE(RebuildTo("projector.exe", "out.exe", keepCompress, &error));
        EXPECT_EQ(FailureKind::OutOfMemory, error.kind);
        ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe"});
    }
    workAllocationsLeft = -1;
}

TEST_F(Rebuild, OutputMayNameTheSourceOrThePlayerFile)
{
    ASSERT_TRUE(RebuildTo("projector.exe", "projector.exe", keepDecompress));
    EXPECT_EQ(MakeProjector(player, Convert(compressed, MovieAction::Decompress)),
              ReadWholeFile(Path("projector.exe")));

    ASSERT_TRUE(RebuildTo("movie.swf", "new-player.exe", replaceKeep));
    EXPECT_EQ(MakeProjector(newPlayer, uncompressed), ReadWholeFile(Path("new-player.exe")));

    ASSERT_FALSE(Failed(ExtractPlayer(Path("new-player.exe").c_str(), Path("new-player.exe").c_str())));
    EXPECT_EQ(newPlayer, ReadWholeFile(Path("new-player.exe")));
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe"});
}

TEST_F(Rebuild, ExtractPlayer)
{
    ASSERT_FALSE(Failed(ExtractPlayer(Path("projector.exe").c_str(), Path("player-out.exe").c_str())));
    EXPECT_EQ(player, ReadWholeFile(Path("player-out.exe")));

    ASSERT_FALSE(Failed(ExtractPlayer(Path("new-player.exe").c_str(), Path("copy.exe").c_str())));
    EXPECT_EQ(newPlayer, ReadWholeFile(Path("copy.exe")));

    Failure error = FailureOf(FailureKind::None);
    EXPECT_TRUE(Failed((error = ExtractPlayer(Path("movie.swf").c_str(), Path("none.exe").c_str()))));
    EXPECT_EQ(FailureKind::NoPlayer, error.kind);
    EXPECT_TRUE(Failed(ExtractPlayer(nullptr, Path("none.exe").c_str())));
    EXPECT_TRUE(Failed(ExtractPlayer(Path("projector.exe").c_str(), nullptr)));
    ExpectFolderHolds(
        {"projector.exe", "movie.swf", "new-player.exe", "player-out.exe", "copy.exe"});
}

// A player cut after it was inspected reads short: that is a failure, not
// a shorter player.
TEST_F(Rebuild, APlayerCutMeanwhileFailsAndWritesNothing)
{
    WriteWholeFile(Path("out.exe"), Bytes(10, 'k'));
    shortFileSize = newPlayer.size();
    shortReadEnd = newPlayer.size() - 1;
    Failure error = FailureOf(FailureKind::None);
    EXPECT_FALSE(RebuildTo("movie.swf", "out.exe", replaceKeep, &error));
    EXPECT_EQ(FailureKind::ReadFailed, error.kind);
    error = NoFailure();
    EXPECT_TRUE(Failed((error = ExtractPlayer(Path("new-player.exe").c_str(), Path("out.exe").c_str()))));
    EXPECT_EQ(FailureKind::ReadFailed, error.kind);
    EXPECT_EQ(Bytes(10, 'k'), ReadWholeFile(Path("out.exe")));
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "out.exe"});
}

// Compressing takes the declared length of body bytes, not the bytes
// stored after them: the raw stream must hold exactly the body.
TEST_F(Rebuild, CompressionStopsAtTheDeclaredLength)
{
    Bytes body = PatternBytes(400, 9, true);
    WriteWholeFile(Path("long.swf"), Concat(MakeMovie("FWS", 8, 408, body), Bytes(30, 0xCC)));
    ASSERT_TRUE(RebuildTo("long.swf", "long.cws", keepCompress));
    Bytes output = ReadWholeFile(Path("long.cws"));
    ASSERT_GT(output.size(), 8u);
    Bytes inflated(1000, 0xEE);
    uLongf inflatedSize = (uLongf)inflated.size();
    ASSERT_EQ(Z_OK, uncompress(inflated.data(), &inflatedSize, output.data() + 8,
                               (uLong)(output.size() - 8)));
    inflated.resize(inflatedSize);
    EXPECT_EQ(body, inflated);
}

// No-replace commits refuse a taken name in the move itself, also one taken
// while the output waited to be put in place; a commit that fails for any
// reason leaves no temporary file behind.
TEST_F(Rebuild, CommitModesAndFailedCommits)
{
    WriteWholeFile(Path("taken.exe"), Bytes(10, 'k'));
    ASSERT_TRUE(MakeFolder(Path("folder")));
    const struct {
        const char* output;
        CommitMode commit;
        FailureKind error;
    } cases[] = {
        {"taken.exe", CommitMode::NoReplace, FailureKind::OutputExists},
        {"folder", CommitMode::NoReplace, FailureKind::OutputExists},
        {"folder", CommitMode::Replace, FailureKind::WriteFailed},
        {"free.exe", CommitMode::NoReplace, FailureKind::None},
    };
    for (const auto& test : cases) {
        Failure error = RebuildMovieFile(nullptr, Path("projector.exe").c_str(),
                                         Path(test.output).c_str(), nullptr, keepDecompress,
                                         nullptr, test.commit);
        EXPECT_EQ(test.error, error.kind) << test.output;
        error = ExtractPlayer(Path("projector.exe").c_str(), Path(test.output).c_str(),
                              test.commit);
        EXPECT_EQ(test.error == FailureKind::None ? FailureKind::OutputExists : test.error,
                  error.kind)
            << test.output;
    }
    // A name taken after the output was written, before it is put in place.
    OutputFile written;
    ASSERT_FALSE(Failed(WriteMovieOutput(nullptr, Path("projector.exe").c_str(),
                                         Path("late.exe").c_str(), nullptr, keepDecompress,
                                         &written)));
    EXPECT_FALSE(FileExists(Path("late.exe")));  // not in place before it is placed
    WriteWholeFile(Path("late.exe"), Bytes(10, 'l'));
    EXPECT_EQ(FailureKind::OutputExists,
              PlaceOutput(&written, Path("late.exe").c_str(), CommitMode::NoReplace).kind);
    EXPECT_EQ(Bytes(10, 'l'), ReadWholeFile(Path("late.exe")));
    EXPECT_EQ(Bytes(10, 'k'), ReadWholeFile(Path("taken.exe")));
    EXPECT_EQ(MakeProjector(player, Convert(compressed, MovieAction::Decompress)),
              ReadWholeFile(Path("free.exe")));
    ExpectFolderHolds({"projector.exe", "movie.swf", "new-player.exe", "taken.exe", "folder",
                       "free.exe", "late.exe"});
}

#ifndef _WIN32
// A new output gets the mode of a new file; a replaced one keeps the
// permission bits of the file it replaces, so replacing never widens them.
TEST_F(Rebuild, OutputModes)
{
    mode_t savedMask = umask(022);
    const struct {
        const char* output;
        mode_t existing;  // 0: no such file
        mode_t expected;
    } cases[] = {
        {"new.swf", 0, 0644},
        {"private.swf", 0600, 0600},
        {"group.swf", 0640, 0640},
        {"wide.swf", 0666, 0666},
    };
    for (const auto& test : cases) {
        if (test.existing) {
            WriteWholeFile(Path(test.output), Bytes(10, 'k'));
            chmod(Path(test.output).c_str(), test.existing);
        }
        ASSERT_TRUE(RebuildTo("movie.swf", test.output, keepCompress)) << test.output;
        struct stat status;
        ASSERT_EQ(0, stat(Path(test.output).c_str(), &status));
        EXPECT_EQ(test.expected, status.st_mode & 07777) << test.output;
    }
    umask(savedMask);
}
#endif

}  // namespace
