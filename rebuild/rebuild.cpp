// rebuild.cpp - Save and Extract player: the output is assembled in a
// temporary file beside the destination, which replaces the destination
// only once every piece is written, so no failure loses a file.
#include "rebuild/rebuild.h"

#include <cstring>

#include "common/byte_buffer.h"
#include "common/bytes.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/file_facts.h"
#include "rebuild/lzma_body.h"
#include "rebuild/parallel_deflate.h"

namespace {
// The player bytes the mode asks for, and the layout they bring: `*buffer`
// is null with `*count` 0 when there are none to write. False when they
// exist but cannot be read.
bool ReadPlayerBytes(const MovieInfo& source, const ByteSource* input, const char* playerPath,
                     PlayerAction action, unsigned char** buffer, uint32_t* count,
                     PlayerLayout* layout)
{
    *buffer = nullptr;
    *count = 0;
    *layout = PlayerLayout::None;
    if (action == PlayerAction::Keep) {
        *count = source.playerSize;
        *layout = source.layout;
        if (*count != 0)
            *buffer = ReadSourceRangeFully(input, 0, *count);
    } else if (action == PlayerAction::AddReplace) {
        MovieInfo player;
        InspectMovie(playerPath, &player);
        *count = player.playerSize;
        *layout = player.layout;
        if (*count != 0)
            *buffer = ReadFileRangeFully(playerPath, 0, *count);
    }
    return *count == 0 || *buffer != nullptr;
}

// The movie size and magic of the output's layout, on their side of the
// movie; nothing for a bare movie.
bool WriteFraming(OutputFile* file, PlayerLayout layout, uint32_t movieSize, bool beforeMovie)
{
    MovieFraming framing = FrameMovie(layout, movieSize);
    if (framing.count == 0 || framing.beforeMovie != beforeMovie)
        return true;
    return WriteOutput(file, framing.bytes, framing.count);
}

// The output file as a byte sink.
bool WriteToFile(void* context, const unsigned char* data, size_t length)
{
    return WriteOutput((OutputFile*)context, data, (uint32_t)length);
}

Failure FailureOfDeflate(DeflateStatus status)
{
    switch (status) {
    case DeflateStatus::Done: return NoFailure();
    case DeflateStatus::OutOfMemory: return FailureOf(FailureKind::OutOfMemory);
    case DeflateStatus::OutputFailed: return FailureOf(FailureKind::WriteFailed);
    case DeflateStatus::ThreadFailed: return FailureOf(FailureKind::ThreadFailed);
    case DeflateStatus::Cancelled: return FailureOf(FailureKind::Cancelled);
    default: return FailureOf(FailureKind::ConversionFailed);
    }
}

// The cancel flag of `progress` alone, for a decode whose progress the
// encoder it feeds reports.
Progress CancelOnly(const Progress* progress)
{
    return Progress{nullptr, nullptr, progress ? progress->cancel : nullptr};
}

// A decode or an encoder that stopped because its sink did: the sink was
// the output file.
Failure OutputFailure(Failure failure)
{
    return failure.kind == FailureKind::Stopped ? FailureOf(FailureKind::WriteFailed) : failure;
}

// The stored movie a Save reads: whole in memory up to wholeMovieLimit,
// else read in pieces from the file that holds it.
struct StoredMovie {
    const ByteSource* input;
    uint64_t offset;
    uint32_t size;
    unsigned char* whole;                  // MemAlloc; null beyond the limit
    unsigned char head[lzmaStreamOffset];  // its first bytes, zero past its end
};

Failure OpenStoredMovie(const ByteSource* input, const MovieInfo& source, StoredMovie* stored)
{
    *stored = StoredMovie();
    stored->input = input;
    stored->offset = source.movieOffset;
    stored->size = source.movieSize;
    uint32_t headSize = stored->size < sizeof stored->head ? stored->size : sizeof stored->head;
    if (ReadSource(input, stored->offset, stored->head, headSize) != headSize)
        return FailureOf(FailureKind::ReadFailed);
    if (stored->size > wholeMovieLimit)
        return NoFailure();
    stored->whole = (unsigned char*)MemAlloc(stored->size);
    if (!stored->whole)
        return FailureOf(FailureKind::OutOfMemory);
    if (ReadSource(input, stored->offset, stored->whole, stored->size) != stored->size)
        return FailureOf(FailureKind::ReadFailed);
    return NoFailure();
}

void CloseStoredMovie(StoredMovie* stored)
{
    MemFree(stored->whole);
}

// Decodes the stored movie's body into `sink`.
Failure DecodeStored(const StoredMovie& stored, const ByteSink* sink, const Progress* progress,
                     DecodeReport* report)
{
    if (stored.whole)
        return DecodeMovieBody(stored.whole, stored.size, sink, progress, report);
    return DecodeMovieSource(stored.input, stored.offset, stored.size, sink, progress, report);
}

// Hands `count` stored bytes from `from` on to `sink`; Stopped when the
// sink refused them.
Failure CopyStored(const StoredMovie& stored, uint64_t from, uint64_t count, const ByteSink* sink)
{
    if (stored.whole)
        return FailureOf(sink->write(sink->context, stored.whole + from, (size_t)count)
                             ? FailureKind::None
                             : FailureKind::Stopped);
    const uint32_t pieceSize = 256 * 1024;
    unsigned char* piece = (unsigned char*)MemAlloc(pieceSize);
    Failure result = FailureOf(piece ? FailureKind::None : FailureKind::OutOfMemory);
    for (uint64_t done = 0; !Failed(result) && done < count;) {
        uint32_t length = count - done < pieceSize ? (uint32_t)(count - done) : pieceSize;
        if (ReadSource(stored.input, stored.offset + from + done, piece, length) != length)
            result = FailureOf(FailureKind::ReadFailed);
        else if (!sink->write(sink->context, piece, length))
            result = FailureOf(FailureKind::Stopped);
        done += length;
    }
    MemFree(piece);
    return result;
}

// The header of the stored movie with another signature (and, when not
// 0, another declared length), in front of its converted body.
bool WriteHeader(OutputFile* file, const StoredMovie& stored, uint32_t signature,
                 uint32_t declaredLength = 0)
{
    unsigned char header[movieHeaderSize];
    WriteLe32(header, (ReadLe32(stored.head) & 0xFF000000u) | signature);
    memcpy(header + 4, stored.head + 4, 4);
    if (declaredLength != 0)
        WriteLe32(header + 4, declaredLength);
    return WriteOutput(file, header, movieHeaderSize);
}

// A compressed movie to "FWS", keeping what decodes of a damaged one: the
// output declares the length written, put in front once it is known.
Failure WriteSalvaged(OutputFile* file, const Progress* progress, const StoredMovie& stored,
                      RebuildDetails* details)
{
    uint64_t movieStart = file->size;
    if (!WriteHeader(file, stored, signatureUncompressed))
        return FailureOf(FailureKind::WriteFailed);
    ByteSink bytes = {WriteToFile, nullptr, file};
    DecodeReport report;
    Failure decoded = DecodeStored(stored, &bytes, progress, &report);
    if (Failed(decoded) && decoded.kind != FailureKind::DamagedMovie)
        return OutputFailure(decoded);
    details->paddedBytes = report.padded;
    details->damage = decoded.damage;
    details->damageOffset = decoded.offset;
    details->salvagedLength = file->size - movieStart;
    unsigned char length[4];
    WriteLe32(length, (uint32_t)details->salvagedLength);
    return FailureOf(PatchOutput(file, movieStart + 4, length, 4) ? FailureKind::None
                                                                  : FailureKind::WriteFailed);
}

// "CWS" or "ZWS" to "FWS", decoded straight into the file.
Failure WriteDecompressed(OutputFile* file, const Progress* progress, const StoredMovie& stored,
                          RebuildDetails* details)
{
    if (details->salvage)
        return WriteSalvaged(file, progress, stored, details);
    if (!WriteHeader(file, stored, signatureUncompressed))
        return FailureOf(FailureKind::WriteFailed);
    ByteSink bytes = {WriteToFile, nullptr, file};
    DecodeReport report;
    Failure decoded = DecodeStored(stored, &bytes, progress, &report);
    details->paddedBytes = report.padded;
    return OutputFailure(decoded);
}

// Whether the stored movie's body is decoded first (it is compressed).
bool Decodes(const StoredMovie& stored)
{
    return FindBodyDecoder(MovieSignature(ReadLe32(stored.head))) != nullptr;
}

// The body bytes a conversion reads: the declared length's when the body
// is decoded (cut or padded to it), else those stored up to it.
uint64_t BodyLengthOf(const StoredMovie& stored)
{
    uint32_t declaredLength = ReadLe32(stored.head + 4);
    if (Decodes(stored))
        return declaredLength > movieHeaderSize ? declaredLength - movieHeaderSize : 0;
    return (declaredLength < stored.size ? declaredLength : stored.size) - movieHeaderSize;
}

// Feeds the movie's body to `sink`: decoded, or as stored.
Failure FeedBody(const StoredMovie& stored, const ByteSink* sink, const Progress* progress,
                 RebuildDetails* details)
{
    if (!Decodes(stored))
        return CopyStored(stored, movieHeaderSize, BodyLengthOf(stored), sink);
    DecodeReport report;
    Progress cancel = CancelOnly(progress);
    Failure decoded = DecodeStored(stored, sink, &cancel, &report);
    details->paddedBytes = report.padded;
    return decoded;
}

// Any movie to "CWS": a compressed body is decoded into the deflater, an
// uncompressed one deflated where it lies when it is in memory.
Failure WriteCompressed(OutputFile* file, const Progress* progress, const StoredMovie& stored,
                        RebuildDetails* details)
{
    if (!WriteHeader(file, stored, signatureZlib))
        return FailureOf(FailureKind::WriteFailed);
    ByteSink output = {WriteToFile, nullptr, file};
    uint64_t bodyLength = BodyLengthOf(stored);
    int level = details->level != 0 ? details->level : deflateLevelDefault;
    if (stored.whole && !Decodes(stored))
        return FailureOfDeflate(DeflateBody(stored.whole + movieHeaderSize, bodyLength,
                                            details->threads, &output, progress, nullptr, level));
    BodyDeflater* deflater =
        OpenBodyDeflater(details->threads, bodyLength, &output, progress, level);
    if (!deflater)
        return FailureOf(FailureKind::OutOfMemory);
    ByteSink body = BodyDeflaterSink(deflater);
    Failure fed = FeedBody(stored, &body, progress, details);
    // Stopped: the deflater failed, and finishing it says why.
    if (Failed(fed) && fed.kind != FailureKind::Stopped) {
        AbandonBodyDeflater(deflater);
        return fed;
    }
    return FailureOfDeflate(FinishBodyDeflater(deflater, nullptr));
}

// Any movie to "ZWS": the body, decoded or as stored, goes through the
// LZMA encoder into the file; the compressed length is put in front once
// the stream has ended.
Failure WriteLzma(OutputFile* file, const Progress* progress, const StoredMovie& stored,
                  RebuildDetails* details)
{
    uint64_t movieStart = file->size;
    ByteSink output = {WriteToFile, nullptr, file};
    LzmaEncoder* encoder = nullptr;
    Failure failure =
        OpenLzmaEncoder(stored.head, BodyLengthOf(stored), progress, &output, &encoder);
    if (Failed(failure))
        return OutputFailure(failure);
    ByteSink body = LzmaEncoderSink(encoder);
    Failure fed = FeedBody(stored, &body, progress, details);
    if (Failed(fed) && fed.kind != FailureKind::Stopped) {
        AbandonLzmaEncoder(encoder);
        return fed;
    }
    uint64_t streamLength = 0;
    failure = FinishLzmaEncoder(encoder, &streamLength);
    if (Failed(failure))
        return OutputFailure(failure);
    unsigned char length[4];
    WriteLe32(length, (uint32_t)streamLength);
    return FailureOf(PatchOutput(file, movieStart + 8, length, 4) ? FailureKind::None
                                                                  : FailureKind::WriteFailed);
}

// Whether `action` converts this movie at all: others are written as stored.
bool Converts(MovieAction action, const StoredMovie& stored)
{
    if (action == MovieAction::Keep || stored.size <= movieHeaderSize)
        return false;
    uint32_t signature = MovieSignature(ReadLe32(stored.head));
    if (action == MovieAction::Decompress)
        return Decodes(stored);
    return Decodes(stored) ||
           (signature == signatureUncompressed && ReadLe32(stored.head + 4) > movieHeaderSize);
}

// Writes the stored movie converted as `action` asks.
Failure WriteStored(OutputFile* file, const Progress* progress, const StoredMovie& stored,
                    MovieAction action, RebuildDetails* details)
{
    ByteSink output = {WriteToFile, nullptr, file};
    if (!Converts(action, stored))
        return OutputFailure(CopyStored(stored, 0, stored.size, &output));
    if (action == MovieAction::Decompress)
        return WriteDecompressed(file, progress, stored, details);
    if (action == MovieAction::CompressLzma)
        return WriteLzma(file, progress, stored, details);
    return WriteCompressed(file, progress, stored, details);
}

// Reads the stored movie and writes it converted as `action` asks.
Failure WriteMovie(OutputFile* file, const Progress* progress, const ByteSource* input,
                   const MovieInfo& source, MovieAction action, RebuildDetails* details)
{
    StoredMovie stored;
    Failure result = OpenStoredMovie(input, source, &stored);
    if (!Failed(result))
        result = WriteStored(file, progress, stored, action, details);
    CloseStoredMovie(&stored);
    return result;
}

// Writes the player bytes the mode asks for; `*layout` receives the
// output's layout (None when no player bytes were written).
Failure WritePlayer(OutputFile* file, const ByteSource* input, const char* playerPath,
                    const MovieInfo& source, PlayerAction action, PlayerLayout* layout)
{
    unsigned char* player;
    uint32_t playerSize;
    if (!ReadPlayerBytes(source, input, playerPath, action, &player, &playerSize, layout))
        return FailureOf(FailureKind::ReadFailed);
    bool written = !player || WriteOutput(file, player, playerSize);
    if (!player)
        *layout = PlayerLayout::None;
    MemFree(player);
    return FailureOf(written ? FailureKind::None : FailureKind::WriteFailed);
}

// Writes the pieces of a rebuilt file into `file`: the player, the movie
// and next to it the movie size and magic of the player's layout. The
// player bytes are released before the movie is read, so the two are
// never in memory together. A layout that stores the size in front of
// the movie gets it once the movie is written.
Failure WritePieces(OutputFile* file, const Progress* progress, const ByteSource* input,
                    const char* playerPath, const MovieInfo& source, RebuildMode mode,
                    RebuildDetails* details)
{
    PlayerLayout layout;
    Failure result = WritePlayer(file, input, playerPath, source, PlayerActionOf(mode), &layout);
    if (Failed(result))
        return result;
    if (CancelRequested(progress))
        return FailureOf(FailureKind::Cancelled);
    bool before = FrameMovie(layout, 0).beforeMovie;
    uint64_t framingStart = file->size;
    if (before && !WriteFraming(file, layout, 0, true))
        return FailureOf(FailureKind::WriteFailed);
    uint64_t movieStart = file->size;
    result = WriteMovie(file, progress, input, source, MovieActionOf(mode), details);
    if (Failed(result))
        return result;
    uint64_t movieSize = file->size - movieStart;
    if (movieSize > 0xFFFFFFFFu)
        return FailureOf(FailureKind::ConversionFailed);  // a movie size the format cannot hold
    MovieFraming framing = FrameMovie(layout, (uint32_t)movieSize);
    bool written = before ? PatchOutput(file, framingStart, framing.bytes, framing.count)
                          : WriteFraming(file, layout, (uint32_t)movieSize, false);
    return FailureOf(written ? FailureKind::None : FailureKind::WriteFailed);
}

// What a Save finds before it writes anything wrong with its request.
Failure CheckRequest(const MovieInfo& source, RebuildMode mode)
{
    if (mode == 0)
        return FailureOf(FailureKind::NothingToDo);
    if (source.movieSize == 0)
        return FailureOf(FailureKind::NoMovie);
    if (source.layout == PlayerLayout::MacApp && PlayerActionOf(mode) == PlayerAction::Keep)
        return FailureOf(FailureKind::FolderPlayer);
    return NoFailure();
}
}  // namespace

