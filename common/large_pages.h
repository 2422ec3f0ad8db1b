// large_pages.h - asking the system to back a large block with large
// pages. On machines where every 4 KiB page costs a fault that the
// hypervisor sees (a virtual machine), a 32 MiB body otherwise takes as
// long to fault in as libdeflate takes to inflate it; with Linux's
// transparent huge pages it faults in 2 MiB at a time.
#pragma once

#include <cstddef>

// A hint for the `size` bytes at `block`, allocated and not yet written:
// they will be written whole soon. Ignored where the system has no large
// pages, or for the parts of the block that cannot have them.
void AdviseLargePages(void* block, size_t size);
