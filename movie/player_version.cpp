// player_version.cpp - the oldest player that plays a movie, from the
// movie's format version.
#include "movie/player_version.h"

#include <cstring>

#include "common/platform.h"
#include "movie/movie_file.h"
#include "movie/version_resource.h"

namespace {

// Movie versions first..last need the player `requiredAtFirst` plus
// `step` for each version after the first.
struct RequirementRange {
    uint32_t first;
    uint32_t last;
    PackedVersion requiredAtFirst;
    PackedVersion step;
};

const RequirementRange requirementRanges[] = {
    {0, 10, 0x00000000, 0x10000},    // v.0
    {11, 11, 0x000A0002, 0},         // 10.2
    {12, 12, 0x000A0003, 0},         // 10.3
    {13, 22, 0x000B0000, 1},         // 11.0 to 11.9
    {23, 255, 0x000C0000, 0x10000},  // 12.0 to 244.0
};

}  // namespace

PackedVersion RequiredPlayerVersion(uint32_t header)
{
    uint32_t version = MovieVersion(header);
    // LZMA-compressed movies arrived with player 11.0, whatever version the
    // header claims.
    if (MovieSignature(header) == signatureLzma && version < oldestLzmaVersion)
        version = oldestLzmaVersion;
    for (const RequirementRange& range : requirementRanges) {
        if (version >= range.first && version <= range.last)
            return range.requiredAtFirst + (version - range.first) * range.step;
    }
    return 0;
}

namespace {

const char appInfoFile[] = "Contents/Info.plist";
const char versionKey[] = "<key>CFBundleShortVersionString</key>";
const char stringTag[] = "<string>";
// Property lists are small; a larger file is not read past this.
const uint32_t largestInfoFile = 1024 * 1024;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The position of `part` (NUL-terminated) in `text`, or `length`.
size_t Find(const char* text, size_t length, const char* part)
{
    size_t partLength = strlen(part);
    for (size_t i = 0; i + partLength <= length; i++) {
        if (memcmp(text + i, part, partLength) == 0)
            return i;
    }
    return length;
}

// The version string of an XML property list of `length` bytes.
PackedVersion VersionFromInfoText(const char* text, size_t length)
{
    size_t key = Find(text, length, versionKey);
    if (key == length)
        return 0;
    size_t at = key + sizeof versionKey - 1;
    while (at < length && IsSpace(text[at]))
        at++;
    size_t tagLength = sizeof stringTag - 1;
    if (length - at < tagLength || memcmp(text + at, stringTag, tagLength) != 0)
        return 0;
    at += tagLength;
    while (at < length && IsSpace(text[at]))
        at++;
    return ParseVersionText(text + at, length - at);
}

PackedVersion ReadAppVersion(const char* appPath)
{
    char* path = PathInFolder(appPath, appInfoFile);
    PlatformFile* file = path ? OpenFileForRead(path) : nullptr;
    MemFree(path);
    uint64_t size = 0;
    if (!file || !GetFileSize64(file, &size) || size == 0) {
        CloseFile(file);
        return 0;
    }
    uint32_t capacity = size < largestInfoFile ? (uint32_t)size : largestInfoFile;
    char* text = (char*)MemAlloc(capacity);
    uint32_t read = text ? ReadFileBytes(file, text, capacity) : 0;
    CloseFile(file);
    PackedVersion version = text ? VersionFromInfoText(text, read) : 0;
    MemFree(text);
    return version;
}

}  // namespace

PackedVersion ParseVersionText(const char* text, size_t length)
{
    uint32_t parts[2] = {0, 0};
    size_t at = 0;
    for (int part = 0; part < 2; part++) {
        size_t digits = 0;
        while (at < length && text[at] >= '0' && text[at] <= '9') {
            parts[part] = parts[part] * 10 + (uint32_t)(text[at++] - '0');
            if (parts[part] > 0xFFFF)
                return 0;
            digits++;
        }
        if (digits == 0 && part == 0)
            return 0;
        if (at >= length || text[at] != '.')
            break;
        at++;
    }
    return parts[0] << 16 | parts[1];
}

PackedVersion PlayerVersionOf(const char* path, PlayerLayout layout)
{
    switch (layout) {
    case PlayerLayout::Windows: return GetPlayerVersion(path);
    case PlayerLayout::MacApp: return ReadAppVersion(path);
    default: return 0;
    }
}

PackedVersion PlayerVersionOfSource(const ByteSource* source, PlayerLayout layout)
{
    return layout == PlayerLayout::Windows ? ReadVersionResourceOfSource(source) : 0;
}