const char* SavedPlayerSource(RebuildMode mode, const char* moviePath, const char* playerPath,
                              const MovieInfo& source)
{
    PlayerAction action = PlayerActionOf(mode);
    if (action == PlayerAction::AddReplace)
        return playerPath;
    if (action == PlayerAction::Keep && source.layout != PlayerLayout::None)
        return moviePath;
    return nullptr;
}

Failure WriteMovieOutputOf(const Progress* progress, const ByteSource* input,
                           const MovieInfo& source, const char* outPath, const char* playerPath,
                           RebuildMode mode, OutputFile* written, RebuildDetails* details)
{
    RebuildDetails defaults = {0, 0, false, Damage::None, 0, 0};
    if (!details)
        details = &defaults;
    details->paddedBytes = 0;
    details->damage = Damage::None;
    details->damageOffset = 0;
    details->salvagedLength = 0;
    *written = OutputFile{nullptr, 0};
    Failure result = CheckRequest(source, mode);
    if (Failed(result))
        return result;
    OutputFile output;
    result = OpenOutput(&output, outPath);
    if (!Failed(result))
        result = WritePieces(&output, progress, input, playerPath, source, mode, details);
    if (Failed(result))
        AbandonOutput(&output);
    else
        *written = output;
    return result;
}

Failure WriteMovieOutput(const Progress* progress, const char* moviePath, const char* outPath,
                         const char* playerPath, RebuildMode mode, OutputFile* written,
                         RebuildDetails* details)
{
    *written = OutputFile{nullptr, 0};
    // A file is opened once, looked at and read through that one handle;
    // a .app folder keeps its movie in a file of its own, and its player
    // is never read.
    MovieFileSource input = {OpenFileForRead(moviePath), MemorySource(nullptr, 0)};
    uint64_t size = 0;
    if (input.file && GetFileSize64(input.file, &size))
        input.source = FileSource(input.file, size);
    MovieInfo source;
    if (input.file)
        InspectMovieSource(&input.source, &source);
    else
        InspectMovie(moviePath, &source);
    Failure result = CheckRequest(source, mode);
    if (!Failed(result) && !input.file && !OpenMovieFileSource(moviePath, source, &input))
        result = FailureOf(FailureKind::ReadFailed);
    if (!Failed(result))
        result = WriteMovieOutputOf(progress, &input.source, source, outPath, playerPath, mode,
                                    written, details);
    CloseMovieFileSource(&input);
    return result;
}

