// platform_output_posix.cpp - outputs on POSIX systems: created without a
// name where the file system allows it (Linux's O_TMPFILE), otherwise as
// a temporary file beside the destination; named only once complete and
// flushed, with or without replacing, and the folder flushed after.
#include "common/platform.h"
#include "common/platform_file.h"
#include "common/temp_registry.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// The last name of `path`: what follows its last '/'.
const char* LastName(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// The folder of `path`, opened to create, name and flush files in it;
// -1 on failure. Names are then given relative to it.
int OpenFolderOf(const char* path)
{
    size_t length = (size_t)(LastName(path) - path);
    if (length == 0)
        return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    char* folder = (char*)MemAlloc(length + 1);
    if (!folder)
        return -1;
    memcpy(folder, path, length);  // with its trailing '/', which names the folder too
    int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    MemFree(folder);
    return descriptor;
}

// "/proc/self/fd/N": an unnamed file is given a name through it, since
// linkat's AT_EMPTY_PATH needs a privilege that a user lacks.
void ProcPathOf(int descriptor, char* text, size_t room)
{
    snprintf(text, room, "/proc/self/fd/%d", descriptor);
}

// A file without a name in `folder`, that can be given one later; -1 on
// failure, with errno EOPNOTSUPP where the system cannot do that.
int CreateUnnamedFile(int folder)
{
#ifdef O_TMPFILE
    int descriptor = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return -1;
    // Whether /proc can name it is asked once: it is the same for every
    // file of the process.
    static std::atomic<int> procNames{-1};
    if (procNames.load() < 0) {
        char link[32];
        ProcPathOf(descriptor, link, sizeof link);
        procNames.store(access(link, F_OK) == 0 ? 1 : 0);
    }
    if (procNames.load() == 1)
        return descriptor;
    close(descriptor);  // no /proc: it could never be named
#else
    (void)folder;
#endif
    errno = EOPNOTSUPP;
    return -1;
}

// How openat says that the file system (or a kernel older than O_TMPFILE,
// which opens the folder itself) has no unnamed files.
bool LacksUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// A name for a temporary file: ".quillaro-" and six letters or digits,
// different on every call of the process and between processes. Uniqueness
// in the folder comes from creating the name exclusively, not from the name.
void MakeTempName(char* letters)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter(0);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // splitmix64 over the time, the process and a counter.
    uint64_t mixed = (uint64_t)now.tv_nsec ^ ((uint64_t)now.tv_sec << 30) ^
                     ((uint64_t)getpid() << 40) ^ (counter++ * 0x9E3779B97F4A7C15u);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
    mixed ^= mixed >> 31;
    for (int i = 0; i < 6; i++, mixed /= sizeof alphabet - 1)
        letters[i] = alphabet[mixed % (sizeof alphabet - 1)];
}

// The temporary name pattern beside `destinationPath`, as a MemAlloc block
// whose last six characters MakeTempName fills; null without memory.
char* TempPathBeside(const char* destinationPath)
{
    static const char pattern[] = ".quillaro-XXXXXX";
    size_t folderLength = (size_t)(LastName(destinationPath) - destinationPath);
    char* path = (char*)MemAlloc(folderLength + sizeof pattern);
    if (path) {
        memcpy(path, destinationPath, folderLength);
        memcpy(path + folderLength, pattern, sizeof pattern);
    }
    return path;
}

// Calls `take` with fresh names in `tempPath` until one was not taken
// already; returns what `take` last returned (-1 and errno on failure).
template <typename Take>
int TakeFreshName(char* tempPath, Take take)
{
    const int tries = 100;
    char* letters = tempPath + strlen(tempPath) - 6;
    int result = -1;
    for (int i = 0; i < tries; i++) {
        MakeTempName(letters);
        result = take(LastName(tempPath));
        if (result >= 0 || errno != EEXIST)
            break;
    }
    return result;
}

