// short_read.h - control of the tests' short file read.
#pragma once

#include <cstdint>

// Files of exactly `shortFileSize` bytes read as if they ended at byte
// `shortReadEnd`, as a file cut after it was inspected does. A size of 0
// (the start) lets every file read whole.
extern uint64_t shortFileSize;
extern uint64_t shortReadEnd;
