// failing_work_memory.cpp - a stand-in for the deflate workers' memory
// that runs out after a budget of allocations.
#include "failing_work_memory.h"

#include <cstdlib>

#include "rebuild/work_memory.h"

std::atomic<long> workAllocationsLeft(-1);

void* AllocateWork(size_t size)
{
    if (workAllocationsLeft.load() >= 0 && workAllocationsLeft.fetch_sub(1) <= 0)
        return nullptr;
    return malloc(size);
}

void FreeWork(void* block)
{
    free(block);
}
