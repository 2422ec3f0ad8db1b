// cli_platform_posix.cpp - quillaro-cli's platform services on POSIX
// systems.
#include "cli/cli_platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <dirent.h>
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

PathKind PathKindOf(const char* path)
{
    struct stat status;
    if (lstat(path, &status) != 0)
        return PathKind::Missing;
    // A link is what it leads to; a dangling one is a name all the same.
    if (S_ISLNK(status.st_mode) && stat(path, &status) != 0)
        return PathKind::File;
    if (S_ISDIR(status.st_mode))
        return PathKind::Folder;
    return S_ISREG(status.st_mode) ? PathKind::File : PathKind::Special;
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

bool ListFolder(const char* path, std::vector<FolderItem>* items)
{
    items->clear();
    DIR* folder = opendir(path);
    if (!folder)
        return false;
    std::string prefix = std::string(path) + "/";
    errno = 0;
    while (dirent* entry = readdir(folder)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat status;
        bool known = lstat((prefix + entry->d_name).c_str(), &status) == 0;
        items->push_back({entry->d_name, known && S_ISDIR(status.st_mode),
                          known && S_ISLNK(status.st_mode)});
        errno = 0;
    }
    bool complete = errno == 0;
    closedir(folder);
    std::sort(items->begin(), items->end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return complete;
}
