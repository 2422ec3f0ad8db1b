// platform_file.h - the record behind a PlatformFile, shared by the
// platform layer's translation units (and the tests' write stand-in).
#pragma once

// What an output needs beyond its handle, from CreateOutputBeside to its
// commit; all zero for a file opened for reading.
struct OutputState {
    // The temporary file's name (a MemAlloc block), while it has one:
    // remembered as unfinished until the output is named or abandoned.
    char* tempPath;
    // The destination's path, once NameOutput gave its name (a MemAlloc
    // block).
    char* placedPath;
    bool replaced;  // NameOutput replaced a file of the destination's name
#ifdef _WIN32
    bool deleteOnClose;  // the system deletes the file when its handle closes
#else
    int folder;  // a descriptor of the destination's folder
#endif
};

struct PlatformFile {
#ifdef _WIN32
    void* handle;  // a Win32 file HANDLE
#else
    int descriptor;
#endif
    OutputState output;
};

// Closes a named output and frees its record, first removing the name it
// was given when `takeBackName` (only if that name still is this file's).
// One per platform; FinishOutput decides.
void EndOutput(PlatformFile* file, bool takeBackName);
