// cli_platform_posix.cpp - quillaro-cli's platform services on POSIX
// systems.
#include "cli/cli_platform.h"

#include <csignal>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

const char pathSeparator = '/';

bool IsPathSeparator(char c)
{
    return c == '/';
}

void UseUtf8Console()
{
}

bool PathExists(const char* path)
{
    struct stat status;
    return lstat(path, &status) == 0;
}

bool IsFolder(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsSpecialFile(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

bool IsSameFile(const char* first, const char* second)
{
    struct stat a, b;
    return stat(first, &a) == 0 && stat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::string OutputNameKey(const std::string& path)
{
    return path;
}

bool CreateFolder(const char* path)
{
    mkdir(path, 0777);
    return IsFolder(path);
}

namespace {
const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs in a signal handler: only async-signal-safe calls. The signal is
// blocked while its handler runs, so the raised one is delivered, with
// the default action, as soon as this returns.
void OnEndingSignal(int signalNumber)
{
    DeleteUnfinishedTempFiles();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}
}  // namespace

void InstallInterruptCleanup()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : endingSignals)
        sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : endingSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signalNumber, &action, nullptr);
    }
}

void KeepFreedMemory()
{
#ifdef __GLIBC__
    // What glibc's own adaptive thresholds settle on once a large block
    // has been freed, set from the start: blocks below 32 MiB come from
    // the heaps, and up to 64 MiB freed at a heap's top stays there. The
    // program never holds more than it held at its peak.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

bool IsTerminal(FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

char* NativeTextToUtf8(const char* text)
{
    size_t size = strlen(text) + 1;
    char* copy = (char*)MemAlloc(size);
    if (copy)
        memcpy(copy, text, size);
    return copy;
}