// Gives the open unnamed file the name `name` in `folder`; never replaces.
int LinkUnnamed(const PlatformFile* file, const char* name)
{
    char link[32];
    ProcPathOf(file->descriptor, link, sizeof link);
    return linkat(AT_FDCWD, link, file->output.folder, name, AT_SYMLINK_FOLLOW);
}

// The output's temporary name from now on (`tempPath`, a MemAlloc block
// the file takes), remembered for a sweep on a signal.
void KeepTempName(PlatformFile* file, char* tempPath)
{
    RememberTempFile(tempPath);
    file->output.tempPath = tempPath;
}

// The temporary name is no longer the output's: removed from the folder
// unless it was moved to the destination.
void DropTempName(PlatformFile* file, bool remove)
{
    char* tempPath = file->output.tempPath;
    if (!tempPath)
        return;
    if (remove)
        unlinkat(file->output.folder, LastName(tempPath), 0);
    ForgetTempFile(tempPath);
    MemFree(tempPath);
    file->output.tempPath = nullptr;
}

// The fallback where files cannot be unnamed: a new temporary file beside
// the destination. A descriptor, or -1.
int CreateNamedFile(PlatformFile* file, const char* destinationPath)
{
    char* tempPath = TempPathBeside(destinationPath);
    if (!tempPath)
        return -1;
    int folder = file->output.folder;
    int descriptor = TakeFreshName(tempPath, [folder](const char* name) {
        return openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
    if (descriptor < 0)
        MemFree(tempPath);
    else
        KeepTempName(file, tempPath);
    return descriptor;
}

// Gives the output the permission bits of the file it is about to
// replace, if there is one. False when they cannot be given.
bool TakePermissionBits(const PlatformFile* file, const char* name)
{
    struct stat status;
    if (fstatat(file->output.folder, name, &status, 0) != 0)
        return true;
    return fchmod(file->descriptor, status.st_mode & 0777) == 0;
}

// Moves the temporary name to `name` without replacing: renameat2 where
// the file system offers it, or a hard link (which never replaces either)
// and the removal of the temporary name.
CommitResult MoveWithoutReplacing(int folder, const char* tempName, const char* name)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(folder, tempName, folder, name, RENAME_NOREPLACE) == 0)
        return CommitResult::Done;
    if (errno == EEXIST)
        return CommitResult::Exists;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return CommitResult::Failed;
#endif
    if (linkat(folder, tempName, folder, name, 0) != 0)
        return errno == EEXIST ? CommitResult::Exists : CommitResult::Failed;
    unlinkat(folder, tempName, 0);
    return CommitResult::Done;
}

// Moves the temporary name to `name` as `mode` says. A replacing move
// first tries not to replace, so that it is known whether it did.
CommitResult MoveTempName(PlatformFile* file, const char* name, CommitMode mode)
{
    int folder = file->output.folder;
    const char* tempName = LastName(file->output.tempPath);
    CommitResult result = MoveWithoutReplacing(folder, tempName, name);
    if (result == CommitResult::Exists && mode == CommitMode::Replace) {
        result = renameat(folder, tempName, folder, name) == 0 ? CommitResult::Done
                                                              : CommitResult::Failed;
        file->output.replaced = result == CommitResult::Done;
    }
    if (result == CommitResult::Done)
        DropTempName(file, false);
    return result;
}

// Names an unnamed output. A link never replaces: to replace, the file is
// linked under a fresh temporary name that is then moved over `name`.
CommitResult NameUnnamed(PlatformFile* file, const char* name, CommitMode mode,
                         const char* destinationPath)
{
    if (LinkUnnamed(file, name) == 0)
        return CommitResult::Done;
    if (errno != EEXIST)
        return CommitResult::Failed;
    if (mode == CommitMode::NoReplace)
        return CommitResult::Exists;
    char* tempPath = TempPathBeside(destinationPath);
    if (!tempPath)
        return CommitResult::Failed;
    if (TakeFreshName(tempPath, [file](const char* tempName) {
            return LinkUnnamed(file, tempName);
        }) != 0) {
        MemFree(tempPath);
        return CommitResult::Failed;
    }
    KeepTempName(file, tempPath);
    // The name was taken a moment ago: move over it at once, so that the
    // time in which a kill would leave the temporary name is as short as
    // two calls of the system.
    if (renameat(file->output.folder, LastName(tempPath), file->output.folder, name) != 0)
        return CommitResult::Failed;
    file->output.replaced = true;
    DropTempName(file, false);
    return CommitResult::Done;
}

