// version_resource.cpp - the file version in a program's version resource,
// and a portable reader that finds that resource in a PE file on disk the
// way the Windows loader finds it in a program loaded as data.
#include "movie/version_resource.h"

#include "common/byte_source.h"

#include "common/bytes.h"
#include "common/platform.h"

namespace {

// VS_FIXEDFILEINFO: dwSignature, dwStrucVersion, dwFileVersionMS, ...
const uint32_t fixedInfoSignature = 0xFEEF04BD;
const uint32_t fixedInfoSize = 52;
const uint32_t fileVersionOffset = 8;

}  // namespace

PackedVersion FixedFileVersionIn(const unsigned char* resource, size_t size)
{
    if (!resource || size < 2)
        return 0;
    size_t declaredLength = ReadLe16(resource);  // wLength
    // The fixed information starts at a multiple of 4, no later than the
    // first offset where at most its own 52 bytes of the declared length
    // remain. Offsets whose version field would lie beyond the real size
    // are not read: the declared length is not trusted.
    for (size_t offset = 0; offset + fileVersionOffset + 4 <= size; offset += 4) {
        if (ReadLe32(resource + offset) == fixedInfoSignature)
            return ReadLe32(resource + offset + fileVersionOffset);
        if (offset + fixedInfoSize >= declaredLength)
            break;
    }
    return 0;
}

