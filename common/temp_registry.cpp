// temp_registry.cpp - a fixed table of the names of unfinished temporary
// files. Writers on several threads claim slots with an atomic exchange; a
// signal handler reads only the slots marked in use, without waiting.
#include "common/temp_registry.h"

#include <atomic>
#include <cstring>

#include "common/platform.h"

namespace {

enum SlotState { slotFree, slotBusy, slotInUse };

struct Slot {
    std::atomic<int> state;  // SlotState
    char path[tempPathLimit];
};

Slot slots[unfinishedTempFileLimit];

static_assert(ATOMIC_INT_LOCK_FREE == 2, "the table is read from signal handlers");

}  // namespace

void RememberTempFile(const char* path)
{
    size_t length = strlen(path);
    if (length >= tempPathLimit)
        return;
    for (Slot& slot : slots) {
        int expected = slotFree;
        if (!slot.state.compare_exchange_strong(expected, slotBusy))
            continue;
        memcpy(slot.path, path, length + 1);
        slot.state.store(slotInUse);
        return;
    }
}

void ForgetTempFile(const char* path)
{
    for (Slot& slot : slots) {
        if (slot.state.load() != slotInUse || strcmp(slot.path, path) != 0)
            continue;
        int expected = slotInUse;
        if (slot.state.compare_exchange_strong(expected, slotBusy))
            slot.state.store(slotFree);
        return;
    }
}

void ForEachUnfinishedTempFile(void (*remove)(const char* path))
{
    for (Slot& slot : slots) {
        if (slot.state.load() == slotInUse)
            remove(slot.path);
    }
}
