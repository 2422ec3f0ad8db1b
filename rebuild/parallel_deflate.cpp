// parallel_deflate.cpp - a body deflated whole on the calling thread, or
// in blocks by a pool of worker threads and written in order by the
// calling thread, which alone talks to the output sink and the progress
// display.
#include "rebuild/parallel_deflate.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>
#include <zlib.h>

#include "rebuild/work_memory.h"

const size_t deflateBlockSize = 1024 * 1024;

namespace {
enum class SlotState { Free, Queued, Done, Failed };

// One block on its way: its input (in the slot's own buffer, or borrowed
// from the caller's body), and its deflated form once a worker is done.
struct Slot {
    SlotState state;
    unsigned char* buffer;  // the block when the body is copied in; else null
    const unsigned char* data;
    size_t length;
    bool last;
    DeflateStatus failure;
    unsigned char* output;  // AllocateWork, PieceBound(deflateBlockSize); made on first use
    size_t outputLength;
    uint32_t adler;  // of the block's data alone
};

// Deflates one block into its slot with the worker's own state.
DeflateStatus DeflateBlock(PieceDeflater* pieces, Slot* slot)
{
    if (!pieces)
        return DeflateStatus::OutOfMemory;
    size_t room = PieceBound(deflateBlockSize);
    if (!slot->output && !(slot->output = (unsigned char*)AllocateWork(room)))
        return DeflateStatus::OutOfMemory;
    DeflateStatus status = DeflatePiece(pieces, slot->data, slot->length, slot->last,
                                        slot->output, room, &slot->outputLength);
    if (status == DeflateStatus::Done)
        slot->adler = FastAdler32(1, slot->data, slot->length);
    return status;
}
}  // namespace

struct BodyDeflater {
    ByteSink output;
    const Progress* progress;
    uint64_t bodyLength;
    int level;
    bool copies;  // the body is copied in (gathered, or into the slots' buffers)
    bool whole;
    // Whole: the caller's body, or the one gathered (AllocateWork).
    const unsigned char* body;
    unsigned char* gathered;
    uint64_t gatheredLength;
    uint64_t gatheredCapacity;
    // In blocks:
    std::vector<Slot> slots;  // a ring, used in order
    size_t filling;           // the slot taking the next input
    size_t nextJob;           // the next queued slot a worker takes
    size_t queued;
    bool stopping;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable jobQueued;
    std::condition_variable jobDone;
    PieceDeflater* own;  // without workers: the calling thread's state
    DeflateStatus status;
    bool headerWritten;
    uLong adler;
    uint64_t bodyWritten;  // body bytes whose block has been written
    uint64_t outputLength;
};

