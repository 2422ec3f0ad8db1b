// parallel_deflate.cpp - blocks of the body deflated by a pool of worker
// threads and written in order by the calling thread, which alone talks
// to the output sink and the progress display.
#include "rebuild/parallel_deflate.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>
#include <zlib.h>

#include "rebuild/work_memory.h"

const size_t deflateBlockSize = 256 * 1024;

namespace {
const size_t dictionarySize = 32 * 1024;
// A zlib header for level 9 with the default window.
const unsigned char zlibHeader[2] = {0x78, 0xDA};

enum class SlotState { Free, Queued, Done, Failed };

// One block on its way: its input (in the slot's own buffer, or borrowed
// from the caller's body), and its deflated form once a worker is done.
struct Slot {
    SlotState state;
    unsigned char* buffer;  // [dictionary | block] when the body is copied in; else null
    const unsigned char* dictionary;
    size_t dictionaryLength;
    const unsigned char* data;
    size_t length;
    bool last;
    DeflateStatus failure;
    unsigned char* output;  // AllocateWork; grows as needed
    size_t outputCapacity;
    size_t outputLength;
    uLong adler;  // of the block's data alone
};

voidpf ZlibAlloc(voidpf, uInt items, uInt size)
{
    return AllocateWork((size_t)items * size);
}

void ZlibFree(voidpf, voidpf block)
{
    FreeWork(block);
}

// A raw deflate state at level 9, memory level 8; null when out of memory.
z_stream* NewDeflateStream()
{
    z_stream* stream = (z_stream*)AllocateWork(sizeof(z_stream));
    if (!stream)
        return nullptr;
    memset(stream, 0, sizeof *stream);
    stream->zalloc = ZlibAlloc;
    stream->zfree = ZlibFree;
    if (deflateInit2(stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        FreeWork(stream);
        return nullptr;
    }
    return stream;
}

void DeleteDeflateStream(z_stream* stream)
{
    if (!stream)
        return;
    deflateEnd(stream);
    FreeWork(stream);
}

// The most raw deflate output for `length` input bytes ended by a flush.
size_t RawBlockBound(size_t length)
{
    return length + (length >> 12) + (length >> 14) + (length >> 25) + 7 + 12;
}

bool GrowOutput(Slot* slot)
{
    size_t capacity = slot->outputCapacity ? slot->outputCapacity + slot->outputCapacity / 2
                                           : RawBlockBound(deflateBlockSize);
    unsigned char* grown = (unsigned char*)AllocateWork(capacity);
    if (!grown)
        return false;
    if (slot->outputLength)
        memcpy(grown, slot->output, slot->outputLength);
    FreeWork(slot->output);
    slot->output = grown;
    slot->outputCapacity = capacity;
    return true;
}

// Deflates one block into its slot. The stream is the worker's own.
DeflateStatus DeflateBlock(z_stream* stream, Slot* slot)
{
    if (!stream)
        return DeflateStatus::OutOfMemory;
    slot->outputLength = 0;
    if (deflateReset(stream) != Z_OK)
        return DeflateStatus::CompressorFailed;
    if (slot->dictionaryLength != 0 &&
        deflateSetDictionary(stream, slot->dictionary, (uInt)slot->dictionaryLength) != Z_OK)
        return DeflateStatus::CompressorFailed;
    stream->next_in = (Bytef*)slot->data;
    stream->avail_in = (uInt)slot->length;
    int flush = slot->last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        if (slot->outputCapacity - slot->outputLength < 64 && !GrowOutput(slot))
            return DeflateStatus::OutOfMemory;
        uInt room = (uInt)(slot->outputCapacity - slot->outputLength);
        stream->next_out = slot->output + slot->outputLength;
        stream->avail_out = room;
        int status = deflate(stream, flush);
        slot->outputLength += room - stream->avail_out;
        if (status == Z_STREAM_END || (!slot->last && stream->avail_in == 0 &&
                                       stream->avail_out != 0 && status == Z_OK))
            break;
        if (status != Z_OK && status != Z_BUF_ERROR)
            return DeflateStatus::CompressorFailed;
    }
    slot->adler = adler32(1, slot->data, (uInt)slot->length);
    return DeflateStatus::Done;
}
}  // namespace

struct BodyDeflater {
    ByteSink output;
    const Progress* progress;
    uint64_t bodyLength;
    bool copies;  // the body is copied into the slots' buffers
    std::vector<Slot> slots;  // a ring, used in order
    size_t filling;           // the slot taking the next input
    size_t nextJob;           // the next queued slot a worker takes
    size_t queued;
    bool stopping;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable jobQueued;
    std::condition_variable jobDone;
    z_stream* ownStream;  // without workers: the calling thread's state
    DeflateStatus status;
    bool headerWritten;
    uLong adler;
    uint64_t bodyWritten;    // body bytes whose block has been written
    uint64_t outputLength;
};

