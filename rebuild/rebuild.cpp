// rebuild.cpp - Save and Extract player: the output is assembled in a
// temporary file beside the destination, which replaces the destination
// only once every piece is written, so no failure loses a file.
#include "rebuild.h"

#include <cstring>

#include "../common/bytes.h"
#include "../movie/movie_file.h"
#include "body_decode.h"
#include "lzma_body.h"
#include "parallel_deflate.h"

namespace {
bool Fail(RebuildError* error, RebuildError reason)
{
    if (error)
        *error = reason;
    return false;
}

bool Succeed(RebuildError* error)
{
    if (error)
        *error = RebuildError::None;
    return true;
}

bool OpenOutput(WrittenOutput* output, const char* outPath)
{
    output->file = CreateOutputBeside(outPath);
    return output->file != nullptr;
}

// Drops an unfinished output; the destination is untouched.
void AbandonOutput(WrittenOutput* output)
{
    ::AbandonOutput(output->file);
}

// The player bytes the mode asks for, and the layout they bring: `*buffer`
// is null with `*count` 0 when there are none to write. False when they
// exist but cannot be read.
bool ReadPlayerBytes(const MovieLocation& source, const char* moviePath, const char* playerPath,
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
        MovieLocation player;
        LocateMovie(playerPath, &player);
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
bool WriteFraming(PlatformFile* file, PlayerLayout layout, uint32_t movieSize, bool beforeMovie)
{
    MovieFraming framing = FrameMovie(layout, movieSize);
    if (framing.count == 0 || framing.beforeMovie != beforeMovie)
        return true;
    return WriteFileBytes(file, framing.bytes, framing.count);
}

// The output file as a byte sink, counting what it takes. Without a file
// the bytes are held in memory instead (`held`, MemAlloc, the sink's
// owner frees it): for layouts whose movie size stands in front of a
// movie whose size is known only once it is compressed.
struct FileSink {
    PlatformFile* file;
    uint64_t written;
    unsigned char* held;
    size_t capacity;  // of `held`
};

// Grows the held bytes by doubling, within the largest body a movie holds.
bool HoldBytes(FileSink* sink, const unsigned char* data, size_t length)
{
    const uint64_t largest = 0xFFFFFFFFu - movieHeaderSize;
    if (length > sink->capacity - sink->written) {
        uint64_t wanted = sink->capacity * 2 > sink->written + length ? sink->capacity * 2
                                                                      : sink->written + length;
        wanted = wanted < largest ? wanted : largest;
        unsigned char* grown = sink->written + length <= wanted
                                   ? (unsigned char*)MemReAlloc(sink->held, (size_t)wanted)
                                   : nullptr;
        if (!grown)
            return false;
        sink->held = grown;
        sink->capacity = (size_t)wanted;
    }
    memcpy(sink->held + sink->written, data, length);
    sink->written += length;
    return true;
}

bool WriteToFile(void* context, const unsigned char* data, size_t length)
{
    FileSink* sink = (FileSink*)context;
    if (!sink->file)
        return HoldBytes(sink, data, length);
    sink->written += length;
    return WriteFileBytes(sink->file, data, (uint32_t)length);
}

RebuildError ErrorOfDecode(DecodeResult result)
{
    switch (result) {
    case DecodeResult::Damaged: return RebuildError::DamagedMovie;
    case DecodeResult::OutOfMemory: return RebuildError::OutOfMemory;
    case DecodeResult::Stopped: return RebuildError::WriteFailed;
    default: return RebuildError::ConversionFailed;
    }
}

RebuildError ErrorOfDeflate(DeflateStatus status)
{
    switch (status) {
    case DeflateStatus::OutOfMemory: return RebuildError::OutOfMemory;
    case DeflateStatus::OutputFailed: return RebuildError::WriteFailed;
    default: return RebuildError::ConversionFailed;
    }
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

// A compressed movie to "FWS", keeping what decodes of a damaged one: the
// output declares the length written.
RebuildError WriteSalvaged(FileSink* sink, const Progress* progress, const unsigned char* movie,
                           uint32_t storedSize, RebuildDetails* details)
{
    // The body is held: the header in front of it declares what decoded,
    // which is known only at the end.
    FileSink body = {nullptr, 0, nullptr, 0};
    ByteSink bytes = {WriteToFile, nullptr, &body};
    DecodeReport report;
    DecodeResult result = DecodeMovieBody(movie, storedSize, &bytes, progress, &report);
    RebuildError error = RebuildError::None;
    if (result == DecodeResult::Stopped || result == DecodeResult::OutOfMemory) {
        error = RebuildError::OutOfMemory;
    } else if (result == DecodeResult::Decoded || result == DecodeResult::Damaged) {
        details->paddedBytes = report.padded;
        details->damage = report.damage;
        uint32_t streamStart = FindBodyDecoder(MovieSignature(ReadLe32(movie)))->streamOffset;
        details->damageOffset =
            report.damageOffset > streamStart ? report.damageOffset - streamStart : 0;
        details->salvagedLength = movieHeaderSize + body.written;
        unsigned char header[movieHeaderSize];
        WriteLe32(header, (ReadLe32(movie) & 0xFF000000u) | signatureUncompressed);
        WriteLe32(header + 4, (uint32_t)details->salvagedLength);
        if (!WriteToFile(sink, header, movieHeaderSize) ||
            (body.written != 0 && !WriteToFile(sink, body.held, (size_t)body.written)))
            error = RebuildError::WriteFailed;
    } else {
        error = ErrorOfDecode(result);
    }
    MemFree(body.held);
    return error;
}

// "CWS" or "ZWS" to "FWS", decoded straight into the file.
RebuildError WriteDecompressed(FileSink* sink, const Progress* progress,
                               const unsigned char* movie, uint32_t storedSize,
                               RebuildDetails* details)
{
    if (details->salvage)
        return WriteSalvaged(sink, progress, movie, storedSize, details);
    if (!WriteHeader(sink, movie, signatureUncompressed))
        return RebuildError::WriteFailed;
    ByteSink bytes = {WriteToFile, nullptr, sink};
    DecodeReport report;
    DecodeResult result = DecodeMovieBody(movie, storedSize, &bytes, progress, &report);
    details->paddedBytes = report.padded;
    return result == DecodeResult::Decoded ? RebuildError::None : ErrorOfDecode(result);
}

// Any movie to "CWS": a compressed body is decoded into the deflater, an
// uncompressed one deflated where it lies.
RebuildError WriteCompressed(FileSink* sink, const Progress* progress, const unsigned char* movie,
                             uint32_t storedSize, RebuildDetails* details)
{
    uint32_t declaredLength = ReadLe32(movie + 4);
    bool decodes = FindBodyDecoder(MovieSignature(ReadLe32(movie))) != nullptr;
    if (!WriteHeader(sink, movie, signatureZlib))
        return RebuildError::WriteFailed;
    ByteSink file = {WriteToFile, nullptr, sink};
    DeflateStatus status;
    if (decodes) {
        uint64_t bodyLength = declaredLength > movieHeaderSize ? declaredLength - movieHeaderSize : 0;
        BodyDeflater* deflater = OpenBodyDeflater(details->threads, bodyLength, &file, progress);
        if (!deflater)
            return RebuildError::OutOfMemory;
        ByteSink body = BodyDeflaterSink(deflater);
        DecodeReport report;
        DecodeResult result = DecodeMovieBody(movie, storedSize, &body, nullptr, &report);
        details->paddedBytes = report.padded;
        if (result != DecodeResult::Decoded) {
            DeflateStatus failure = FinishBodyDeflater(deflater, nullptr);
            return result == DecodeResult::Stopped ? ErrorOfDeflate(failure)
                                                   : ErrorOfDecode(result);
        }
        status = FinishBodyDeflater(deflater, nullptr);
    } else {
        uint32_t bodyLength = (declaredLength < storedSize ? declaredLength : storedSize) -
                              movieHeaderSize;
        status = DeflateBody(movie + movieHeaderSize, bodyLength, details->threads, &file,
                             progress, nullptr);
    }
    return status == DeflateStatus::Done ? RebuildError::None : ErrorOfDeflate(status);
}

RebuildError ErrorOfConversion(ConversionError error)
{
    return error == ConversionError::OutOfMemory ? RebuildError::OutOfMemory
                                                 : RebuildError::ConversionFailed;
}

// Any movie to "ZWS": a compressed body is decoded into the LZMA encoder,
// an uncompressed one handed to it as it lies. The encoder keeps its
// output, which is written once complete.
RebuildError WriteLzma(FileSink* sink, const Progress* progress, const unsigned char* movie,
                       uint32_t storedSize, RebuildDetails* details)
{
    uint32_t declaredLength = ReadLe32(movie + 4);
    bool decodes = FindBodyDecoder(MovieSignature(ReadLe32(movie))) != nullptr;
    uint64_t bodyLength = declaredLength > movieHeaderSize ? declaredLength - movieHeaderSize : 0;
    if (!decodes)
        bodyLength = (declaredLength < storedSize ? declaredLength : storedSize) - movieHeaderSize;
    ConversionError failure = ConversionError::None;
    LzmaEncoder* encoder = OpenLzmaEncoder(movie, bodyLength, progress, &failure);
    if (!encoder)
        return ErrorOfConversion(failure);
    ByteSink body = LzmaEncoderSink(encoder);
    if (decodes) {
        DecodeReport report;
        DecodeResult result = DecodeMovieBody(movie, storedSize, &body, nullptr, &report);
        details->paddedBytes = report.padded;
        if (result != DecodeResult::Decoded && result != DecodeResult::Stopped) {
            AbandonLzmaEncoder(encoder);
            return ErrorOfDecode(result);
        }
    } else {
        body.write(body.context, movie + movieHeaderSize, (size_t)bodyLength);
    }
    uint32_t size = 0;
    unsigned char* compressed = FinishLzmaEncoder(encoder, &size, &failure);
    if (!compressed)
        return ErrorOfConversion(failure);
    bool written = WriteToFile(sink, compressed, size);
    MemFree(compressed);
    return written ? RebuildError::None : RebuildError::WriteFailed;
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
unsigned char* ReadStoredMovie(const char* moviePath, const MovieLocation& source)
{
    char* movieFile = MovieFilePath(moviePath, source.layout);
    unsigned char* movie =
        movieFile ? ReadFileRangeFully(movieFile, source.movieOffset, source.movieSize) : nullptr;
    MemFree(movieFile);
    return movie;
}

// Reads the stored movie and writes it converted as `action` asks;
// `sink->written` is then the movie's size in the output.
RebuildError WriteMovie(FileSink* sink, const Progress* progress, const char* moviePath,
                        const MovieLocation& source, MovieAction action, RebuildDetails* details)
{
    unsigned char* movie = ReadStoredMovie(moviePath, source);
    if (!movie)
        return RebuildError::ReadFailed;
    RebuildError error = RebuildError::None;
    if (!Converts(action, movie, source.movieSize))
        error = WriteToFile(sink, movie, source.movieSize) ? RebuildError::None
                                                            : RebuildError::WriteFailed;
    else if (action == MovieAction::Decompress)
        error = WriteDecompressed(sink, progress, movie, source.movieSize, details);
    else if (action == MovieAction::CompressLzma)
        error = WriteLzma(sink, progress, movie, source.movieSize, details);
    else
        error = WriteCompressed(sink, progress, movie, source.movieSize, details);
    MemFree(movie);
    return error;
}

// The size the movie will have in the output when it is known before it
// is written: the stored size when it is kept, the declared length when
// it is decompressed (the decoder cuts or pads to it). False when only
// writing it tells (compression).
bool KnownMovieSize(const char* moviePath, const MovieLocation& source, MovieAction action,
                    uint32_t* size)
{
    *size = source.movieSize;
    if (action == MovieAction::Keep)
        return true;
    unsigned char header[movieHeaderSize];
    FillBytes(header, 0, sizeof header);
    MovieLocation start = source;
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
RebuildError WriteMovieAfterFraming(PlatformFile* file, const Progress* progress,
                                    const char* moviePath, const MovieLocation& source,
                                    PlayerLayout layout, MovieAction action,
                                    RebuildDetails* details)
{
    uint32_t size;
    bool known = KnownMovieSize(moviePath, source, action, &size);
    FileSink sink = {known ? file : nullptr, 0, nullptr, 0};
    if (known && !WriteFraming(file, layout, size, true))
        return RebuildError::WriteFailed;
    RebuildError error = WriteMovie(&sink, progress, moviePath, source, action, details);
    if (error == RebuildError::None && sink.written > 0xFFFFFFFFu)
        error = RebuildError::ConversionFailed;
    if (error == RebuildError::None && known && sink.written != size)
        error = RebuildError::ConversionFailed;  // the size in front would be wrong
    if (error == RebuildError::None && !known) {
        bool written = WriteFraming(file, layout, (uint32_t)sink.written, true) &&
                       WriteFileBytes(file, sink.held, (uint32_t)sink.written);
        error = written ? RebuildError::None : RebuildError::WriteFailed;
    }
    MemFree(sink.held);
    return error;
}

// Writes the pieces of a rebuilt file into `file`. The player bytes are
// released before the movie is read, so the two are never in memory
// together.
RebuildError WritePieces(PlatformFile* file, const Progress* progress, const char* moviePath,
                         const char* playerPath, const MovieLocation& source, RebuildMode mode,
                         RebuildDetails* details)
{
    unsigned char* player;
    uint32_t playerSize;
    PlayerLayout layout;
    if (!ReadPlayerBytes(source, moviePath, playerPath, PlayerActionOf(mode), &player, &playerSize,
                         &layout))
        return RebuildError::ReadFailed;
    bool written = !player || WriteFileBytes(file, player, playerSize);
    MemFree(player);
    if (!written)
        return RebuildError::WriteFailed;
    if (!player)
        layout = PlayerLayout::None;
    MovieAction action = MovieActionOf(mode);
    if (FrameMovie(layout, 0).beforeMovie)
        return WriteMovieAfterFraming(file, progress, moviePath, source, layout, action, details);

    FileSink sink = {file, 0, nullptr, 0};
    RebuildError error = WriteMovie(&sink, progress, moviePath, source, action, details);
    if (error != RebuildError::None)
        return error;
    if (sink.written > 0xFFFFFFFFu)
        return RebuildError::ConversionFailed;  // a movie size the format cannot hold
    if (!WriteFraming(file, layout, (uint32_t)sink.written, false))
        return RebuildError::WriteFailed;
    return RebuildError::None;
}

// What a commit's result means for the output.
RebuildError CommitError(CommitResult result)
{
    switch (result) {
    case CommitResult::Done: return RebuildError::None;
    case CommitResult::Exists: return RebuildError::OutputExists;
    case CommitResult::NotFlushed: return RebuildError::NotFlushed;
    case CommitResult::Failed: break;
    }
    return RebuildError::WriteFailed;
}
}  // namespace

RebuildError PlaceWrittenOutput(WrittenOutput* written, const char* outPath, CommitMode commit)
{
    CommitResult result = CommitOutput(written->file, outPath, commit);
    written->file = nullptr;
    return CommitError(result);
}

RebuildError NameWrittenOutput(WrittenOutput* written, const char* outPath, CommitMode commit)
{
    CommitResult result = FlushOutput(written->file)
                              ? NameOutput(written->file, outPath, commit)
                              : CommitResult::Failed;
    if (result != CommitResult::Done) {
        ::AbandonOutput(written->file);
        written->file = nullptr;
    }
    return CommitError(result);
}

RebuildError FinishWrittenOutput(WrittenOutput* written, bool folderFlushed)
{
    CommitResult result = FinishOutput(written->file, folderFlushed);
    written->file = nullptr;
    return CommitError(result);
}

const char* SavedPlayerSource(RebuildMode mode, const char* moviePath, const char* playerPath,
                              const MovieInfo& source)
{
    PlayerAction action = PlayerActionOf(mode);
    if (action == PlayerAction::AddReplace)
        return playerPath;
    if (action == PlayerAction::Keep && source.playerSize != 0)
        return moviePath;
    return nullptr;
}

const char* SavedPlayerSource(RebuildMode mode, const char* moviePath, const char* playerPath,
                              const MovieLocation& source)
{
    PlayerAction action = PlayerActionOf(mode);
    if (action == PlayerAction::AddReplace)
        return playerPath;
    if (action == PlayerAction::Keep && source.layout != PlayerLayout::None)
        return moviePath;
    return nullptr;
}

bool WriteMovieOutput(const Progress* progress, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, WrittenOutput* written,
                      RebuildError* error, RebuildDetails* details)
{
    RebuildDetails defaults = {0, 0, false, Damage::None, 0, 0};
    if (!details)
        details = &defaults;
    details->paddedBytes = 0;
    details->damage = Damage::None;
    details->damageOffset = 0;
    details->salvagedLength = 0;
    written->file = nullptr;
    if (mode == 0)
        return Fail(error, RebuildError::NothingToDo);
    MovieLocation source;
    LocateMovie(moviePath, &source);
    if (source.movieSize == 0)
        return Fail(error, RebuildError::NoMovie);
    if (source.layout == PlayerLayout::MacApp && PlayerActionOf(mode) == PlayerAction::Keep)
        return Fail(error, RebuildError::FolderPlayer);
    WrittenOutput output;
    if (!outPath || !OpenOutput(&output, outPath))
        return Fail(error, RebuildError::CreateFailed);
    RebuildError result =
        WritePieces(output.file, progress, moviePath, playerPath, source, mode, details);
    if (result != RebuildError::None) {
        AbandonOutput(&output);
        return Fail(error, result);
    }
    *written = output;
    return Succeed(error);
}

bool RebuildMovieFile(const Progress* progress, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, RebuildError* error,
                      RebuildDetails* details, CommitMode commit)
{
    WrittenOutput written;
    if (!WriteMovieOutput(progress, moviePath, outPath, playerPath, mode, &written, error,
                          details))
        return false;
    RebuildError result = PlaceWrittenOutput(&written, outPath, commit);
    return result == RebuildError::None ? Succeed(error) : Fail(error, result);
}

bool ExtractPlayer(const char* moviePath, const char* outPath, RebuildError* error,
                   CommitMode commit)
{
    if (!moviePath || !outPath)
        return Fail(error, RebuildError::NoPlayer);
    MovieLocation source;
    LocateMovie(moviePath, &source);
    if (source.layout == PlayerLayout::MacApp)
        return Fail(error, RebuildError::FolderPlayer);
    uint32_t playerSize = source.playerSize;
    if (playerSize == 0)
        return Fail(error, RebuildError::NoPlayer);
    unsigned char* player = ReadFileRangeFully(moviePath, 0, playerSize);
    if (!player)
        return Fail(error, RebuildError::ReadFailed);
    WrittenOutput output;
    RebuildError result = RebuildError::None;
    if (!OpenOutput(&output, outPath)) {
        result = RebuildError::CreateFailed;
    } else if (!WriteFileBytes(output.file, player, playerSize)) {
        AbandonOutput(&output);
        result = RebuildError::WriteFailed;
    } else {
        result = PlaceWrittenOutput(&output, outPath, commit);
    }
    MemFree(player);
    return result == RebuildError::None ? Succeed(error) : Fail(error, result);
}