namespace {
void WorkerLoop(void* context)
{
    BodyDeflater* deflater = (BodyDeflater*)context;
    PieceDeflater* pieces = NewPieceDeflater(deflater->level);
    std::unique_lock<std::mutex> lock(deflater->mutex);
    for (;;) {
        deflater->jobQueued.wait(lock, [deflater] {
            return deflater->stopping || deflater->queued != 0;
        });
        if (deflater->stopping)
            break;
        Slot* slot = &deflater->slots[deflater->nextJob];
        deflater->nextJob = (deflater->nextJob + 1) % deflater->slots.size();
        deflater->queued--;
        lock.unlock();
        DeflateStatus status = DeflateBlock(pieces, slot);
        lock.lock();
        slot->failure = status;
        slot->state = status == DeflateStatus::Done ? SlotState::Done : SlotState::Failed;
        deflater->jobDone.notify_all();
    }
    lock.unlock();
    FreePieceDeflater(pieces);
}

bool Emit(BodyDeflater* deflater, const unsigned char* data, size_t length)
{
    deflater->outputLength += length;
    return deflater->output.write(deflater->output.context, data, length);
}

bool Fail(BodyDeflater* deflater, DeflateStatus status)
{
    if (deflater->status == DeflateStatus::Done)
        deflater->status = status;
    return false;
}

// Waits for the slot's block, writes it out and frees the slot.
bool WriteOut(BodyDeflater* deflater, Slot* slot)
{
    if (slot->state == SlotState::Free)
        return deflater->status == DeflateStatus::Done;
    if (!deflater->workers.empty()) {
        std::unique_lock<std::mutex> lock(deflater->mutex);
        deflater->jobDone.wait(lock, [slot] { return slot->state != SlotState::Queued; });
    }
    bool failed = slot->state == SlotState::Failed;
    slot->state = SlotState::Free;
    if (failed)
        return Fail(deflater, slot->failure);
    if (deflater->status != DeflateStatus::Done)
        return false;
    if (!deflater->headerWritten) {
        deflater->headerWritten = true;
        unsigned char header[2];
        ZlibHeader(deflater->level, header);
        if (!Emit(deflater, header, sizeof header))
            return Fail(deflater, DeflateStatus::OutputFailed);
    }
    if (!Emit(deflater, slot->output, slot->outputLength))
        return Fail(deflater, DeflateStatus::OutputFailed);
    deflater->adler = adler32_combine(deflater->adler, slot->adler, (z_off_t)slot->length);
    deflater->bodyWritten += slot->length;
    ReportProgress(deflater->progress, deflater->bodyWritten, deflater->bodyLength);
    return true;
}

// Hands the slot to a worker, or deflates it at once without workers.
void Submit(BodyDeflater* deflater, Slot* slot)
{
    if (deflater->workers.empty()) {
        slot->failure = DeflateBlock(deflater->own, slot);
        slot->state = slot->failure == DeflateStatus::Done ? SlotState::Done : SlotState::Failed;
        return;
    }
    std::lock_guard<std::mutex> lock(deflater->mutex);
    slot->state = SlotState::Queued;
    deflater->queued++;
    deflater->jobQueued.notify_one();
}

// Submits the filling slot and readies the next one.
bool SubmitFilling(BodyDeflater* deflater, bool last)
{
    if (deflater->status != DeflateStatus::Done)
        return false;
    Slot* slot = &deflater->slots[deflater->filling];
    slot->last = last;
    Submit(deflater, slot);
    if (last)
        return true;
    deflater->filling = (deflater->filling + 1) % deflater->slots.size();
    Slot* next = &deflater->slots[deflater->filling];
    if (!WriteOut(deflater, next))
        return false;
    if (deflater->copies)
        next->length = 0;
    return true;
}

bool WriteRemaining(BodyDeflater* deflater)
{
    size_t count = deflater->slots.size();
    for (size_t i = 1; i <= count; i++) {
        if (!WriteOut(deflater, &deflater->slots[(deflater->filling + i) % count]))
            return false;
    }
    return true;
}
}  // namespace

