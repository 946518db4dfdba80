// Compressed grain records made on several threads at once. The extent
// writer hands grains in in disk order; worker threads, each with its own
// deflate state, and the writer's own thread while it waits deflate them;
// the writer takes the records back in the order it handed the grains in.
// Every grain is deflated alone from a reset state at the same level, so the
// records (and the file) are the ones a single thread makes. Only a few
// grains are in flight at a time.
#ifndef QVT_ENGINE_VMDK_SPARSERECORDQUEUE_H
#define QVT_ENGINE_VMDK_SPARSERECORDQUEUE_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "DiskResult.h"
#include "SparseGrain.h"
#include "SparseLayout.h"

namespace qvt {

// Grains handed in are the writer's: kEngineGrainSectors sectors.
constexpr std::uint32_t kRecordGrainBytes = kEngineGrainSectors * 512;
// A record (head, zlib stream, padding) must fit here; a grain whose stream
// does not is DISK_E_LIMIT (level 1 grows incompressible data by far less).
constexpr std::uint32_t kRecordBytes = 128 * 1024;
constexpr std::uint32_t kMaxDeflateThreads = 8;
// Grains in flight per deflating thread: enough that a worker finds its next
// grain ready while the writer writes records and reads the source.
constexpr std::uint32_t kSlotsPerThread = 4;

// One grain in flight and its record.
struct RecordSlot {
  std::uint8_t* grain = nullptr;   // kRecordGrainBytes of source sectors
  std::uint8_t* record = nullptr;  // kRecordBytes: head, zlib stream, zeros to a whole sector
  std::uint64_t lba = 0;           // the grain's first sector within the extent
  std::uint32_t recordBytes = 0;   // whole sectors
  DiskResult result = DISK_OK;     // of the deflate
  bool deflated = false;
};

// The slots form a ring: grain number n (counted from the start) lies in
// slot n % slotCount. Grains [taken, in) are held: waiting, being deflated,
// or deflated and not yet taken. Only the writer's thread hands in and
// takes, and only it touches `in` and `taken` outside the lock. The
// destructor stops the workers (each finishes the grain it holds), joins
// them, and frees every slot and deflate state.
struct RecordQueue {
  std::uint32_t threads = 0;  // deflating threads, the writer's own included
  std::uint32_t slotCount = 0;
  RecordSlot slots[kMaxDeflateThreads * kSlotsPerThread];
  GrainDeflater deflaters[kMaxDeflateThreads];  // [0] is the writer thread's
  std::thread workers[kMaxDeflateThreads - 1];
  std::mutex lock;
  std::condition_variable handedIn;  // a grain came in, or the queue stops
  std::condition_variable deflated;  // a record is ready
  std::uint64_t in = 0;              // grains handed in
  std::uint64_t started = 0;         // grains a thread has begun to deflate (under the lock)
  std::uint64_t taken = 0;           // records taken back
  bool stopping = false;             // under the lock

  RecordQueue() = default;
  ~RecordQueue();
  RecordQueue(const RecordQueue&) = delete;
  RecordQueue& operator=(const RecordQueue&) = delete;
};

// Sets up `threads` deflating threads, the caller's own included (0: one per
// processor; at most kMaxDeflateThreads). One thread gets one slot, so the
// writer reads, deflates and writes grain by grain. A worker the system will
// not start leaves its share to the others. DISK_E_NOMEM when the heap
// refuses a slot or a deflate state.
DiskResult RecordQueueStart(RecordQueue* queue, std::uint32_t threads);

// Every slot holds a grain whose record was not taken yet.
inline bool RecordQueueFull(const RecordQueue& q) { return q.in - q.taken == q.slotCount; }
inline bool RecordQueueEmpty(const RecordQueue& q) { return q.in == q.taken; }

// Where the next grain goes; to be filled, then handed in. Only when not full.
inline std::uint8_t* RecordQueueNextGrain(RecordQueue* q) {
  return q->slots[q->in % q->slotCount].grain;
}
// Hands in the grain filled at RecordQueueNextGrain; `lba` is its first
// sector within the extent, for the record's head.
void RecordQueueHandIn(RecordQueue* queue, std::uint64_t lba);

// Waits for the record of the oldest grain not taken yet, deflating waiting
// grains on the calling thread meanwhile. `record` stays valid until the
// next hand-in. Returns that grain's deflate result (as GrainDeflate);
// DISK_E_LIMIT on an empty queue.
DiskResult RecordQueueTake(RecordQueue* queue, const std::uint8_t** record,
                           std::uint32_t* recordBytes, std::uint64_t* lba);

}  // namespace qvt

#endif
