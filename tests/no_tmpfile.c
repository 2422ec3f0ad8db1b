/* no_tmpfile.c - an LD_PRELOAD shim for the campaigns: the file system
   seems to lack unnamed files (O_TMPFILE fails as on FAT or an old
   kernel), so that outputs take the named-temporary path. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>

static int OpenAt(const char* symbol, int folder, const char* path, int flags, va_list rest)
{
    mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, mode_t) : 0;
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    int (*real)(int, const char*, int, ...) = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, symbol);
    return real(folder, path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    int result = OpenAt("openat", folder, path, flags, rest);
    va_end(rest);
    return result;
}

int openat64(int folder, const char* path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    int result = OpenAt("openat64", folder, path, flags, rest);
    va_end(rest);
    return result;
}