// Closes the output's descriptors and frees its record.
void ReleaseOutput(PlatformFile* file)
{
    // The data was flushed before the file was named: a failing close
    // cannot undo that, and a file that is abandoned is gone anyway.
    if (file->descriptor >= 0)
        close(file->descriptor);
    if (file->output.folder >= 0)
        close(file->output.folder);
    MemFree(file->output.placedPath);
    MemFree(file);
}

// Removes the name NameOutput gave, if it still names this file.
void TakeBackName(const PlatformFile* file)
{
    struct stat named, own;
    const char* name = LastName(file->output.placedPath);
    if (fstat(file->descriptor, &own) == 0 &&
        fstatat(file->output.folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == own.st_dev && named.st_ino == own.st_ino)
        unlinkat(file->output.folder, name, 0);
}

}  // namespace

PlatformFile* CreateOutputBeside(const char* destinationPath)
{
    if (!destinationPath || !*LastName(destinationPath))
        return nullptr;
    PlatformFile* file = (PlatformFile*)MemAlloc(sizeof(PlatformFile));
    if (!file)
        return nullptr;
    file->descriptor = -1;
    file->output.folder = OpenFolderOf(destinationPath);
    if (file->output.folder >= 0) {
        file->descriptor = CreateUnnamedFile(file->output.folder);
        if (file->descriptor < 0 && LacksUnnamedFiles(errno))
            file->descriptor = CreateNamedFile(file, destinationPath);
    }
    // Readers share a file with each other but not with its writer
    // (OpenFileForRead).
    if (file->descriptor < 0 || flock(file->descriptor, LOCK_EX | LOCK_NB) != 0) {
        DiscardOutput(file);
        return nullptr;
    }
    return file;
}

void DiscardOutput(PlatformFile* file)
{
    if (!file)
        return;
    DropTempName(file, true);
    ReleaseOutput(file);
}

bool FlushOutput(PlatformFile* file)
{
    return fsync(file->descriptor) == 0;
}

void StartFlushOutput(PlatformFile* file, uint64_t offset, uint64_t length)
{
#ifdef SYNC_FILE_RANGE_WRITE
    // Queues the writing of the dirty pages, without waiting for them; a
    // failure shows in the fsync that follows.
    sync_file_range(file->descriptor, (off_t)offset, (off_t)length, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
    (void)offset;
    (void)length;
#endif
}

CommitResult NameOutput(PlatformFile* file, const char* destinationPath, CommitMode mode)
{
    const char* name = LastName(destinationPath);
    size_t length = strlen(destinationPath);
    char* placedPath = (char*)MemAlloc(length + 1);
    if (!placedPath || (mode == CommitMode::Replace && !TakePermissionBits(file, name))) {
        MemFree(placedPath);
        return CommitResult::Failed;
    }
    memcpy(placedPath, destinationPath, length + 1);
    CommitResult result = file->output.tempPath ? MoveTempName(file, name, mode)
                                                : NameUnnamed(file, name, mode, destinationPath);
    if (result == CommitResult::Done)
        file->output.placedPath = placedPath;
    else
        MemFree(placedPath);
    return result;
}

bool FlushOutputFolder(PlatformFile* file)
{
    return fsync(file->output.folder) == 0;
}

void EndOutput(PlatformFile* file, bool takeBackName)
{
    if (takeBackName)
        TakeBackName(file);
    ReleaseOutput(file);
}

void DeleteFilePath(const char* path)
{
    if (!path)
        return;
    unlink(path);
    ForgetTempFile(path);
}
