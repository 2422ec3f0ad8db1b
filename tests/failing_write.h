// failing_write.h - control of the tests' failing file write.
#pragma once

#include <cstdint>

// Bytes that may still be written before writes fail; UINT64_MAX for no
// limit.
extern uint64_t writeBudget;
