// corpus_tests.cpp - the real movies of the shared corpus, against the
// facts an independent reader recorded for them in manifest.tsv.
#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/codecs.h"
#include "rebuild/rebuild.h"
#include "test_support.h"

namespace {

uint32_t SignatureValue(const std::string& signature)
{
    if (signature == "FWS")
        return signatureUncompressed;
    if (signature == "CWS")
        return signatureZlib;
    if (signature == "ZWS")
        return signatureLzma;
    return 0;
}

Bytes Convert(const Bytes& movie, bool compress, bool* same)
{
    unsigned char* block = ToBlock(movie);
    uint32_t size = (uint32_t)movie.size();
    unsigned char* result = compress ? CompressMovie(nullptr, block, &size)
                                     : DecompressMovie(nullptr, block, &size);
    *same = result == block;
    Bytes bytes = FromBlock(result, size);
    MemFree(result);
    return bytes;
}

typedef CorpusTest Corpus;

TEST_F(Corpus, InspectionAgreesWithTheManifest)
{
    for (const ManifestRow& row : rows) {
        MovieInfo info;
        InspectMovieFile(CorpusPath(row.file).c_str(), &info);
        uint32_t signature = SignatureValue(row.signature);
        if (signature == 0) {
            EXPECT_EQ(0u, info.movieSize) << row.file;
            continue;
        }
        EXPECT_EQ(signature, MovieSignature(info.header)) << row.file;
        EXPECT_EQ(row.version, std::to_string(MovieVersion(info.header))) << row.file;
        EXPECT_EQ(row.declaredLength, std::to_string(info.fileLength)) << row.file;
        EXPECT_EQ(row.size, info.movieSize) << row.file;
        EXPECT_EQ(0u, info.playerSize) << row.file;
    }
}

// Inflating gives exactly the manifest's uncompressed form; deflating and
// inflating again gives the uncompressed form back; what the codecs do
// not convert comes back as it was.
TEST_F(Corpus, CodecsReproduceTheUncompressedForm)
{
    int compressedSeen = 0;
    for (const ManifestRow& row : rows) {
        Bytes file = ReadWholeFile(CorpusPath(row.file));
        ASSERT_EQ(row.sha256, Sha256Hex(file)) << row.file;
        bool same = false;
        if (row.signature == "CWS" || (row.signature == "ZWS" && row.fwsSha256 != "-")) {
            compressedSeen++;
            Bytes inflated = Convert(file, false, &same);
            EXPECT_EQ(row.fwsSha256, Sha256Hex(inflated)) << row.file;
            Bytes again = Convert(Convert(inflated, true, &same), false, &same);
            EXPECT_EQ(row.fwsSha256, Sha256Hex(again)) << row.file;
        } else if (row.signature == "FWS" && row.fwsSha256 != "-" && file.size() > 8 &&
                   ReadLe32(file.data() + 4) > 8) {
            Bytes deflated = Convert(file, true, &same);
            EXPECT_FALSE(same) << row.file;
            EXPECT_EQ(row.fwsSha256, Sha256Hex(Convert(deflated, false, &same))) << row.file;
        } else if (!file.empty() && row.signature != "ZWS") {
            EXPECT_EQ(file, Convert(file, true, &same)) << row.file;
            EXPECT_TRUE(same) << row.file;
            EXPECT_EQ(file, Convert(file, false, &same)) << row.file;
            EXPECT_TRUE(same) << row.file;
        }
    }
    EXPECT_GT(compressedSeen, 100);
}

// Each movie inside a projector around the project's own player program:
// found where it was put, decompressed in place, and taken out again.
TEST_F(Corpus, ProjectorsBuiltFromTheMovies)
{
    Bytes player = ReadWholeFile(FixturePath("player.exe"));
    ASSERT_GT(player.size(), 2u);
    const RebuildMode decompress = MakeRebuildMode(PlayerAction::Keep, MovieAction::Decompress);
    const RebuildMode remove = MakeRebuildMode(PlayerAction::Remove, MovieAction::Keep);
    for (const ManifestRow& row : rows) {
        uint32_t signature = SignatureValue(row.signature);
        if (signature == 0)
            continue;
        Bytes movie = ReadWholeFile(CorpusPath(row.file));
        WriteWholeFile("projector.exe", MakeProjector(player, movie));
        MovieInfo info;
        EXPECT_EQ(player.size(), InspectMovieFile("projector.exe", &info)) << row.file;
        EXPECT_EQ(movie.size(), info.movieSize) << row.file;
        EXPECT_EQ(signature, MovieSignature(info.header)) << row.file;

        ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, "projector.exe", "movie.swf", nullptr, remove)))
            << row.file;
        EXPECT_EQ(movie, ReadWholeFile("movie.swf")) << row.file;

        if (row.signature != "CWS")
            continue;
        ASSERT_FALSE(Failed(RebuildMovieFile(nullptr, "projector.exe", "out.exe", nullptr, decompress)))
            << row.file;
        Bytes output = ReadWholeFile("out.exe");
        ASSERT_GT(output.size(), player.size() + 8) << row.file;
        Bytes inflated(output.begin() + (long)player.size(), output.end() - 8);
        EXPECT_EQ(row.fwsSha256, Sha256Hex(inflated)) << row.file;
        EXPECT_EQ(MakeProjector(player, inflated), output) << row.file;
    }
}

}  // namespace
