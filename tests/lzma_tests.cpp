// lzma_tests.cpp - the LZMA codec of "ZWS" movies: the real LZMA movies
// decoded to their uncompressed form, every real movie through the encoder
// and back, streams with and without end markers, and damaged streams.
// The encoded movies are left in lzma-out/ for lzma_oracle.py, which
// decodes them with Python's own LZMA reader.
#include <gtest/gtest.h>

#include <lzma.h>

#include "common/bytes.h"
#include "common/platform.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/codecs.h"
#include "rebuild/lzma_body.h"
#include "test_support.h"

namespace {

// How a decode ended: the last step result, whether the input ran out
// before the stream ended, and the body bytes produced.
struct Decoded {
    bool opened = false;
    StepResult result = StepResult::Going;
    bool cutShort = false;
    size_t inputUsed = 0;
    Bytes body;
};

// Drives the decoder over `movie` with small input and output pieces, so
// that every cursor is exercised across calls.
Decoded Decode(const Bytes& movie, size_t inputPiece = 777, size_t outputPiece = 1000)
{
    Decoded decoded;
    bool invalid = false;
    if (movie.size() < lzmaStreamOffset)
        return decoded;
    const BodyDecoder* decoder = FindBodyDecoder(signatureLzma);
    void* state = decoder->open(movie.data(), &invalid);
    decoded.opened = state != nullptr;
    if (!state)
        return decoded;
    const unsigned char* input = movie.data() + lzmaStreamOffset;
    const unsigned char* end = movie.data() + movie.size();
    Bytes piece(outputPiece, 0xA5);  // garbage, so that a missed byte shows
    while (decoded.result == StepResult::Going) {
        size_t available = (size_t)(end - input) < inputPiece ? (size_t)(end - input) : inputPiece;
        CodecCursors cursors = {input, available, piece.data(), piece.size()};
        decoded.result = decoder->step(state, &cursors, input + available == end);
        size_t used = available - cursors.inputLeft;
        size_t produced = piece.size() - cursors.outputLeft;
        input += used;
        decoded.body.insert(decoded.body.end(), piece.begin(), piece.begin() + (long)produced);
        if (decoded.result == StepResult::Going && used == 0 && produced == 0 && input == end) {
            decoded.cutShort = true;
            break;
        }
    }
    decoded.inputUsed = (size_t)(input - (movie.data() + lzmaStreamOffset));
    decoder->close(state);
    return decoded;
}

// The uncompressed movie a decode stands for: the body cut or padded to
// the declared length.
Bytes UncompressedForm(const Bytes& movie, const Decoded& decoded)
{
    uint32_t declared = ReadLe32(movie.data() + 4);
    Bytes body = decoded.body;
    body.resize(declared - 8, 0);
    return MakeMovie("FWS", movie[3], declared, body);
}

Bytes Encode(const Bytes& fws, Failure* error = nullptr)
{
    uint32_t size = 0;
    unsigned char* output = LzmaEncodeMovie(fws.data(), (uint32_t)fws.size(), &size, nullptr,
                                            error);
    Bytes bytes = FromBlock(output, output ? size : 0);
    MemFree(output);
    return bytes;
}

// A "ZWS" movie around a raw LZMA1 stream of `body` written by liblzma,
// with or without the end marker, declaring `declared`.
Bytes RawLzmaMovie(const Bytes& body, uint32_t declared, bool endMarker)
{
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    options.dict_size = 1 << 16;
    options.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes movie(17 + body.size() + body.size() / 2 + 1024);
    memcpy(movie.data(), "ZWS\x0F", 4);
    WriteLe32(movie.data() + 4, declared);
    lzma_filter lzma1[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    EXPECT_EQ(LZMA_OK, lzma_properties_encode(lzma1, movie.data() + 12));
    size_t written = 17;
    EXPECT_EQ(LZMA_OK, lzma_raw_buffer_encode(filters, nullptr, body.data(), body.size(),
                                              movie.data(), &written, movie.size()));
    movie.resize(written);
    WriteLe32(movie.data() + 8, (uint32_t)written - 17);
    return movie;
}

TEST(Lzma, EndMarkersAndTheDeclaredLength)
{
    Bytes body = PatternBytes(50000, 3, true);
    struct Case {
        const char* what;
        Bytes movie;
        size_t bodyBytes;  // decoded before the decoder ended
    } cases[] = {
        {"with end marker", RawLzmaMovie(body, 50008, true), 50000},
        {"without end marker", RawLzmaMovie(body, 50008, false), 50000},
        {"end marker early: padded", RawLzmaMovie(body, 90000, true), 50000},
        {"declares less: cut", RawLzmaMovie(body, 20008, false), 20000},
        {"declares less, end marker: cut", RawLzmaMovie(body, 20008, true), 20000},
        {"declares no body", RawLzmaMovie(body, 8, true), 0},
    };
    for (const Case& test : cases) {
        Decoded decoded = Decode(test.movie);
        EXPECT_EQ(StepResult::Ended, decoded.result) << test.what;
        EXPECT_FALSE(decoded.cutShort) << test.what;
        ASSERT_EQ(test.bodyBytes, decoded.body.size()) << test.what;
        EXPECT_TRUE(std::equal(decoded.body.begin(), decoded.body.end(), body.begin()))
            << test.what;
    }
    // A stream longer than declared is not read beyond the declared body,
    // so bytes after it (here a broken rest) do not matter.
    Bytes movie = RawLzmaMovie(body, 1008, true);
    Bytes broken(movie.begin(), movie.begin() + 1000);
    broken.resize(movie.size(), 0xFF);
    EXPECT_EQ(StepResult::Ended, Decode(broken).result);
}

TEST(Lzma, DamagedStreams)
{
    Bytes body = PatternBytes(200000, 5, true);
    Bytes movie = Encode(MakeMovie("FWS", 15, 200008, body));
    ASSERT_GT(movie.size(), 1000u);
    Bytes cut(movie.begin(), movie.begin() + (long)movie.size() / 2);
    Bytes flipped = movie;
    flipped[movie.size() / 3] ^= 0x10;
    Bytes firstByte = movie;  // the range coder's first byte is always 0
    firstByte[17] = 1;
    Bytes badProperties = movie;
    badProperties[12] = 225;
    Bytes wideContext = movie;  // lc 4, lp 1: beyond what liblzma decodes
    wideContext[12] = (2 * 5 + 1) * 9 + 4;

    Decoded decoded = Decode(cut);
    EXPECT_TRUE(decoded.cutShort);
    EXPECT_EQ(cut.size() - 17, decoded.inputUsed);
    EXPECT_LT(decoded.body.size(), body.size());
    EXPECT_TRUE(std::equal(decoded.body.begin(), decoded.body.end(), body.begin()));

    EXPECT_EQ(StepResult::DataError, Decode(flipped).result);
    decoded = Decode(firstByte);
    EXPECT_EQ(StepResult::DataError, decoded.result);
    EXPECT_EQ(0u, decoded.body.size());
    EXPECT_FALSE(Decode(badProperties).opened);
    EXPECT_FALSE(Decode(wideContext).opened);
}

TEST(Lzma, EncoderHeaderAndBody)
{
    struct Case {
        const char* what;
        Bytes fws;
        uint32_t bodyLength;  // what the encoder must compress
    } cases[] = {
        {"declares its length", MakeMovie("FWS", 13, 100008, PatternBytes(100000, 7, true)), 100000},
        {"bytes beyond the declared length", MakeMovie("FWS", 20, 5008, PatternBytes(9000, 7, false)), 5000},
        {"shorter than declared", MakeMovie("FWS", 20, 9008, PatternBytes(5000, 7, false)), 5000},
        {"empty body", MakeMovie("FWS", 43, 8, Bytes()), 0},
    };
    for (const Case& test : cases) {
        Bytes zws = Encode(test.fws);
        ASSERT_GT(zws.size(), 17u) << test.what;
        EXPECT_EQ(0, memcmp(zws.data(), "ZWS", 3)) << test.what;
        EXPECT_EQ(test.fws[3], zws[3]) << test.what;
        EXPECT_EQ(ReadLe32(test.fws.data() + 4), ReadLe32(zws.data() + 4)) << test.what;
        EXPECT_EQ(zws.size() - 17, ReadLe32(zws.data() + 8)) << test.what;
        EXPECT_EQ(93, zws[12]) << test.what;  // lc 3, lp 0, pb 2
        uint32_t dictionary = ReadLe32(zws.data() + 13);
        EXPECT_EQ(test.bodyLength > 4096 ? test.bodyLength : 4096u, dictionary) << test.what;
        Decoded decoded = Decode(zws);
        EXPECT_EQ(StepResult::Ended, decoded.result) << test.what;
        EXPECT_EQ(Bytes(test.fws.begin() + 8, test.fws.begin() + 8 + test.bodyLength),
                  decoded.body)
            << test.what;
    }
    Failure error = FailureOf(FailureKind::None);
    EXPECT_TRUE(Encode(MakeMovie("CWS", 13, 108, Bytes(100, 1)), &error).empty());
    EXPECT_EQ(FailureKind::DamagedMovie, error.kind);
    EXPECT_TRUE(Encode(MakeMovie("FWS", 13, 7, Bytes(100, 1)), &error).empty());
    EXPECT_EQ(FailureKind::DamagedMovie, error.kind);
}

TEST(Lzma, EncoderProgressRisesToTheBodyLength)
{
    struct Seen {
        uint32_t calls = 0;
        uint64_t last = 0, total = 0;
        bool rising = true;
    } seen;
    auto record = [](void* context, uint64_t done, uint64_t total) {
        Seen* s = (Seen*)context;
        s->rising = s->rising && done >= s->last && (s->calls == 0 || total == s->total);
        s->calls++, s->last = done, s->total = total;
    };
    Progress progress = {record, &seen};
    Bytes fws = MakeMovie("FWS", 13, 1000008, PatternBytes(1000000, 9, true));
    uint32_t size = 0;
    unsigned char* zws = LzmaEncodeMovie(fws.data(), (uint32_t)fws.size(), &size, &progress);
    ASSERT_NE(nullptr, zws);
    MemFree(zws);
    EXPECT_TRUE(seen.rising);
    EXPECT_GE(seen.calls, 15u);  // pieces of 64 KiB
    EXPECT_EQ(1000000u, seen.last);
    EXPECT_EQ(1000000u, seen.total);
}

typedef CorpusTest LzmaCorpus;

TEST_F(LzmaCorpus, LzmaMoviesDecodeToTheirUncompressedForm)
{
    int seen = 0;
    for (const ManifestRow& row : rows) {
        if (row.signature != "ZWS")
            continue;
        seen++;
        Bytes movie = ReadWholeFile(CorpusPath(row.file));
        Decoded decoded = Decode(movie, 4096, 65536);
        ASSERT_EQ(StepResult::Ended, decoded.result) << row.file;
        if (row.fwsSha256 == "-")  // declares 4 GiB: ends early, at its end marker
            EXPECT_EQ(43u, decoded.body.size()) << row.file;
        else
            EXPECT_EQ(row.fwsSha256, Sha256Hex(UncompressedForm(movie, decoded))) << row.file;
    }
    EXPECT_EQ(15, seen);
}

// Every movie that has an uncompressed form, encoded and decoded again;
// the encoded movies are kept for the independent reader.
TEST_F(LzmaCorpus, EveryMovieSurvivesTheEncoder)
{
    ASSERT_TRUE(MakeFolder("lzma-out"));
    int seen = 0;
    for (const ManifestRow& row : rows) {
        if (row.fwsSha256 == "-" || (row.signature != "FWS" && row.signature != "CWS"))
            continue;
        Bytes fws = ReadWholeFile(CorpusPath(row.file));
        if (row.signature == "CWS") {
            unsigned char* block = ToBlock(fws);
            uint32_t size = (uint32_t)fws.size();
            block = DecompressMovie(nullptr, block, &size);
            ASSERT_NE(nullptr, block) << row.file;
            fws = FromBlock(block, size);
            MemFree(block);
        }
        if (ReadLe32(fws.data() + 4) != fws.size())
            continue;  // not its own uncompressed form
        seen++;
        Bytes zws = Encode(fws);
        ASSERT_FALSE(zws.empty()) << row.file;
        Decoded decoded = Decode(zws, 1 << 20, 1 << 20);
        EXPECT_EQ(StepResult::Ended, decoded.result) << row.file;
        EXPECT_EQ(fws, UncompressedForm(zws, decoded)) << row.file;
        std::string name = "lzma-out/" + std::to_string(seen);
        WriteWholeFile(name + ".zws", zws);
        WriteWholeFile(name + ".fws", fws);
    }
    EXPECT_GT(seen, 160);
}

}  // namespace