namespace {
void Release(BodyDeflater* deflater)
{
    {
        std::lock_guard<std::mutex> lock(deflater->mutex);
        deflater->stopping = true;
    }
    deflater->jobQueued.notify_all();
    for (std::thread& worker : deflater->workers)
        worker.join();
    for (Slot& slot : deflater->slots) {
        FreeWork(slot.buffer);
        FreeWork(slot.output);
    }
    FreePieceDeflater(deflater->own);
    FreeWork(deflater->gathered);
    delete deflater;
}

// Starts `count` workers. One that cannot be started fails the deflate;
// those already started stop with it.
void StartWorkers(BodyDeflater* deflater, unsigned count)
{
    for (unsigned i = 0; i < count; i++) {
        std::thread worker;
        if (!StartWorkThread(&worker, WorkerLoop, deflater)) {
            Fail(deflater, DeflateStatus::ThreadFailed);
            return;
        }
        deflater->workers.push_back(std::move(worker));
    }
}

// The slots and the workers, or the calling thread's own state. False
// when memory runs out.
bool PrepareBlocks(BodyDeflater* deflater, unsigned threads)
{
    uint64_t blocks = deflater->bodyLength / deflateBlockSize + 1;
    unsigned workers = WorkerCount(threads);
    if (workers > blocks)
        workers = (unsigned)blocks;
    try {
        deflater->slots.resize(workers > 1 ? workers * 2 : 2);
        deflater->workers.reserve(workers > 1 ? workers : 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (Slot& slot : deflater->slots) {
        if (!deflater->copies)
            continue;
        slot.buffer = (unsigned char*)AllocateWork(deflateBlockSize);
        slot.data = slot.buffer;
        if (!slot.buffer)
            return false;
    }
    if (workers <= 1)
        return (deflater->own = NewPieceDeflater(deflater->level)) != nullptr;
    StartWorkers(deflater, workers);
    return true;
}

BodyDeflater* Open(unsigned threads, uint64_t bodyLength, const ByteSink* output,
                   const Progress* progress, int level, DeflateShape shape, bool copies)
{
    BodyDeflater* deflater = new (std::nothrow) BodyDeflater();
    if (!deflater)
        return nullptr;
    deflater->output = *output;
    deflater->progress = progress;
    deflater->bodyLength = bodyLength;
    deflater->level = level;
    deflater->copies = copies;
    deflater->whole = shape == DeflateShape::BySize && bodyLength <= wholeBodyLimit;
    deflater->adler = 1;
    deflater->status = DeflateStatus::Done;
    if (!deflater->whole && !PrepareBlocks(deflater, threads)) {
        Release(deflater);
        return nullptr;
    }
    ReportProgress(progress, 0, bodyLength);
    return deflater;
}

// Room for `length` more gathered bytes; false when memory runs out. The
// body announced (at most wholeBodyLimit bytes) is taken at once, which
// the system backs only as it is written; more than that, doubling.
bool ReserveGathered(BodyDeflater* deflater, uint64_t length)
{
    uint64_t needed = deflater->gatheredLength + length;
    if (needed <= deflater->gatheredCapacity)
        return true;
    uint64_t capacity = deflater->gatheredCapacity ? deflater->gatheredCapacity * 2
                                                   : deflater->bodyLength;
    if (capacity < needed)
        capacity = needed;
    unsigned char* grown = capacity <= SIZE_MAX ? (unsigned char*)AllocateWork((size_t)capacity)
                                                : nullptr;
    if (!grown)
        return Fail(deflater, DeflateStatus::OutOfMemory);
    if (deflater->gatheredLength)
        memcpy(grown, deflater->gathered, (size_t)deflater->gatheredLength);
    FreeWork(deflater->gathered);
    deflater->gathered = grown;
    deflater->gatheredCapacity = capacity;
    return true;
}

bool Gather(BodyDeflater* deflater, const unsigned char* data, size_t length)
{
    if (deflater->status != DeflateStatus::Done || !ReserveGathered(deflater, length))
        return false;
    unsigned char* end = deflater->gathered + deflater->gatheredLength;
    if (data != end)
        memcpy(end, data, length);
    deflater->gatheredLength += length;
    return true;
}

// Deflates the whole body in one call, into the room the output offers
// when it holds the bound, else into a buffer of its own.
bool DeflateWholeBody(BodyDeflater* deflater)
{
    const unsigned char* body = deflater->copies ? deflater->gathered : deflater->body;
    uint64_t length = deflater->copies ? deflater->gatheredLength : deflater->bodyLength;
    size_t bound = WholeDeflatedBound((size_t)length);
    size_t room = bound;
    unsigned char* output = deflater->output.room
                                ? deflater->output.room(deflater->output.context, &room)
                                : nullptr;
    unsigned char* own = nullptr;
    if (!output || room < bound)
        output = own = (unsigned char*)AllocateWork(bound);
    if (!output)
        return Fail(deflater, DeflateStatus::OutOfMemory);
    // With room for its bound, libdeflate fails only for want of memory
    // for its state.
    size_t written = DeflateWhole(deflater->level, body ? body : output, (size_t)length, output,
                                  bound);
    bool emitted = written != 0 && Emit(deflater, output, written);
    FreeWork(own);
    if (written == 0)
        return Fail(deflater, DeflateStatus::OutOfMemory);
    return emitted || Fail(deflater, DeflateStatus::OutputFailed);
}

// Ends the stream in blocks: the last block, those still on their way,
// and the checksum.
bool FinishBlocks(BodyDeflater* deflater)
{
    if (!SubmitFilling(deflater, true) || !WriteRemaining(deflater))
        return false;
    unsigned char trailer[4] = {(unsigned char)(deflater->adler >> 24),
                                (unsigned char)(deflater->adler >> 16),
                                (unsigned char)(deflater->adler >> 8),
                                (unsigned char)deflater->adler};
    return Emit(deflater, trailer, sizeof trailer) || Fail(deflater, DeflateStatus::OutputFailed);
}

DeflateStatus Finish(BodyDeflater* deflater, uint64_t* outputLength)
{
    if (deflater->status == DeflateStatus::Done) {
        if (deflater->whole)
            DeflateWholeBody(deflater);
        else
            FinishBlocks(deflater);
    }
    DeflateStatus status = deflater->status;
    if (outputLength)
        *outputLength = deflater->outputLength;
    if (status == DeflateStatus::Done)
        ReportProgress(deflater->progress, deflater->bodyLength, deflater->bodyLength);
    Release(deflater);
    return status;
}

bool SinkWrite(void* context, const unsigned char* data, size_t length)
{
    return WriteBodyDeflater((BodyDeflater*)context, data, length);
}

// Room in the gathered body, for a decoder to write into directly.
unsigned char* SinkRoom(void* context, size_t* length)
{
    BodyDeflater* deflater = (BodyDeflater*)context;
    if (deflater->status != DeflateStatus::Done || !ReserveGathered(deflater, 1))
        return nullptr;
    uint64_t room = deflater->gatheredCapacity - deflater->gatheredLength;
    if (room < *length)
        *length = (size_t)room;
    return deflater->gathered + deflater->gatheredLength;
}
}  // namespace

uint64_t DeflatedBound(uint64_t bodyLength)
{
    // Zlib's header and checksum, then the blocks; the bound of the blocks
    // also holds the whole stream (libdeflate's bound adds up over blocks),
    // which is taken as well so as not to depend on that.
    uint64_t blocks = bodyLength / deflateBlockSize;
    size_t rest = (size_t)(bodyLength % deflateBlockSize);
    uint64_t bound = 2 + 4 + blocks * PieceBound(deflateBlockSize) + PieceBound(rest);
    if (bodyLength <= wholeBodyLimit) {
        uint64_t whole = WholeDeflatedBound((size_t)bodyLength);
        bound = whole > bound ? whole : bound;
    }
    return bound;
}

unsigned WorkerCount(unsigned threads)
{
    if (threads != 0)
        return threads;
    // Asked once: the C++ library reads it from the system on every call.
    static const unsigned cores = std::thread::hardware_concurrency();
    return cores != 0 ? cores : 1;
}

BodyDeflater* OpenBodyDeflater(unsigned threads, uint64_t bodyLength, const ByteSink* output,
                               const Progress* progress, int level, DeflateShape shape)
{
    return Open(threads, bodyLength, output, progress, level, shape, true);
}

bool WriteBodyDeflater(BodyDeflater* deflater, const unsigned char* data, size_t length)
{
    if (deflater->whole)
        return Gather(deflater, data, length);
    while (length != 0) {
        if (CancelRequested(deflater->progress))
            Fail(deflater, DeflateStatus::Cancelled);
        if (deflater->status != DeflateStatus::Done)
            return false;
        Slot* slot = &deflater->slots[deflater->filling];
        // A full block is submitted only when more follows, so that the
        // last block is known to be last.
        if (slot->length == deflateBlockSize && !SubmitFilling(deflater, false))
            return false;
        slot = &deflater->slots[deflater->filling];
        size_t piece = deflateBlockSize - slot->length;
        if (piece > length)
            piece = length;
        memcpy(slot->buffer + slot->length, data, piece);
        slot->length += piece;
        data += piece;
        length -= piece;
    }
    return deflater->status == DeflateStatus::Done;
}

ByteSink BodyDeflaterSink(BodyDeflater* deflater)
{
    return ByteSink{SinkWrite, deflater->whole ? SinkRoom : nullptr, deflater};
}

DeflateStatus FinishBodyDeflater(BodyDeflater* deflater, uint64_t* outputLength)
{
    return Finish(deflater, outputLength);
}

void AbandonBodyDeflater(BodyDeflater* deflater)
{
    if (deflater)
        Release(deflater);
}

DeflateStatus DeflateBody(const unsigned char* body, uint64_t length, unsigned threads,
                          const ByteSink* output, const Progress* progress,
                          uint64_t* outputLength, int level, DeflateShape shape)
{
    BodyDeflater* deflater = Open(threads, length, output, progress, level, shape, false);
    if (!deflater)
        return DeflateStatus::OutOfMemory;
    deflater->body = body;
    uint64_t start = 0;
    while (!deflater->whole && deflater->status == DeflateStatus::Done) {
        Slot* slot = &deflater->slots[deflater->filling];
        slot->data = body + start;
        slot->length = length - start < deflateBlockSize ? (size_t)(length - start)
                                                         : deflateBlockSize;
        start += slot->length;
        if (CancelRequested(progress)) {
            Fail(deflater, DeflateStatus::Cancelled);
            break;
        }
        if (start == length || !SubmitFilling(deflater, false))
            break;
    }
    return Finish(deflater, outputLength);
}
