// large_pages_win.cpp - Windows gives large pages only to programs that
// hold the right to lock memory, which Quillaro does not ask for.
#include "common/large_pages.h"

void AdviseLargePages(void*, size_t)
{
}
