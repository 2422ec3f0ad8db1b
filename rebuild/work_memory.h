// work_memory.h - the memory of the deflate workers: their zlib states and
// block buffers. A translation unit of its own, so that tests can link a
// stand-in that runs out.
#pragma once

#include <cstddef>

// A block of `size` bytes (not zero-filled), or null. Safe on any thread.
void* AllocateWork(size_t size);
// Releases a block from AllocateWork; null is ignored.
void FreeWork(void* block);
