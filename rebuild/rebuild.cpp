// rebuild.cpp - Save and Extract player: the output is assembled in a
// temporary file beside the destination, which replaces the destination
// only once every piece is written, so no failure loses a file.
#include "rebuild.h"

#include <cstring>

#include "../common/bytes.h"
#include "../movie/movie_file.h"
#include "body_decode.h"
#include "parallel_deflate.h"

namespace {
// An output under construction: the temporary file and its name.
struct Output {
    PlatformFile* file;
    char* tempPath;
};

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

bool OpenOutput(Output* output, const char* outPath)
{
    output->file = CreateTempFileBeside(outPath, &output->tempPath);
    return output->file != nullptr;
}

// Drops an unfinished output; the destination is untouched.
void AbandonOutput(Output* output)
{
    CloseWrittenFile(output->file);
    DeleteFilePath(output->tempPath);
    MemFree(output->tempPath);
}

// Closes the finished output and moves it to the destination as `commit`
// says. None, OutputExists or WriteFailed; the temporary file is gone.
RebuildError CommitOutput(Output* output, const char* outPath, CommitMode commit)
{
    CommitResult result = CommitResult::Failed;
    if (CloseWrittenFile(output->file))
        result = CommitTempFile(output->tempPath, outPath, commit);
    if (result != CommitResult::Done)
        DeleteFilePath(output->tempPath);
    MemFree(output->tempPath);
    if (result == CommitResult::Exists)
        return RebuildError::OutputExists;
    return result == CommitResult::Done ? RebuildError::None : RebuildError::WriteFailed;
}

// The player bytes the mode asks for: `*buffer` is null with `*count` 0
// when there are none to write. False when they exist but cannot be read.
bool ReadPlayerBytes(const MovieInfo& source, const char* moviePath, const char* playerPath,
                     PlayerAction action, unsigned char** buffer, uint32_t* count)
{
    *buffer = nullptr;
    *count = 0;
    const char* path = moviePath;
    if (action == PlayerAction::Keep) {
        *count = source.playerSize;
    } else if (action == PlayerAction::AddReplace) {
        MovieInfo player;
        *count = InspectMovieFile(playerPath, &player);
        path = playerPath;
    }
    if (*count == 0)
        return true;
    *buffer = ReadFileRangeFully(path, 0, *count);
    return *buffer != nullptr;
}

bool WriteTrailer(PlatformFile* file, uint32_t movieSize)
{
    unsigned char trailer[projectorTrailerSize];
    WriteLe32(trailer, projectorMagic);
    WriteLe32(trailer + 4, movieSize);
    return WriteFileBytes(file, trailer, projectorTrailerSize);
}

// The output file as a byte sink, counting what it takes.
struct FileSink {
    PlatformFile* file;
    uint64_t written;
};

bool WriteToFile(void* context, const unsigned char* data, size_t length)
{
    FileSink* sink = (FileSink*)context;
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

// "CWS" to "FWS", decoded straight into the file.
RebuildError WriteDecompressed(FileSink* sink, const Progress* progress,
                               const unsigned char* movie, uint32_t storedSize,
                               RebuildDetails* details)
{
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
    bool decodes = MovieSignature(ReadLe32(movie)) == signatureZlib;
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

// Whether `action` converts this movie at all: others are written as stored.
bool Converts(MovieAction action, const unsigned char* movie, uint32_t storedSize)
{
    if (action == MovieAction::Keep || storedSize <= movieHeaderSize)
        return false;
    uint32_t signature = MovieSignature(ReadLe32(movie));
    if (action == MovieAction::Decompress)
        return signature == signatureZlib;
    return signature == signatureZlib ||
           (signature == signatureUncompressed && ReadLe32(movie + 4) > movieHeaderSize);
}

// Reads the stored movie and writes it converted as `action` asks;
// `sink->written` is then the movie's size in the output.
RebuildError WriteMovie(FileSink* sink, const Progress* progress, const char* moviePath,
                        const MovieInfo& source, MovieAction action, RebuildDetails* details)
{
    unsigned char* movie = ReadFileRangeFully(moviePath, source.playerSize, source.movieSize);
    if (!movie)
        return RebuildError::ReadFailed;
    RebuildError error = RebuildError::None;
    if (!Converts(action, movie, source.movieSize))
        error = WriteToFile(sink, movie, source.movieSize) ? RebuildError::None
                                                            : RebuildError::WriteFailed;
    else if (action == MovieAction::Decompress)
        error = WriteDecompressed(sink, progress, movie, source.movieSize, details);
    else
        error = WriteCompressed(sink, progress, movie, source.movieSize, details);
    MemFree(movie);
    return error;
}

// Writes the pieces of a rebuilt file into `file`. The player bytes are
// released before the movie is read, so the two are never in memory
// together.
RebuildError WritePieces(PlatformFile* file, const Progress* progress, const char* moviePath,
                         const char* playerPath, const MovieInfo& source, RebuildMode mode,
                         RebuildDetails* details)
{
    unsigned char* player;
    uint32_t playerSize;
    if (!ReadPlayerBytes(source, moviePath, playerPath, PlayerActionOf(mode), &player, &playerSize))
        return RebuildError::ReadFailed;
    bool written = !player || WriteFileBytes(file, player, playerSize);
    MemFree(player);
    if (!written)
        return RebuildError::WriteFailed;

    FileSink sink = {file, 0};
    RebuildError error =
        WriteMovie(&sink, progress, moviePath, source, MovieActionOf(mode), details);
    if (error != RebuildError::None)
        return error;
    if (sink.written > 0xFFFFFFFFu)
        return RebuildError::ConversionFailed;  // a movie size the format cannot hold
    if (player && !WriteTrailer(file, (uint32_t)sink.written))
        return RebuildError::WriteFailed;
    return RebuildError::None;
}
}  // namespace

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

bool RebuildMovieFile(const Progress* progress, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, RebuildError* error,
                      RebuildDetails* details, CommitMode commit)
{
    RebuildDetails defaults = {0, 0};
    if (!details)
        details = &defaults;
    details->paddedBytes = 0;
    if (mode == 0)
        return Fail(error, RebuildError::NothingToDo);
    MovieInfo source;
    InspectMovieFile(moviePath, &source);
    if (source.movieSize == 0)
        return Fail(error, RebuildError::NoMovie);
    Output output;
    if (!outPath || !OpenOutput(&output, outPath))
        return Fail(error, RebuildError::CreateFailed);
    RebuildError result =
        WritePieces(output.file, progress, moviePath, playerPath, source, mode, details);
    if (result != RebuildError::None) {
        AbandonOutput(&output);
        return Fail(error, result);
    }
    result = CommitOutput(&output, outPath, commit);
    return result == RebuildError::None ? Succeed(error) : Fail(error, result);
}

bool ExtractPlayer(const char* moviePath, const char* outPath, RebuildError* error,
                   CommitMode commit)
{
    if (!moviePath || !outPath)
        return Fail(error, RebuildError::NoPlayer);
    MovieInfo source;
    uint32_t playerSize = InspectMovieFile(moviePath, &source);
    if (playerSize == 0)
        return Fail(error, RebuildError::NoPlayer);
    unsigned char* player = ReadFileRangeFully(moviePath, 0, playerSize);
    if (!player)
        return Fail(error, RebuildError::ReadFailed);
    Output output;
    RebuildError result = RebuildError::None;
    if (!OpenOutput(&output, outPath)) {
        result = RebuildError::CreateFailed;
    } else if (!WriteFileBytes(output.file, player, playerSize)) {
        AbandonOutput(&output);
        result = RebuildError::WriteFailed;
    } else {
        result = CommitOutput(&output, outPath, commit);
    }
    MemFree(player);
    return result == RebuildError::None ? Succeed(error) : Fail(error, result);
}
