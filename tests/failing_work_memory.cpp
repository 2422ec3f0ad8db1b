// failing_work_memory.cpp - a stand-in for the deflate workers' memory
// and threads that runs out after a budget of each.
#include "failing_work_memory.h"

#include <cstdlib>

#include "rebuild/work_memory.h"

std::atomic<long> workAllocationsLeft(-1);
std::atomic<long> workThreadsLeft(-1);

namespace {
bool Spend(std::atomic<long>* budget)
{
    return budget->load() < 0 || budget->fetch_sub(1) > 0;
}
}  // namespace

void* AllocateWork(size_t size)
{
    return Spend(&workAllocationsLeft) ? malloc(size) : nullptr;
}

void FreeWork(void* block)
{
    free(block);
}

bool StartWorkThread(std::thread* thread, void (*run)(void*), void* context)
{
    if (!Spend(&workThreadsLeft))
        return false;
    *thread = std::thread(run, context);
    return true;
}
