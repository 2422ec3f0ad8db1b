// progress.h - how the core tells a front end how far a long operation has
// come (a function and a context, so that the core needs no window type),
// and how a front end asks it to stop.
#pragma once

#include <atomic>
#include <cstdint>

// A front end's progress display. `report` receives `done` of `total`
// units of input consumed. Within one operation `total` stays the same,
// `done` never goes back, and the last report has `done` equal to `total`
// (unless the operation failed). Reports come on the thread that called
// the operation, never from a worker thread. A null Progress, or a null
// `report`, shows nothing.
//
// `cancel`, when not null, is a flag that any thread may set: the
// operation reads it between pieces of its work and, once it is set, ends
// soon with FailureKind::Cancelled; a write then leaves no output and no
// temporary file. The flag stays the caller's and must outlive the call.
struct Progress {
    void (*report)(void* context, uint64_t done, uint64_t total);
    void* context;
    const std::atomic<bool>* cancel = nullptr;
};

// Whether the caller of the operation asked it to stop.
inline bool CancelRequested(const Progress* progress)
{
    return progress && progress->cancel && progress->cancel->load(std::memory_order_relaxed);
}

inline void ReportProgress(const Progress* progress, uint64_t done, uint64_t total)
{
    if (progress && progress->report)
        progress->report(progress->context, done, total);
}

// `done` of `total` as a whole percentage, 0 to 100; 100 when `total` is 0.
inline uint32_t ProgressPercent(uint64_t done, uint64_t total)
{
    if (total == 0 || done >= total)
        return 100;
    // Split so that the product cannot overflow for any 64-bit total.
    uint64_t percent = total > UINT64_MAX / 100 ? done / (total / 100) : done * 100 / total;
    return percent < 100 ? (uint32_t)percent : 99;
}