Failure RebuildMovieFile(const Progress* progress, const char* moviePath, const char* outPath,
                         const char* playerPath, RebuildMode mode, RebuildDetails* details,
                         CommitMode commit)
{
    OutputFile written;
    Failure result =
        WriteMovieOutput(progress, moviePath, outPath, playerPath, mode, &written, details);
    if (Failed(result))
        return result;
    // A cancel that came while the last piece was written still counts.
    if (CancelRequested(progress)) {
        AbandonOutput(&written);
        return FailureOf(FailureKind::Cancelled);
    }
    return PlaceOutput(&written, outPath, commit);
}

namespace {
// Writes the `size` player bytes at `player` to `outPath` and frees them.
Failure WriteExtractedPlayer(unsigned char* player, uint32_t size, const char* outPath,
                             CommitMode commit, const Progress* progress)
{
    if (!player)
        return FailureOf(FailureKind::ReadFailed);
    OutputFile output;
    Failure result = OpenOutput(&output, outPath);
    if (!Failed(result) && !WriteOutput(&output, player, size))
        result = FailureOf(FailureKind::WriteFailed);
    if (!Failed(result) && CancelRequested(progress))
        result = FailureOf(FailureKind::Cancelled);
    if (Failed(result))
        AbandonOutput(&output);
    else
        result = PlaceOutput(&output, outPath, commit);
    MemFree(player);
    return result;
}

Failure CheckPlayerToExtract(const MovieInfo& source)
{
    if (source.layout == PlayerLayout::MacApp)
        return FailureOf(FailureKind::FolderPlayer);
    if (source.playerSize == 0)
        return FailureOf(FailureKind::NoPlayer);
    return NoFailure();
}
}  // namespace

Failure ExtractPlayerOf(const ByteSource* input, const MovieInfo& source, const char* outPath,
                        CommitMode commit, const Progress* progress)
{
    Failure refused = CheckPlayerToExtract(source);
    if (Failed(refused))
        return refused;
    return WriteExtractedPlayer(ReadSourceRangeFully(input, 0, source.playerSize),
                                source.playerSize, outPath, commit, progress);
}

Failure ExtractPlayer(const char* moviePath, const char* outPath, CommitMode commit,
                      const Progress* progress)
{
    if (!moviePath || !outPath)
        return FailureOf(FailureKind::NoPlayer);
    MovieInfo source;
    InspectMovie(moviePath, &source);
    Failure refused = CheckPlayerToExtract(source);
    if (Failed(refused))
        return refused;
    // Read whole and closed first: the output may replace the input.
    return WriteExtractedPlayer(ReadFileRangeFully(moviePath, 0, source.playerSize),
                                source.playerSize, outPath, commit, progress);
}
