// movie_file.cpp - inspection of movie and projector files, and reading
// byte ranges of them.
#include "movie/movie_file.h"

#include <cstring>

#include "common/byte_source.h"
#include "common/bytes.h"
#include "common/platform.h"

namespace {

// The kind of program a file starts with, which decides its layout.
enum class ProgramKind { Other, Pe, ElfX86_64, ElfOther, AppFolder };

// Where a layout keeps the movie size and the magic.
enum class FramingPlace { None, AfterMovie, BeforeMovie };

struct LayoutRule {
    PlayerLayout layout;
    const char* name;
    ProgramKind program;  // the program this layout belongs to
    FramingPlace place;
    uint32_t fieldSize;   // bytes of the size and of the magic
    bool sizeFirst;       // the size stands before the magic
    uint64_t magic;       // as stored, fieldSize bytes little-endian
};

const LayoutRule layoutRules[] = {
    {PlayerLayout::Windows, "windows", ProgramKind::Pe, FramingPlace::AfterMovie, 4, false,
     projectorMagic},
    {PlayerLayout::LinuxI386, "linux-i386", ProgramKind::ElfOther, FramingPlace::BeforeMovie, 4,
     true, projectorMagic},
    {PlayerLayout::LinuxX86_64, "linux-x86_64", ProgramKind::ElfX86_64, FramingPlace::BeforeMovie,
     8, true, 0xFFFFFFFF00000000u | projectorMagic},
    {PlayerLayout::MacApp, "mac-app", ProgramKind::AppFolder, FramingPlace::None, 0, false, 0},
};

const LayoutRule* RuleForProgram(ProgramKind program)
{
    for (const LayoutRule& rule : layoutRules) {
        if (rule.program == program)
            return &rule;
    }
    return nullptr;
}

const LayoutRule* RuleForLayout(PlayerLayout layout)
{
    for (const LayoutRule& rule : layoutRules) {
        if (rule.layout == layout)
            return &rule;
    }
    return nullptr;
}

// An ELF header's fields, in the byte order its identification names.
const uint32_t elfHeaderSize = 64;  // the 64-bit header; the 32-bit one is shorter
const uint16_t elfMachineX86_64 = 62;

uint64_t ReadField(const unsigned char* bytes, uint32_t size, bool bigEndian)
{
    uint64_t value = 0;
    for (uint32_t i = 0; i < size; i++)
        value |= (uint64_t)bytes[bigEndian ? size - 1 - i : i] << (8 * i);
    return value;
}

bool IsElf(const unsigned char* start)
{
    return start[0] == 0x7F && start[1] == 'E' && start[2] == 'L' && start[3] == 'F' &&
           (start[4] == 1 || start[4] == 2) && (start[5] == 1 || start[5] == 2);
}

ProgramKind ProgramKindOf(const unsigned char* start)
{
    if (start[0] == 'M' && start[1] == 'Z')
        return ProgramKind::Pe;
    if (!IsElf(start))
        return ProgramKind::Other;
    uint64_t machine = ReadField(start + 18, 2, start[5] == 2);
    return machine == elfMachineX86_64 ? ProgramKind::ElfX86_64 : ProgramKind::ElfOther;
}

// Where the ELF file proper ends: after its section header table, from the
// 32- or 64-bit header. 0 when that lies past `fileSize`.
uint64_t ElfEnd(const unsigned char* start, uint64_t fileSize)
{
    bool wide = start[4] == 2;
    bool bigEndian = start[5] == 2;
    uint64_t tableOffset = ReadField(start + (wide ? 0x28 : 0x20), wide ? 8 : 4, bigEndian);
    uint64_t entrySize = ReadField(start + (wide ? 0x3A : 0x2E), 2, bigEndian);
    uint64_t entries = ReadField(start + (wide ? 0x3C : 0x30), 2, bigEndian);
    if (tableOffset > fileSize || entries * entrySize > fileSize - tableOffset)
        return 0;
    return tableOffset + entries * entrySize;
}

// Reads `count` (at most 16) bytes at `offset` into `bytes`, which is
// zero-filled first so that bytes past the end read as zero.
void ReadAt(const ByteSource* file, uint64_t offset, unsigned char* bytes, uint32_t count)
{
    FillBytes(bytes, 0, 16);
    ReadSource(file, offset, bytes, count);
}

// The projector trailer at the end of a Windows program: a movie size
// beyond the bytes in front of the trailer would wrap the player size
// around, so such a file has no trailer.
void LocateAfterMovie(const ByteSource* file, uint32_t size, MovieInfo* location)
{
    if (size < projectorTrailerSize)
        return;
    unsigned char bytes[16];
    ReadAt(file, size - projectorTrailerSize, bytes, 8);
    uint32_t movieSize = ReadLe32(bytes + 4);
    if (ReadLe32(bytes) == projectorMagic && movieSize <= size - projectorTrailerSize) {
        location->movieSize = movieSize;
        location->playerSize = size - movieSize - projectorTrailerSize;
        location->movieOffset = location->playerSize;
    }
}

// The size and magic where a Linux program's ELF file proper ends, then
// the movie. False when the ELF file proper runs past the end of the file.
bool LocateBeforeMovie(const ByteSource* file, const unsigned char* start, uint32_t size,
                       const LayoutRule& rule, MovieInfo* location)
{
    uint64_t elfEnd = ElfEnd(start, size);
    if (elfEnd == 0)
        return false;
    location->playerSize = (uint32_t)elfEnd;
    location->movieSize = 0;
    uint32_t framing = 2 * rule.fieldSize;
    if (framing > size - elfEnd)
        return true;
    unsigned char bytes[16];
    ReadAt(file, elfEnd, bytes, framing);
    const unsigned char* sizeField = bytes + (rule.sizeFirst ? 0 : rule.fieldSize);
    const unsigned char* magicField = bytes + (rule.sizeFirst ? rule.fieldSize : 0);
    uint64_t movieSize = ReadField(sizeField, rule.fieldSize, false);
    if (ReadField(magicField, rule.fieldSize, false) != rule.magic ||
        movieSize > size - elfEnd - framing)
        return true;
    location->movieOffset = (uint32_t)elfEnd + framing;
    location->movieSize = (uint32_t)movieSize;
    return true;
}

// Reads the movie header at the movie's offset; without a signature there
// is no movie, and only the player part remains.
// `start` holds the first `startCount` bytes of the file, read already.
// With `ownBytesOnly` a movie shorter than its header reads as zero past
// its end: behind a Linux player any bytes may follow the movie, and a
// Save does not keep them, so they cannot make it a movie.
void ReadMovieHeader(const ByteSource* file, const unsigned char* start, uint32_t startCount,
                     MovieInfo* location, bool ownBytesOnly)
{
    unsigned char bytes[16];
    if (location->movieOffset + 8 <= startCount)
        memcpy(bytes, start + location->movieOffset, 8);
    else
        ReadAt(file, location->movieOffset, bytes, 8);
    if (ownBytesOnly && location->movieSize < 8)
        FillBytes(bytes + location->movieSize, 0, 8 - location->movieSize);
    location->header = ReadLe32(bytes);
    location->fileLength = ReadLe32(bytes + 4);
    if (location->movieSize == 0 || !IsMovieSignature(location->header)) {
        location->header = 0;
        location->fileLength = 0;
        location->movieOffset = 0;
        location->movieSize = 0;
    }
    if (location->playerSize == 0 && location->layout != PlayerLayout::MacApp)
        location->layout = PlayerLayout::None;
}

// Opens `path` and checks that its size fits the format's 32-bit sizes.
PlatformFile* OpenSizedFile(const char* path, uint32_t* size)
{
    PlatformFile* file = OpenFileForRead(path);
    uint64_t fileSize = 0;
    if (file && (!GetFileSize64(file, &fileSize) || fileSize > 0xFFFFFFFFu)) {
        CloseFile(file);
        return nullptr;
    }
    *size = (uint32_t)fileSize;
    return file;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Whether the name ends in ".app", in any case, before trailing separators.
bool HasAppName(const char* path)
{
    size_t length = strlen(path);
    while (length > 0 && IsSeparator(path[length - 1]))
        length--;
    if (length < 5)
        return false;
    const char* suffix = path + length - 4;
    return suffix[0] == '.' && (suffix[1] | 0x20) == 'a' && (suffix[2] | 0x20) == 'p' &&
           (suffix[3] | 0x20) == 'p';
}

// A NAME.app folder: its movie file inspected as a bare movie.
void LocateAppFolder(const char* path, MovieInfo* location)
{
    if (!path || !HasAppName(path))
        return;
    char* moviePath = MovieFilePath(path, PlayerLayout::MacApp);
    uint32_t size = 0;
    PlatformFile* file = moviePath ? OpenSizedFile(moviePath, &size) : nullptr;
    MemFree(moviePath);
    if (!file)
        return;
    location->layout = PlayerLayout::MacApp;
    location->movieSize = size;
    ByteSource source = FileSource(file, size);
    ReadMovieHeader(&source, nullptr, 0, location, false);
    CloseFile(file);
}

// Inspects a file for the layouts allowed: every one, or (for the
// specified Windows rules) the Windows one alone.
void LocateIn(const ByteSource* file, LayoutsRead layouts, MovieInfo* location)
{
    FillBytes(location, 0, sizeof *location);
    uint32_t size = (uint32_t)file->size;
    unsigned char start[elfHeaderSize] = {0};
    uint32_t startCount = ReadSource(file, 0, start, elfHeaderSize);
    ProgramKind program = ProgramKindOf(start);
    if (layouts == LayoutsRead::WindowsOnly && program != ProgramKind::Pe)
        program = ProgramKind::Other;
    const LayoutRule* rule = RuleForProgram(program);
    location->movieSize = size;
    if (rule) {
        location->layout = rule->layout;
        location->playerSize = size;
        location->movieSize = 0;
    }
    bool intact = true;
    if (rule && rule->place == FramingPlace::AfterMovie)
        LocateAfterMovie(file, size, location);
    else if (rule && rule->place == FramingPlace::BeforeMovie)
        intact = LocateBeforeMovie(file, start, size, *rule, location);
    if (intact)
        ReadMovieHeader(file, start, startCount, location,
                        rule && rule->place == FramingPlace::BeforeMovie);
    else
        FillBytes(location, 0, sizeof *location);
}

}  // namespace

void InspectMovie(const char* path, MovieInfo* location, LayoutsRead layouts)
{
    FillBytes(location, 0, sizeof *location);
    uint32_t size = 0;
    PlatformFile* file = OpenSizedFile(path, &size);
    if (!file) {
        if (layouts == LayoutsRead::Every)
            LocateAppFolder(path, location);
        return;
    }
    ByteSource source = FileSource(file, size);
    LocateIn(&source, layouts, location);
    CloseFile(file);
}

uint32_t InspectMovieFile(const char* path, MovieInfo* info)
{
    InspectMovie(path, info, LayoutsRead::WindowsOnly);
    return info->playerSize;
}

void InspectMovieSource(const ByteSource* source, MovieInfo* info)
{
    if (source->size > 0xFFFFFFFFu) {
        FillBytes(info, 0, sizeof *info);
        return;
    }
    LocateIn(source, LayoutsRead::Every, info);
}

const char* PlayerLayoutName(PlayerLayout layout)
{
    const LayoutRule* rule = RuleForLayout(layout);
    return rule ? rule->name : nullptr;
}

char* PathInFolder(const char* folder, const char* inside)
{
    size_t length = strlen(folder);
    size_t insideLength = strlen(inside);
    char* result = (char*)MemAlloc(length + insideLength + 2);
    if (!result)
        return nullptr;
    memcpy(result, folder, length);
    if (insideLength != 0 && length > 0 && !IsSeparator(folder[length - 1]))
        result[length++] = '/';
    memcpy(result + length, inside, insideLength);
    return result;
}

char* MovieFilePath(const char* path, PlayerLayout layout)
{
    return PathInFolder(path, layout == PlayerLayout::MacApp ? appMovieFile : "");
}

MovieFraming FrameMovie(PlayerLayout layout, uint32_t movieSize)
{
    MovieFraming framing;
    FillBytes(&framing, 0, sizeof framing);
    const LayoutRule* rule = RuleForLayout(layout);
    if (!rule || rule->place == FramingPlace::None)
        return framing;
    framing.beforeMovie = rule->place == FramingPlace::BeforeMovie;
    framing.count = 2 * rule->fieldSize;
    unsigned char* sizeField = framing.bytes + (rule->sizeFirst ? 0 : rule->fieldSize);
    unsigned char* magicField = framing.bytes + (rule->sizeFirst ? rule->fieldSize : 0);
    for (uint32_t i = 0; i < rule->fieldSize; i++) {
        sizeField[i] = i < 4 ? (unsigned char)(movieSize >> (8 * i)) : 0;
        magicField[i] = (unsigned char)(rule->magic >> (8 * i));
    }
    return framing;
}

// Reads the range into a new buffer; `*delivered` receives the bytes read.
static unsigned char* ReadRange(const char* path, uint32_t offset, uint32_t count,
                                uint32_t* delivered)
{
    *delivered = 0;
    if (!path || count == 0)
        return nullptr;
    PlatformFile* file = OpenFileForRead(path);
    if (!file)
        return nullptr;
    unsigned char* buffer = (unsigned char*)MemAlloc(count);
    if (buffer && SeekFile(file, offset))
        *delivered = ReadFileBytes(file, buffer, count);
    CloseFile(file);
    return buffer;
}

unsigned char* ReadFileRange(const char* path, uint32_t offset, uint32_t count)
{
    uint32_t delivered;
    return ReadRange(path, offset, count, &delivered);
}

unsigned char* ReadFileRangeFully(const char* path, uint32_t offset, uint32_t count)
{
    uint32_t delivered;
    unsigned char* buffer = ReadRange(path, offset, count, &delivered);
    if (buffer && delivered != count) {
        MemFree(buffer);
        return nullptr;
    }
    return buffer;
}
