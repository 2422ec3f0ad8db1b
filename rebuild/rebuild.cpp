// rebuild.cpp - Save and Extract player: the output is assembled in a
// temporary file beside the destination, which replaces the destination
// only once every piece is written, so no failure loses a file.
#include "rebuild.h"

#include "../common/bytes.h"
#include "../movie/movie_file.h"
#include "codecs.h"

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

RebuildError ErrorOfConversion(ConversionError error)
{
    switch (error) {
    case ConversionError::DamagedMovie: return RebuildError::DamagedMovie;
    case ConversionError::OutOfMemory: return RebuildError::OutOfMemory;
    default: return RebuildError::ConversionFailed;
    }
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

// Reads the stored movie and converts it as `action` asks. Null on
// failure, with `*error` set.
unsigned char* ReadMovie(WindowHandle progressBar, const char* moviePath, const MovieInfo& source,
                         MovieAction action, uint32_t* size, RebuildError* error)
{
    *size = source.movieSize;
    unsigned char* movie = ReadFileRangeFully(moviePath, source.playerSize, source.movieSize);
    if (!movie) {
        *error = RebuildError::ReadFailed;
        return nullptr;
    }
    ConversionError conversion = ConversionError::None;
    if (action == MovieAction::Decompress || action == MovieAction::Compress)
        movie = DecompressMovie(progressBar, movie, size, &conversion);
    if (movie && action == MovieAction::Compress)
        movie = CompressMovie(progressBar, movie, size, &conversion);
    if (!movie)
        *error = ErrorOfConversion(conversion);
    return movie;
}

bool WriteTrailer(PlatformFile* file, uint32_t movieSize)
{
    unsigned char trailer[projectorTrailerSize];
    WriteLe32(trailer, projectorMagic);
    WriteLe32(trailer + 4, movieSize);
    return WriteFileBytes(file, trailer, projectorTrailerSize);
}

// Writes the pieces of a rebuilt file into `file`. The player bytes are
// released before the movie is read, so the two are never in memory
// together.
RebuildError WritePieces(PlatformFile* file, WindowHandle progressBar, const char* moviePath,
                         const char* playerPath, const MovieInfo& source, RebuildMode mode)
{
    unsigned char* player;
    uint32_t playerSize;
    if (!ReadPlayerBytes(source, moviePath, playerPath, PlayerActionOf(mode), &player, &playerSize))
        return RebuildError::ReadFailed;
    bool written = !player || WriteFileBytes(file, player, playerSize);
    MemFree(player);
    if (!written)
        return RebuildError::WriteFailed;

    RebuildError error = RebuildError::None;
    uint32_t movieSize;
    unsigned char* movie =
        ReadMovie(progressBar, moviePath, source, MovieActionOf(mode), &movieSize, &error);
    if (!movie)
        return error;
    written = WriteFileBytes(file, movie, movieSize);
    MemFree(movie);
    if (written && player)
        written = WriteTrailer(file, movieSize);
    return written ? RebuildError::None : RebuildError::WriteFailed;
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

bool RebuildMovieFile(WindowHandle progressBar, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, RebuildError* error,
                      CommitMode commit)
{
    if (mode == 0)
        return Fail(error, RebuildError::NothingToDo);
    MovieInfo source;
    InspectMovieFile(moviePath, &source);
    if (source.movieSize == 0)
        return Fail(error, RebuildError::NoMovie);
    Output output;
    if (!outPath || !OpenOutput(&output, outPath))
        return Fail(error, RebuildError::CreateFailed);
    RebuildError result = WritePieces(output.file, progressBar, moviePath, playerPath, source, mode);
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
