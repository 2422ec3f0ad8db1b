// failing_work_memory.h - control of the tests' failing worker memory and
// threads.
#pragma once

#include <atomic>

// Allocations of the deflate workers that may still succeed before they
// fail, as when memory runs out; negative for no limit.
extern std::atomic<long> workAllocationsLeft;
// Worker threads that may still start before the system refuses one;
// negative for no limit.
extern std::atomic<long> workThreadsLeft;
