// work_memory.h - the memory and the threads of the deflate workers: their
// compressor states, block buffers and threads. A translation unit of its
// own, so that tests can link a stand-in that runs out.
#pragma once

#include <cstddef>
#include <thread>

// A block of `size` bytes (not zero-filled), or null. Safe on any thread.
// A large one (a whole body) is to be written soon: it asks for large
// pages (large_pages.h).
void* AllocateWork(size_t size);
// Releases a block from AllocateWork; null is ignored.
void FreeWork(void* block);

// Starts `*thread` running `run(context)`; false, with `*thread` left as
// it was, when the system cannot start another thread.
bool StartWorkThread(std::thread* thread, void (*run)(void*), void* context);
