// player_version_win.cpp - the version of a player program on Windows: the
// system loads the file as data (none of its code runs) and finds its
// version resource. The loader takes no path longer than MAX_PATH; such
// files are read by the portable reader.
#include "movie/version_resource.h"

#include <windows.h>

#include <cstring>

#include "common/platform.h"

// The name to give the loader for `path`: its full path, so that a bare
// name is not looked for along the library search path, and with a final
// "." when the file name has no extension, so that the loader does not
// add ".dll" to it (Windows drops the "." when it opens the file). A new
// allocation (MemFree), or null.
static char* LoaderPath(const char* path)
{
    char* fullPath = GetFullPath(path);
    if (!fullPath)
        return nullptr;
    size_t length = strlen(fullPath);
    const char* name = fullPath;
    for (const char* c = fullPath; *c; c++) {
        if (*c == '\\' || *c == '/' || *c == ':')
            name = c + 1;
    }
    if (strchr(name, '.') || strncmp(fullPath, "\\\\?\\", 4) == 0)
        return fullPath;
    char* dotted = (char*)MemReAlloc(fullPath, length + 2);
    if (!dotted) {
        MemFree(fullPath);
        return nullptr;
    }
    dotted[length] = '.';
    dotted[length + 1] = 0;
    return dotted;
}

// The bytes from `data` to the end of the memory region that holds it: a
// resource whose declared size runs past the end of the mapped file is cut
// there rather than read beyond it.
static size_t BytesMappedFrom(const void* data)
{
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(data, &region, sizeof region) == 0 || region.State != MEM_COMMIT)
        return 0;
    return (size_t)((const char*)region.BaseAddress + region.RegionSize - (const char*)data);
}

PackedVersion GetPlayerVersion(const char* path)
{
    char* loaderPath = path && *path ? LoaderPath(path) : nullptr;
    if (loaderPath && strlen(loaderPath) >= MAX_PATH) {
        MemFree(loaderPath);
        return ReadVersionResourceOfFile(path);
    }
    HMODULE module =
        loaderPath ? LoadLibraryExA(loaderPath, nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
    MemFree(loaderPath);
    if (!module)
        return 0;
    PackedVersion version = 0;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), RT_VERSION);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const unsigned char* data = loaded ? (const unsigned char*)LockResource(loaded) : nullptr;
    if (data) {
        size_t size = SizeofResource(module, resource);
        size_t mapped = BytesMappedFrom(data);
        version = FixedFileVersionIn(data, size < mapped ? size : mapped);
    }
    FreeLibrary(module);
    return version;
}
