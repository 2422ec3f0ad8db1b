// work_memory.cpp - the deflate workers' memory, from the C heap (which
// every thread may use), and their threads.
#include "rebuild/work_memory.h"

#include <cstdlib>
#include <new>
#include <system_error>

#include "common/large_pages.h"

namespace {
// Blocks from this size on are whole bodies and their streams.
const size_t largeBlock = 4u << 20;
}  // namespace

void* AllocateWork(size_t size)
{
    void* block = malloc(size);
    if (block && size >= largeBlock)
        AdviseLargePages(block, size);
    return block;
}

void FreeWork(void* block)
{
    free(block);
}

bool StartWorkThread(std::thread* thread, void (*run)(void*), void* context)
{
    // std::thread reports a thread the system refuses (a limit on threads
    // or processes) as system_error, and no memory for its state as
    // bad_alloc; either way there is no thread.
    try {
        *thread = std::thread(run, context);
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