namespace {
void WorkerLoop(BodyDeflater* deflater)
{
    z_stream* stream = NewDeflateStream();
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
        DeflateStatus status = DeflateBlock(stream, slot);
        lock.lock();
        slot->failure = status;
        slot->state = status == DeflateStatus::Done ? SlotState::Done : SlotState::Failed;
        deflater->jobDone.notify_all();
    }
    lock.unlock();
    DeleteDeflateStream(stream);
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
        if (!Emit(deflater, zlibHeader, sizeof zlibHeader))
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
        slot->failure = DeflateBlock(deflater->ownStream, slot);
        slot->state = slot->failure == DeflateStatus::Done ? SlotState::Done : SlotState::Failed;
        return;
    }
    std::lock_guard<std::mutex> lock(deflater->mutex);
    slot->state = SlotState::Queued;
    deflater->queued++;
    deflater->jobQueued.notify_one();
}

Slot* NextSlot(BodyDeflater* deflater)
{
    deflater->filling = (deflater->filling + 1) % deflater->slots.size();
    return &deflater->slots[deflater->filling];
}

// Submits the filling slot and readies the next one, whose dictionary is
// the end of this block.
bool SubmitFilling(BodyDeflater* deflater, bool last)
{
    Slot* slot = &deflater->slots[deflater->filling];
    slot->last = last;
    Submit(deflater, slot);
    if (last)
        return true;
    Slot* next = NextSlot(deflater);
    if (!WriteOut(deflater, next))
        return false;
    if (deflater->copies) {
        memcpy(next->buffer, slot->data + slot->length - dictionarySize, dictionarySize);
        next->dictionaryLength = dictionarySize;
        next->length = 0;
    }
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
    DeleteDeflateStream(deflater->ownStream);
    delete deflater;
}

bool StartWorkers(BodyDeflater* deflater, unsigned count)
{
    try {
        for (unsigned i = 0; i < count; i++)
            deflater->workers.emplace_back(WorkerLoop, deflater);
    } catch (...) {
        return !deflater->workers.empty();
    }
    return true;
}

BodyDeflater* Open(unsigned threads, uint64_t bodyLength, const ByteSink* output,
                   const Progress* progress, bool copies)
{
    BodyDeflater* deflater = new (std::nothrow) BodyDeflater();
    if (!deflater)
        return nullptr;
    deflater->output = *output;
    deflater->progress = progress;
    deflater->bodyLength = bodyLength;
    deflater->copies = copies;
    deflater->adler = 1;
    deflater->status = DeflateStatus::Done;
    uint64_t blocks = bodyLength / deflateBlockSize + 1;
    unsigned workers = WorkerCount(threads);
    if (workers > blocks)
        workers = (unsigned)blocks;
    bool ready = true;
    try {
        deflater->slots.resize(workers > 1 ? workers * 2 : 2);
    } catch (...) {
        ready = false;
    }
    for (size_t i = 0; ready && copies && i < deflater->slots.size(); i++) {
        Slot& slot = deflater->slots[i];
        slot.buffer = (unsigned char*)AllocateWork(dictionarySize + deflateBlockSize);
        slot.data = slot.buffer + dictionarySize;
        slot.dictionary = slot.buffer;
        ready = slot.buffer != nullptr;
    }
    if (ready && workers <= 1)
        ready = (deflater->ownStream = NewDeflateStream()) != nullptr;
    else if (ready)
        ready = StartWorkers(deflater, workers);
    if (!ready) {
        Release(deflater);
        return nullptr;
    }
    ReportProgress(progress, 0, bodyLength);
    return deflater;
}

DeflateStatus Finish(BodyDeflater* deflater, uint64_t* outputLength)
{
    if (deflater->status == DeflateStatus::Done && SubmitFilling(deflater, true) &&
        WriteRemaining(deflater)) {
        unsigned char trailer[4] = {(unsigned char)(deflater->adler >> 24),
                                    (unsigned char)(deflater->adler >> 16),
                                    (unsigned char)(deflater->adler >> 8),
                                    (unsigned char)deflater->adler};
        if (!Emit(deflater, trailer, sizeof trailer))
            Fail(deflater, DeflateStatus::OutputFailed);
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
}  // namespace

uint64_t DeflatedBound(uint64_t bodyLength)
{
    uint64_t blocks = bodyLength / deflateBlockSize + 1;
    return sizeof zlibHeader + 4 + bodyLength + (bodyLength >> 12) + (bodyLength >> 14) +
           (bodyLength >> 25) + blocks * (7 + 12);
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
                               const Progress* progress)
{
    return Open(threads, bodyLength, output, progress, true);
}

bool WriteBodyDeflater(BodyDeflater* deflater, const unsigned char* data, size_t length)
{
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
        memcpy((unsigned char*)slot->data + slot->length, data, piece);
        slot->length += piece;
        data += piece;
        length -= piece;
    }
    return deflater->status == DeflateStatus::Done;
}

ByteSink BodyDeflaterSink(BodyDeflater* deflater)
{
    return ByteSink{SinkWrite, nullptr, deflater};
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
                          uint64_t* outputLength)
{
    BodyDeflater* deflater = Open(threads, length, output, progress, false);
    if (!deflater)
        return DeflateStatus::OutOfMemory;
    uint64_t start = 0;
    for (;;) {
        Slot* slot = &deflater->slots[deflater->filling];
        size_t dictionary = start < dictionarySize ? (size_t)start : dictionarySize;
        slot->dictionary = body + start - dictionary;
        slot->dictionaryLength = dictionary;
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
