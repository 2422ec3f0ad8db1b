// work_memory.cpp - the deflate workers' memory, from the C heap (which
// every thread may use).
#include "rebuild/work_memory.h"

#include <cstdlib>

void* AllocateWork(size_t size)
{
    return malloc(size);
}

void FreeWork(void* block)
{
    free(block);
}
