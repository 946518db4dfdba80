#include "SparseRecordQueue.h"

#include <algorithm>
#include <cstring>

#include "Heap.h"
#include "SparseCommon.h"

namespace qvt {
namespace {

// The record of the grain in `slot`: its head, the zlib stream, zeros to the
// end of the last sector.
DiskResult MakeRecord(GrainDeflater* deflater, RecordSlot* slot) {
  std::uint32_t size = 0;
  QVT_DISK_TRY(GrainDeflate(deflater, slot->grain, kRecordGrainBytes,
                            slot->record + kGrainHeadBytes, kRecordBytes - kGrainHeadBytes, &size));
  EncodeSparseGrainHead(SparseGrainHead{slot->lba, size}, slot->record);
  const std::uint32_t used = static_cast<std::uint32_t>(kGrainHeadBytes) + size;
  const auto bytes =
      static_cast<std::uint32_t>((used + kSectorBytes - 1) / kSectorBytes * kSectorBytes);
  std::memset(slot->record + used, 0, bytes - used);
  slot->recordBytes = bytes;
  return DISK_OK;
}

// Deflates the oldest grain no thread has begun, with the lock (held on
// entry and on return) let go meanwhile.
void DeflateNext(RecordQueue* q, GrainDeflater* deflater, std::unique_lock<std::mutex>* hold) {
  RecordSlot& slot = q->slots[q->started % q->slotCount];
  ++q->started;
  hold->unlock();
  slot.result = MakeRecord(deflater, &slot);
  hold->lock();
  slot.deflated = true;
  // Only the writer's thread waits for records.
  q->deflated.notify_one();
}

void Work(RecordQueue* q, GrainDeflater* deflater) {
  std::unique_lock<std::mutex> hold(q->lock);
  for (;;) {
    q->handedIn.wait(hold, [q] { return q->stopping || q->started < q->in; });
    if (q->stopping) return;
    DeflateNext(q, deflater, &hold);
  }
}

std::uint32_t ThreadsFor(std::uint32_t requested) {
  std::uint32_t threads = requested;
  if (threads == 0) threads = std::thread::hardware_concurrency();  // 0 when unknown
  return std::clamp<std::uint32_t>(threads, 1, kMaxDeflateThreads);
}

}  // namespace

RecordQueue::~RecordQueue() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
  }
  handedIn.notify_all();
  for (std::thread& worker : workers) {
    if (worker.joinable()) worker.join();
  }
  for (RecordSlot& slot : slots) {
    EngineFree(slot.grain);
    EngineFree(slot.record);
  }
  for (GrainDeflater& deflater : deflaters) GrainDeflaterEnd(&deflater);
}

DiskResult RecordQueueStart(RecordQueue* q, std::uint32_t threads) {
  q->threads = ThreadsFor(threads);
  q->slotCount = q->threads == 1 ? 1 : q->threads * kSlotsPerThread;
  for (std::uint32_t i = 0; i < q->slotCount; ++i) {
    q->slots[i].grain = static_cast<std::uint8_t*>(EngineAlloc(kRecordGrainBytes));
    q->slots[i].record = static_cast<std::uint8_t*>(EngineAlloc(kRecordBytes));
    if (q->slots[i].grain == nullptr || q->slots[i].record == nullptr) return DISK_E_NOMEM;
  }
  // Every deflate state is set up here, so that the workers take no memory.
  for (std::uint32_t i = 0; i < q->threads; ++i) QVT_DISK_TRY(GrainDeflaterInit(&q->deflaters[i]));
  for (std::uint32_t i = 1; i < q->threads; ++i) {
    // The system may refuse a thread (std::system_error) or its memory; the
    // grains are then deflated by the threads there are.
    try {
      q->workers[i - 1] = std::thread(&Work, q, &q->deflaters[i]);
    } catch (...) {
      break;
    }
  }
  return DISK_OK;
}

void RecordQueueHandIn(RecordQueue* q, std::uint64_t lba) {
  q->slots[q->in % q->slotCount].lba = lba;
  {
    std::lock_guard<std::mutex> hold(q->lock);
    ++q->in;
  }
  q->handedIn.notify_one();
}

DiskResult RecordQueueTake(RecordQueue* q, const std::uint8_t** record, std::uint32_t* recordBytes,
                           std::uint64_t* lba) {
  if (RecordQueueEmpty(*q)) return DISK_E_LIMIT;
  RecordSlot& slot = q->slots[q->taken % q->slotCount];
  {
    std::unique_lock<std::mutex> hold(q->lock);
    while (!slot.deflated) {
      // Rather than wait, help: the oldest grain still waiting, which is
      // this one when no worker has begun it.
      if (q->started < q->in) {
        DeflateNext(q, &q->deflaters[0], &hold);
      } else {
        q->deflated.wait(hold);
      }
    }
    slot.deflated = false;
  }
  ++q->taken;
  *record = slot.record;
  *recordBytes = slot.recordBytes;
  *lba = slot.lba;
  return slot.result;
}

}  // namespace qvt
