// rebuild.cpp - Save and Extract player: the output is assembled in a
// temporary file beside the destination, which replaces the destination
// only once every piece is written, so no failure loses a file.
#include "rebuild/rebuild.h"

#include <cstring>

#include "common/byte_buffer.h"
#include "common/bytes.h"
#include "movie/movie_file.h"
#include "rebuild/body_decode.h"
#include "rebuild/lzma_body.h"
#include "rebuild/parallel_deflate.h"

namespace {
// The player bytes the mode asks for, and the layout they bring: `*buffer`
// is null with `*count` 0 when there are none to write. False when they
// exist but cannot be read.
bool ReadPlayerBytes(const MovieInfo& source, const char* moviePath, const char* playerPath,
                     PlayerAction action, unsigned char** buffer, uint32_t* count,
                     PlayerLayout* layout)
{
    *buffer = nullptr;
    *count = 0;
    *layout = PlayerLayout::None;
    const char* path = moviePath;
    if (action == PlayerAction::Keep) {
        *count = source.playerSize;
        *layout = source.layout;
    } else if (action == PlayerAction::AddReplace) {
        MovieInfo player;
        InspectMovie(playerPath, &player);
        *count = player.playerSize;
        *layout = player.layout;
        path = playerPath;
    }
    if (*count == 0)
        return true;
    *buffer = ReadFileRangeFully(path, 0, *count);
    return *buffer != nullptr;
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

// The output file as a byte sink, counting what it takes. Without a file
// the bytes are held in memory instead (the sink's owner releases them):
// for layouts whose movie size stands in front of a movie whose size is
// known only once it is compressed.
struct FileSink {
    OutputFile* file;
    uint64_t written;
    ByteBuffer held;
};

FileSink SinkToFile(OutputFile* file)
{
    return FileSink{file, 0, EmptyByteBuffer(0)};
}

// Held bytes grow within the largest body a movie holds.
FileSink SinkToMemory()
{
    return FileSink{nullptr, 0, EmptyByteBuffer(0xFFFFFFFFu - movieHeaderSize)};
}

bool WriteToFile(void* context, const unsigned char* data, size_t length)
{
    FileSink* sink = (FileSink*)context;
    sink->written += length;
    if (!sink->file)
        return AppendBytes(&sink->held, data, length);
    return WriteOutput(sink->file, data, (uint32_t)length);
}

Failure FailureOfDeflate(DeflateStatus status)
{
    switch (status) {
    case DeflateStatus::Done: return NoFailure();
    case DeflateStatus::OutOfMemory: return FailureOf(FailureKind::OutOfMemory);
    case DeflateStatus::OutputFailed: return FailureOf(FailureKind::WriteFailed);
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

// A decode that stopped because its sink did: the sink was the output file.
Failure OutputFailure(Failure decoded)
{
    return decoded.kind == FailureKind::Stopped ? FailureOf(FailureKind::WriteFailed) : decoded;
}

// The header of the stored movie `movie` with another signature, in front
// of its converted body.
bool WriteHeader(FileSink* sink, const unsigned char* movie, uint32_t signature)
{
    unsigned char header[movieHeaderSize];
    WriteLe32(header, (ReadLe32(movie) & 0xFF000000u) | signature);
    memcpy(header + 4, movie + 4, 4);
    return WriteToFile(sink, header, movieHeaderSize);
}

// The header of a salvaged movie: "FWS", declaring the length written.
bool WriteSalvageHeader(FileSink* sink, const unsigned char* movie, uint64_t length)
{
    unsigned char header[movieHeaderSize];
    WriteLe32(header, (ReadLe32(movie) & 0xFF000000u) | signatureUncompressed);
    WriteLe32(header + 4, (uint32_t)length);
    return WriteToFile(sink, header, movieHeaderSize);
}

// A compressed movie to "FWS", keeping what decodes of a damaged one: the
// output declares the length written.
Failure WriteSalvaged(FileSink* sink, const Progress* progress, const unsigned char* movie,
                      uint32_t storedSize, RebuildDetails* details)
{
    // The body is held: the header in front of it declares what decoded,
    // which is known only at the end.
    FileSink body = SinkToMemory();
    ByteSink bytes = {WriteToFile, nullptr, &body};
    DecodeReport report;
    Failure decoded = DecodeMovieBody(movie, storedSize, &bytes, progress, &report);
    Failure result = decoded;
    if (decoded.kind == FailureKind::Stopped || decoded.kind == FailureKind::OutOfMemory) {
        result = FailureOf(FailureKind::OutOfMemory);
    } else if (!Failed(decoded) || decoded.kind == FailureKind::DamagedMovie) {
        details->paddedBytes = report.padded;
        details->damage = decoded.damage;
        details->damageOffset = decoded.offset;
        details->salvagedLength = movieHeaderSize + body.written;
        bool written = WriteSalvageHeader(sink, movie, details->salvagedLength) &&
                       (body.written == 0 || WriteToFile(sink, body.held.data, (size_t)body.written));
        result = FailureOf(written ? FailureKind::None : FailureKind::WriteFailed);
    }
    ReleaseBytes(&body.held);
    return result;
}

// "CWS" or "ZWS" to "FWS", decoded straight into the file.
Failure WriteDecompressed(FileSink* sink, const Progress* progress, const unsigned char* movie,
                          uint32_t storedSize, RebuildDetails* details)
{
    if (details->salvage)
        return WriteSalvaged(sink, progress, movie, storedSize, details);
    if (!WriteHeader(sink, movie, signatureUncompressed))
        return FailureOf(FailureKind::WriteFailed);
    ByteSink bytes = {WriteToFile, nullptr, sink};
    DecodeReport report;
    Failure decoded = DecodeMovieBody(movie, storedSize, &bytes, progress, &report);
    details->paddedBytes = report.padded;
    return OutputFailure(decoded);
}

// The body bytes a conversion reads: the declared length's when the body
// is decoded (cut or padded to it), else those stored up to it.
uint64_t BodyLengthOf(const unsigned char* movie, uint32_t storedSize, bool decodes)
{
    uint32_t declaredLength = ReadLe32(movie + 4);
    if (decodes)
        return declaredLength > movieHeaderSize ? declaredLength - movieHeaderSize : 0;
    return (declaredLength < storedSize ? declaredLength : storedSize) - movieHeaderSize;
}

// A compressed body decoded into the deflater.
Failure DeflateDecoded(FileSink* sink, const Progress* progress, const unsigned char* movie,
                       uint32_t storedSize, RebuildDetails* details)
{
    ByteSink file = {WriteToFile, nullptr, sink};
    uint64_t bodyLength = BodyLengthOf(movie, storedSize, true);
    BodyDeflater* deflater = OpenBodyDeflater(details->threads, bodyLength, &file, progress);
    if (!deflater)
        return FailureOf(FailureKind::OutOfMemory);
    ByteSink body = BodyDeflaterSink(deflater);
    DecodeReport report;
    Progress cancel = CancelOnly(progress);
    Failure decoded = DecodeMovieBody(movie, storedSize, &body, &cancel, &report);
    details->paddedBytes = report.padded;
    // Stopped: the deflater failed, and finishing it says why.
    if (Failed(decoded) && decoded.kind != FailureKind::Stopped) {
        AbandonBodyDeflater(deflater);
        return decoded;
    }
    return FailureOfDeflate(FinishBodyDeflater(deflater, nullptr));
}

// Any movie to "CWS": a compressed body is decoded into the deflater, an
// uncompressed one deflated where it lies.
Failure WriteCompressed(FileSink* sink, const Progress* progress, const unsigned char* movie,
                        uint32_t storedSize, RebuildDetails* details)
{
    bool decodes = FindBodyDecoder(MovieSignature(ReadLe32(movie))) != nullptr;
    if (!WriteHeader(sink, movie, signatureZlib))
        return FailureOf(FailureKind::WriteFailed);
    if (decodes)
        return DeflateDecoded(sink, progress, movie, storedSize, details);
    ByteSink file = {WriteToFile, nullptr, sink};
    uint64_t bodyLength = BodyLengthOf(movie, storedSize, false);
    return FailureOfDeflate(DeflateBody(movie + movieHeaderSize, bodyLength, details->threads,
                                        &file, progress, nullptr));
}

// Any movie to "ZWS": a compressed body is decoded into the LZMA encoder,
// an uncompressed one handed to it as it lies. The encoder keeps its
// output, which is written once complete.
Failure WriteLzma(FileSink* sink, const Progress* progress, const unsigned char* movie,
                  uint32_t storedSize, RebuildDetails* details)
{
    bool decodes = FindBodyDecoder(MovieSignature(ReadLe32(movie))) != nullptr;
    uint64_t bodyLength = BodyLengthOf(movie, storedSize, decodes);
    LzmaEncoder* encoder = nullptr;
    Failure failure = OpenLzmaEncoder(movie, bodyLength, progress, &encoder);
    if (Failed(failure))
        return failure;
    ByteSink body = LzmaEncoderSink(encoder);
    if (decodes) {
        DecodeReport report;
        Progress cancel = CancelOnly(progress);
        Failure decoded = DecodeMovieBody(movie, storedSize, &body, &cancel, &report);
        details->paddedBytes = report.padded;
        if (Failed(decoded) && decoded.kind != FailureKind::Stopped) {
            AbandonLzmaEncoder(encoder);
            return decoded;
        }
    } else {
        body.write(body.context, movie + movieHeaderSize, (size_t)bodyLength);
    }
    unsigned char* compressed = nullptr;
    uint32_t size = 0;
    failure = FinishLzmaEncoder(encoder, &compressed, &size);
    if (Failed(failure))
        return failure;
    bool written = WriteToFile(sink, compressed, size);
    MemFree(compressed);
    return FailureOf(written ? FailureKind::None : FailureKind::WriteFailed);
}

// Whether `action` converts this movie at all: others are written as stored.
bool Converts(MovieAction action, const unsigned char* movie, uint32_t storedSize)
{
    if (action == MovieAction::Keep || storedSize <= movieHeaderSize)
        return false;
    uint32_t signature = MovieSignature(ReadLe32(movie));
    bool compressed = FindBodyDecoder(signature) != nullptr;
    if (action == MovieAction::Decompress)
        return compressed;
    return compressed ||
           (signature == signatureUncompressed && ReadLe32(movie + 4) > movieHeaderSize);
}

// The stored movie of `moviePath` (MemAlloc; the caller frees it), or null.
unsigned char* ReadStoredMovie(const char* moviePath, const MovieInfo& source)
{
    char* movieFile = MovieFilePath(moviePath, source.layout);
    unsigned char* movie =
        movieFile ? ReadFileRangeFully(movieFile, source.movieOffset, source.movieSize) : nullptr;
    MemFree(movieFile);
    return movie;
}

// Reads the stored movie and writes it converted as `action` asks;
// `sink->written` is then the movie's size in the output.
Failure WriteMovie(FileSink* sink, const Progress* progress, const char* moviePath,
                   const MovieInfo& source, MovieAction action, RebuildDetails* details)
{
    unsigned char* movie = ReadStoredMovie(moviePath, source);
    if (!movie)
        return FailureOf(FailureKind::ReadFailed);
    Failure result;
    if (!Converts(action, movie, source.movieSize))
        result = FailureOf(WriteToFile(sink, movie, source.movieSize) ? FailureKind::None
                                                                       : FailureKind::WriteFailed);
    else if (action == MovieAction::Decompress)
        result = WriteDecompressed(sink, progress, movie, source.movieSize, details);
    else if (action == MovieAction::CompressLzma)
        result = WriteLzma(sink, progress, movie, source.movieSize, details);
    else
        result = WriteCompressed(sink, progress, movie, source.movieSize, details);
    MemFree(movie);
    return result;
}

// The size the movie will have in the output when it is known before it
// is written: the stored size when it is kept, the declared length when
// it is decompressed (the decoder cuts or pads to it). False when only
// writing it tells (compression).
bool KnownMovieSize(const char* moviePath, const MovieInfo& source, MovieAction action,
                    uint32_t* size)
{
    *size = source.movieSize;
    if (action == MovieAction::Keep)
        return true;
    unsigned char header[movieHeaderSize];
    FillBytes(header, 0, sizeof header);
    MovieInfo start = source;
    start.movieSize = source.movieSize < movieHeaderSize ? source.movieSize : movieHeaderSize;
    unsigned char* stored = ReadStoredMovie(moviePath, start);
    if (stored)
        memcpy(header, stored, start.movieSize);
    MemFree(stored);
    if (!Converts(action, header, source.movieSize))
        return true;
    *size = ReadLe32(header + 4);
    return action == MovieAction::Decompress;
}

// The movie of a layout that stores its size in front of it: written
// straight to the file when its size is known, held in memory until it
// is known otherwise.
Failure WriteMovieAfterFraming(OutputFile* file, const Progress* progress, const char* moviePath,
                               const MovieInfo& source, PlayerLayout layout, MovieAction action,
                               RebuildDetails* details)
{
    // A salvage declares what decoded, known only at the end.
    uint32_t size = 0;
    bool known = !details->salvage && KnownMovieSize(moviePath, source, action, &size);
    FileSink sink = known ? SinkToFile(file) : SinkToMemory();
    if (known && !WriteFraming(file, layout, size, true))
        return FailureOf(FailureKind::WriteFailed);
    Failure result = WriteMovie(&sink, progress, moviePath, source, action, details);
    // A size the format cannot hold, or one that differs from the size in front.
    if (!Failed(result) && (sink.written > 0xFFFFFFFFu || (known && sink.written != size)))
        result = FailureOf(FailureKind::ConversionFailed);
    if (!Failed(result) && !known) {
        bool written = WriteFraming(file, layout, (uint32_t)sink.written, true) &&
                       WriteOutput(file, sink.held.data, (uint32_t)sink.written);
        result = FailureOf(written ? FailureKind::None : FailureKind::WriteFailed);
    }
    ReleaseBytes(&sink.held);
    return result;
}

// Writes the player bytes the mode asks for; `*layout` receives the
// output's layout (None when no player bytes were written).
Failure WritePlayer(OutputFile* file, const char* moviePath, const char* playerPath,
                    const MovieInfo& source, PlayerAction action, PlayerLayout* layout)
{
    unsigned char* player;
    uint32_t playerSize;
    if (!ReadPlayerBytes(source, moviePath, playerPath, action, &player, &playerSize, layout))
        return FailureOf(FailureKind::ReadFailed);
    bool written = !player || WriteOutput(file, player, playerSize);
    if (!player)
        *layout = PlayerLayout::None;
    MemFree(player);
    return FailureOf(written ? FailureKind::None : FailureKind::WriteFailed);
}

// Writes the pieces of a rebuilt file into `file`. The player bytes are
// released before the movie is read, so the two are never in memory
// together.
Failure WritePieces(OutputFile* file, const Progress* progress, const char* moviePath,
                    const char* playerPath, const MovieInfo& source, RebuildMode mode,
                    RebuildDetails* details)
{
    PlayerLayout layout;
    Failure result = WritePlayer(file, moviePath, playerPath, source, PlayerActionOf(mode), &layout);
    if (Failed(result))
        return result;
    if (CancelRequested(progress))
        return FailureOf(FailureKind::Cancelled);
    MovieAction action = MovieActionOf(mode);
    if (FrameMovie(layout, 0).beforeMovie)
        return WriteMovieAfterFraming(file, progress, moviePath, source, layout, action, details);
    FileSink sink = SinkToFile(file);
    result = WriteMovie(&sink, progress, moviePath, source, action, details);
    if (Failed(result))
        return result;
    if (sink.written > 0xFFFFFFFFu)
        return FailureOf(FailureKind::ConversionFailed);  // a movie size the format cannot hold
    if (!WriteFraming(file, layout, (uint32_t)sink.written, false))
        return FailureOf(FailureKind::WriteFailed);
    return NoFailure();
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

Failure WriteMovieOutput(const Progress* progress, const char* moviePath, const char* outPath,
                         const char* playerPath, RebuildMode mode, OutputFile* written,
                         RebuildDetails* details)
{
    RebuildDetails defaults = {0, 0, false, Damage::None, 0, 0};
    if (!details)
        details = &defaults;
    details->paddedBytes = 0;
    details->damage = Damage::None;
    details->damageOffset = 0;
    details->salvagedLength = 0;
    *written = OutputFile{nullptr, nullptr};
    MovieInfo source;
    InspectMovie(moviePath, &source);
    Failure result = CheckRequest(source, mode);
    if (Failed(result))
        return result;
    OutputFile output;
    result = OpenOutput(&output, outPath);
    if (!Failed(result))
        result = WritePieces(&output, progress, moviePath, playerPath, source, mode, details);
    if (Failed(result))
        AbandonOutput(&output);
    else
        *written = output;
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

Failure ExtractPlayer(const char* moviePath, const char* outPath, CommitMode commit,
                      const Progress* progress)
{
    if (!moviePath || !outPath)
        return FailureOf(FailureKind::NoPlayer);
    MovieInfo source;
    InspectMovie(moviePath, &source);
    if (source.layout == PlayerLayout::MacApp)
        return FailureOf(FailureKind::FolderPlayer);
    if (source.playerSize == 0)
        return FailureOf(FailureKind::NoPlayer);
    unsigned char* player = ReadFileRangeFully(moviePath, 0, source.playerSize);
    if (!player)
        return FailureOf(FailureKind::ReadFailed);
    OutputFile output;
    Failure result = OpenOutput(&output, outPath);
    if (!Failed(result) && !WriteOutput(&output, player, source.playerSize))
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
