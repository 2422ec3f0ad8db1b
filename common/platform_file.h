// platform_file.h - the record behind a PlatformFile, shared by the
// platform layer's translation units (and the tests' write stand-in).
#pragma once

struct PlatformFile {
#ifdef _WIN32
    void* handle;  // a Win32 file HANDLE
#else
    int descriptor;
#endif
};
