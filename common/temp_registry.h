// temp_registry.h - the names of the process's unfinished temporary files,
// kept by the platform layer so that they can be deleted when the process
// is ended from outside (see DeleteUnfinishedTempFiles in platform.h).
#pragma once

// Remembers `path` as unfinished. A name of tempPathLimit bytes or more,
// or one beyond unfinishedTempFileLimit at once, is not remembered.
void RememberTempFile(const char* path);
// Forgets `path`; nothing happens when it is not remembered.
void ForgetTempFile(const char* path);
// Calls `remove` with each remembered name. Takes no lock and allocates
// nothing, so it is safe in a signal handler when `remove` is.
void ForEachUnfinishedTempFile(void (*remove)(const char* path));
