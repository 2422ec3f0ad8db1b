// movie_file.h - the movie and projector layout of a file: the 8-byte
// movie header, the projector trailer, the layouts of the players of each
// platform, and inspection of a file on disk.
#pragma once

#include <cstdint>

// Signatures: the low 24 bits of a movie's first four bytes read as one
// little-endian value. Compared exactly, so lower case does not count.
const uint32_t signatureUncompressed = 0x535746;  // "FWS"
const uint32_t signatureZlib = 0x535743;          // "CWS"
const uint32_t signatureLzma = 0x53575A;          // "ZWS"
// The oldest movie format version that an LZMA-compressed movie may have:
// only players from 11 on (format 13) read them.
const uint32_t oldestLzmaVersion = 13;

// The projector trailer after the movie: this magic, then the movie size,
// both unsigned 32-bit little-endian.
const uint32_t projectorMagic = 0xFA123456;
const uint32_t movieHeaderSize = 8;
const uint32_t projectorTrailerSize = 8;

inline uint32_t MovieSignature(uint32_t header) { return header & 0xFFFFFF; }
inline uint32_t MovieVersion(uint32_t header) { return header >> 24; }
inline bool IsMovieSignature(uint32_t header)
{
    uint32_t signature = MovieSignature(header);
    return signature == signatureUncompressed || signature == signatureZlib ||
           signature == signatureLzma;
}

// Where the players of each platform keep their movie:
// - Windows: the player program, the movie, then the magic and the movie
//   size (32-bit little-endian each);
// - Linux: the ELF file proper (up to the end of its section header
//   table), the movie size and the magic, then the movie. Programs for
//   x86-64 store both as 64-bit values (the magic sign-extended), all
//   others as 32-bit ones;
// - macOS: a folder NAME.app holding the movie as the file
//   Contents/Resources/movie.swf (appMovieFile).
enum class PlayerLayout { None, Windows, LinuxI386, LinuxX86_64, MacApp };

const char appMovieFile[] = "Contents/Resources/movie.swf";

// What a file (or .app folder) is: a bare movie, a projector of any
// layout, a player program without a movie, or none of these. The first
// four fields are those of the original record: movieSize != 0 means a
// movie was found, playerSize != 0 a player program of that many bytes.
struct MovieInfo {
    uint32_t header;       // the movie's bytes 0-3 (signature, version in the high byte); 0 when no movie
    uint32_t fileLength;   // the movie header's length field (bytes 4-7); 0 when no movie
    uint32_t playerSize;   // bytes of player program from offset 0; 0 for none and for a .app folder
    uint32_t movieSize;    // stored size of the movie; 0 when no movie
    PlayerLayout layout;   // None: no player (a bare movie, or neither)
    uint32_t movieOffset;  // where the movie starts in the file that holds it
};

// Which layouts an inspection recognises: every one, or the Windows one
// alone (a program of another platform then reads as no player).
enum class LayoutsRead { Every, WindowsOnly };

// The one inspection of the program. Fills `info` from the file or .app
// folder at `path` (every field, on every call), recognising the layouts
// `layouts` names. Reads at most 64 bytes at the start and 16 around the
// movie, never the movie body; every offset is checked against the real
// file size. A missing, unreadable or empty path, a plain folder, a file
// too large for the format's 32-bit sizes and a damaged layout (a size or
// a section header table past the end of the file, a wrong magic) give a
// record without a movie.
void InspectMovie(const char* path, MovieInfo* info, LayoutsRead layouts = LayoutsRead::Every);

// InspectMovie for the bytes of a file that `source` holds (an entry of an
// archive, say), every layout; there is no .app folder to find there.
struct ByteSource;
void InspectMovieSource(const ByteSource* source, MovieInfo* info);

// The original entry: InspectMovie with the Windows layout alone. Returns
// the playerSize it stores (0 for a bare movie as for any failure).
uint32_t InspectMovieFile(const char* path, MovieInfo* info);

// "windows", "linux-i386", "linux-x86_64", "mac-app"; null for None.
const char* PlayerLayoutName(PlayerLayout layout);

// The file that holds the movie of `path` inspected as `layout`: for a
// .app folder its movie file, otherwise `path`. A new MemAlloc string the
// caller frees; null when out of memory.
char* MovieFilePath(const char* path, PlayerLayout layout);

// `inside` (a relative path with '/') within the folder `folder`: a new
// MemAlloc string the caller frees; null when out of memory.
char* PathInFolder(const char* folder, const char* inside);

// The movie size and magic a projector of `layout` stores next to its
// movie of `movieSize` bytes: `count` bytes, in front of the movie or
// after it. A layout without them (None, MacApp) gives count 0.
struct MovieFraming {
    bool beforeMovie;
    uint32_t count;
    unsigned char bytes[16];
};
MovieFraming FrameMovie(PlayerLayout layout, uint32_t movieSize);

// A new zero-filled buffer of `count` bytes holding the file's bytes from
// `offset` on (MemAlloc; the caller frees it). Bytes past the end of the
// file, or that a read does not deliver, stay zero. Null when `path` is
// null, `count` is 0, the file cannot be opened or the buffer cannot be
// allocated.
unsigned char* ReadFileRange(const char* path, uint32_t offset, uint32_t count);

// As ReadFileRange, but null unless all `count` bytes were read: for
// callers that must not take zeros for data.
unsigned char* ReadFileRangeFully(const char* path, uint32_t offset, uint32_t count);