// The PE reader. Every offset and count comes from the file, so every read
// is checked against the file's size, and the walk has a fixed number of
// steps: headers, section table, then the three levels of the resource
// directory (type, name, language) and the data entry.
namespace {

const uint32_t newHeaderOffsetField = 0x3C;  // e_lfanew in the DOS header
const uint32_t peSignature = 0x00004550;     // "PE\0\0"
const uint32_t coffHeaderSize = 20;
const uint32_t sectionHeaderSize = 40;
const uint32_t resourceDirectoryIndex = 2;

// Where the optional header keeps NumberOfRvaAndSizes; the data
// directories (RVA, size) follow it.
struct OptionalHeaderKind {
    uint16_t magic;
    uint32_t directoryCountOffset;
};

const OptionalHeaderKind optionalHeaderKinds[] = {
    {0x10B, 92},   // PE32
    {0x20B, 108},  // PE32+
};

const uint16_t versionResourceType = 16;  // RT_VERSION
const uint16_t versionResourceId = 1;
const uint32_t resourceDirectoryHeaderSize = 16;
const uint32_t resourceEntrySize = 8;
const uint32_t resourceDataEntrySize = 16;
const uint32_t subdirectoryFlag = 0x80000000;

// The scan of a version block never looks past its 16-bit declared
// length, so more than this is never needed, whatever the entry claims.
const uint32_t versionResourceLimit = 0x10000;

struct PeFile {
    const ByteSource* source;
    uint64_t size;
};

// What the resource lookup needs from the headers.
struct PeLayout {
    uint64_t sectionTable;  // file offset
    uint32_t sectionCount;
    uint32_t resourceRva;  // of the resource directory; not 0
};

// Reads all `count` bytes at `offset`; false if any lies beyond the file.
bool ReadExactly(const PeFile& pe, uint64_t offset, void* buffer, uint32_t count)
{
    return offset <= pe.size && count <= pe.size - offset &&
           ReadSource(pe.source, offset, buffer, count) == count;
}

bool ReadLe32At(const PeFile& pe, uint64_t offset, uint32_t* value)
{
    unsigned char bytes[4];
    if (!ReadExactly(pe, offset, bytes, sizeof bytes))
        return false;
    *value = ReadLe32(bytes);
    return true;
}

const OptionalHeaderKind* FindOptionalHeaderKind(uint16_t magic)
{
    for (const OptionalHeaderKind& kind : optionalHeaderKinds) {
        if (kind.magic == magic)
            return &kind;
    }
    return nullptr;
}

// The DOS header, the PE signature, the COFF header and the optional
// header's resource data directory. False when the file has none of these
// or no resource directory.
bool ReadLayout(const PeFile& pe, PeLayout* layout)
{
    unsigned char mz[2];
    uint32_t peHeader;
    if (!ReadExactly(pe, 0, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z' ||
        !ReadLe32At(pe, newHeaderOffsetField, &peHeader))
        return false;
    // The signature, the COFF header and the optional header's magic.
    unsigned char headers[4 + coffHeaderSize + 2];
    if (!ReadExactly(pe, peHeader, headers, sizeof headers) || ReadLe32(headers) != peSignature)
        return false;
    const unsigned char* coffHeader = headers + 4;
    uint64_t optionalHeader = (uint64_t)peHeader + 4 + coffHeaderSize;
    layout->sectionCount = ReadLe16(coffHeader + 2);
    layout->sectionTable = optionalHeader + ReadLe16(coffHeader + 16);

    const OptionalHeaderKind* kind = FindOptionalHeaderKind(ReadLe16(headers + 4 + coffHeaderSize));
    uint32_t directoryCount;
    if (!kind || !ReadLe32At(pe, optionalHeader + kind->directoryCountOffset, &directoryCount) ||
        directoryCount <= resourceDirectoryIndex)
        return false;
    uint64_t resourceDirectory =
        optionalHeader + kind->directoryCountOffset + 4 + 8 * resourceDirectoryIndex;
    return ReadLe32At(pe, resourceDirectory, &layout->resourceRva) && layout->resourceRva != 0;
}

// The file offset of `rva`: in the first section whose raw data covers it,
// as the loader maps an address of a program loaded as data. False when no
// section does.
bool RvaToFileOffset(const PeFile& pe, const PeLayout& layout, uint32_t rva, uint64_t* offset)
{
    for (uint32_t index = 0; index < layout.sectionCount; index++) {
        unsigned char section[sectionHeaderSize];
        if (!ReadExactly(pe, layout.sectionTable + (uint64_t)index * sectionHeaderSize, section,
                         sizeof section))
            return false;
        uint32_t virtualAddress = ReadLe32(section + 12);
        uint32_t rawSize = ReadLe32(section + 16);
        uint32_t rawPointer = ReadLe32(section + 20);
        if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
            *offset = (uint64_t)rawPointer + (rva - virtualAddress);
            return true;
        }
    }
    return false;
}

// A resource directory entry: the target is relative to the root of the
// resource directory, with subdirectoryFlag set when it is a directory.
struct ResourceEntry {
    uint16_t id;
    uint32_t target;
};

bool ReadEntry(const PeFile& pe, uint64_t directory, uint32_t index, ResourceEntry* entry)
{
    unsigned char bytes[resourceEntrySize];
    if (!ReadExactly(pe,
                     directory + resourceDirectoryHeaderSize + (uint64_t)index * resourceEntrySize,
                     bytes, sizeof bytes))
        return false;
    entry->id = ReadLe16(bytes);
    entry->target = ReadLe32(bytes + 4);
    return true;
}

// The named entries come first, then the numbered ones (in ascending order).
bool ReadEntryCounts(const PeFile& pe, uint64_t directory, uint32_t* named, uint32_t* numbered)
{
    unsigned char header[resourceDirectoryHeaderSize];
    if (!ReadExactly(pe, directory, header, sizeof header))
        return false;
    *named = ReadLe16(header + 12);
    *numbered = ReadLe16(header + 14);
    return true;
}

// The subdirectory of `directory` with numeric identifier `id`, by binary
// search of the numbered entries as the loader does. Its file offset goes
// to `*subdirectory`.
bool FindSubdirectory(const PeFile& pe, uint64_t root, uint64_t directory, uint16_t id,
                      uint64_t* subdirectory)
{
    uint32_t named, numbered;
    if (!ReadEntryCounts(pe, directory, &named, &numbered))
        return false;
    int64_t low = named;
    int64_t high = (int64_t)named + numbered - 1;
    while (low <= high) {
        int64_t middle = (low + high) / 2;
        ResourceEntry entry;
        if (!ReadEntry(pe, directory, (uint32_t)middle, &entry))
            return false;
        if (entry.id == id) {
            if (!(entry.target & subdirectoryFlag))
                return false;
            *subdirectory = root + (entry.target & ~subdirectoryFlag);
            return true;
        }
        if (entry.id > id)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return false;
}

// The first entry of the language level that leads to data. A version
// resource normally exists in one language only.
bool FindFirstDataEntry(const PeFile& pe, uint64_t root, uint64_t directory, uint64_t* dataEntry)
{
    uint32_t named, numbered;
    if (!ReadEntryCounts(pe, directory, &named, &numbered))
        return false;
    for (uint32_t index = 0; index < named + numbered; index++) {
        ResourceEntry entry;
        if (!ReadEntry(pe, directory, index, &entry))
            return false;
        if (!(entry.target & subdirectoryFlag)) {
            *dataEntry = root + entry.target;
            return true;
        }
    }
    return false;
}

// Reads the resource that the data entry describes, as far as it lies in
// the file, and takes the version from it.
PackedVersion VersionFromDataEntry(const PeFile& pe, const PeLayout& layout, uint64_t dataEntry)
{
    unsigned char entry[resourceDataEntrySize];
    uint64_t offset;
    if (!ReadExactly(pe, dataEntry, entry, sizeof entry) ||
        !RvaToFileOffset(pe, layout, ReadLe32(entry), &offset) || offset >= pe.size)
        return 0;
    uint64_t size = ReadLe32(entry + 4);
    if (size > pe.size - offset)
        size = pe.size - offset;
    if (size > versionResourceLimit)
        size = versionResourceLimit;
    if (size == 0)
        return 0;
    unsigned char* resource = (unsigned char*)MemAlloc((size_t)size);
    PackedVersion version = 0;
    if (resource && ReadExactly(pe, offset, resource, (uint32_t)size))
        version = FixedFileVersionIn(resource, (size_t)size);
    MemFree(resource);
    return version;
}

PackedVersion VersionOfOpenFile(const PeFile& pe)
{
    PeLayout layout;
    uint64_t root, typeDirectory, nameDirectory, dataEntry;
    if (!ReadLayout(pe, &layout) || !RvaToFileOffset(pe, layout, layout.resourceRva, &root) ||
        !FindSubdirectory(pe, root, root, versionResourceType, &typeDirectory) ||
        !FindSubdirectory(pe, root, typeDirectory, versionResourceId, &nameDirectory) ||
        !FindFirstDataEntry(pe, root, nameDirectory, &dataEntry))
        return 0;
    return VersionFromDataEntry(pe, layout, dataEntry);
}

}  // namespace

PackedVersion ReadVersionResourceOfSource(const ByteSource* source)
{
    PeFile pe = {source, source->size};
    return VersionOfOpenFile(pe);
}

PackedVersion ReadVersionResourceOfFile(const char* path)
{
    PlatformFile* file = OpenFileForRead(path);
    uint64_t size = 0;
    if (!file || !GetFileSize64(file, &size)) {
        CloseFile(file);
        return 0;
    }
    ByteSource source = FileSource(file, size);
    PackedVersion version = ReadVersionResourceOfSource(&source);
    CloseFile(file);
    return version;
}
