// large_pages_posix.cpp - transparent huge pages, where Linux has them.
#include "common/large_pages.h"

#include <cstdint>
#ifdef __linux__
#include <sys/mman.h>
#endif

void AdviseLargePages(void* block, size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole 2 MiB pages inside the block can be large ones.
    const uintptr_t large = 2u << 20;
    uintptr_t start = ((uintptr_t)block + large - 1) & ~(large - 1);
    uintptr_t end = ((uintptr_t)block + size) & ~(large - 1);
    if (end > start)
        madvise((void*)start, end - start, MADV_HUGEPAGE);  // a hint: failure changes nothing
#else
    (void)block;
    (void)size;
#endif
}
