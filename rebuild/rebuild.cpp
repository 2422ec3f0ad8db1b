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

// Closes the finished output and moves it over the destination.
bool CommitOutput(Output* output, const char* outPath)
{
    bool committed = CloseWrittenFile(output->file) && CommitTempFile(output->tempPath, outPath);
    if (!committed)
        DeleteFilePath(output->tempPath);
    MemFree(output->tempPath);
    return committed;
}

RebuildError ErrorOfConversion(ConversionError error)
{
    switch (error) {
    case ConversionError::DamagedMovie: return RebuildError::DamagedMovie;
    case ConversionError::OutOfMemory: return RebuildError::OutOfMemory;
    default: return RebuildError::ConversionFailed;
    }
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

// Reads the stored movie and converts it as `action` asks. Null on
// failure, with `*error` set.
unsigned char* ReadMovie(WindowHandle progressBar, const char* moviePath,
                         const MovieLocation& source, MovieAction action, uint32_t* size,
                         RebuildError* error)
{
    *size = source.movieSize;
    char* movieFile = MovieFilePath(moviePath, source.layout);
    unsigned char* movie =
        movieFile ? ReadFileRangeFully(movieFile, source.movieOffset, source.movieSize) : nullptr;
    MemFree(movieFile);
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

// The movie size and magic of the output's layout, on their side of the
// movie; nothing for a bare movie.
bool WriteFraming(PlatformFile* file, PlayerLayout layout, uint32_t movieSize, bool beforeMovie)
{
    MovieFraming framing = FrameMovie(layout, movieSize);
    if (framing.count == 0 || framing.beforeMovie != beforeMovie)
        return true;
    return WriteFileBytes(file, framing.bytes, framing.count);
}

// Writes the pieces of a rebuilt file into `file`. The player bytes are
// released before the movie is read, so the two are never in memory
// together.
RebuildError WritePieces(PlatformFile* file, WindowHandle progressBar, const char* moviePath,
                         const char* playerPath, const MovieLocation& source, RebuildMode mode)
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

    RebuildError error = RebuildError::None;
    uint32_t movieSize;
    unsigned char* movie =
        ReadMovie(progressBar, moviePath, source, MovieActionOf(mode), &movieSize, &error);
    if (!movie)
        return error;
    written = WriteFraming(file, layout, movieSize, true) &&
              WriteFileBytes(file, movie, movieSize) &&
              WriteFraming(file, layout, movieSize, false);
    MemFree(movie);
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

bool RebuildMovieFile(WindowHandle progressBar, const char* moviePath, const char* outPath,
                      const char* playerPath, RebuildMode mode, RebuildError* error)
{
    if (mode == 0)
        return Fail(error, RebuildError::NothingToDo);
    MovieLocation source;
    LocateMovie(moviePath, &source);
    if (source.movieSize == 0)
        return Fail(error, RebuildError::NoMovie);
    if (source.layout == PlayerLayout::MacApp && PlayerActionOf(mode) == PlayerAction::Keep)
        return Fail(error, RebuildError::FolderPlayer);
    Output output;
    if (!outPath || !OpenOutput(&output, outPath))
        return Fail(error, RebuildError::CreateFailed);
    RebuildError result = WritePieces(output.file, progressBar, moviePath, playerPath, source, mode);
    if (result != RebuildError::None) {
        AbandonOutput(&output);
        return Fail(error, result);
    }
    if (!CommitOutput(&output, outPath))
        return Fail(error, RebuildError::WriteFailed);
    return Succeed(error);
}

bool ExtractPlayer(const char* moviePath, const char* outPath, RebuildError* error)
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
    Output output;
    RebuildError result = RebuildError::None;
    if (!OpenOutput(&output, outPath)) {
        result = RebuildError::CreateFailed;
    } else if (!WriteFileBytes(output.file, player, playerSize)) {
        AbandonOutput(&output);
        result = RebuildError::WriteFailed;
    } else if (!CommitOutput(&output, outPath)) {
        result = RebuildError::WriteFailed;
    }
    MemFree(player);
    return result == RebuildError::None ? Succeed(error) : Fail(error, result);
}
