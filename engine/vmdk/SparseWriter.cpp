// Writing a whole new sparse extent from a source in one pass: the plain
// layout (redundant GD and GD with all their GTs at the front) or the
// stream-optimized one (compressed grains, each GT behind its grains, the GD
// and a footer at the end). Compressed grains are deflated by the record
// queue, on several threads, and written in disk order as they come back.
#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "FileLayer.h"
#include "Heap.h"
#include "SparseCommon.h"
#include "SparseExtent.h"
#include "SparseLayout.h"
#include "SparseRecordQueue.h"

namespace qvt {
namespace {

constexpr std::uint32_t kGrainBytes = kEngineGrainSectors * 512;
constexpr std::uint64_t kSectorsPerGt = kEngineGrainSectors * kGtesPerGt;
// Zeros are written in chunks of this size.
constexpr std::uint32_t kZeroChunkBytes = kGrainBytes;

// Everything one write pass holds; the destructor releases it on every path.
struct Writer {
  const ExtentSource& source;
  const SparseWriteRequest& request;
  SparseHeader header{};
  std::uint32_t numGts = 0;
  std::uint32_t gdSectors = 0;
  FileStream file{};
  std::uint8_t* gd = nullptr;     // gdSectors sectors, entries little-endian
  std::uint8_t* gt = nullptr;     // one GT, little-endian
  std::uint8_t* grain = nullptr;  // one grain of source sectors (uncompressed only)
  std::uint8_t* zeros = nullptr;  // kZeroChunkBytes of zeros
  RecordQueue records;            // compressed only: the grains in flight, the workers
  std::uint64_t nextFree = 0;

  Writer(const ExtentSource& s, const SparseWriteRequest& r) : source(s), request(r) {}
  ~Writer() {
    StreamClose(&file);
    EngineFree(gd);
    EngineFree(gt);
    EngineFree(grain);
    EngineFree(zeros);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  bool compressed() const { return request.compressed || request.streamOptimized; }
};

DiskResult CheckRequest(const SparseWriteRequest& r) {
  // Markers without compression is no layout this engine writes.
  if (r.streamOptimized && !r.compressed) return DISK_E_LIMIT;
  if (r.descriptor != nullptr) {
    if (r.descriptorSectors == 0 || r.descriptorSectors > kMaxDescriptorSectors ||
        r.descriptor->length > static_cast<std::uint64_t>(r.descriptorSectors) * 512 ||
        (r.descriptor->length != 0 && r.descriptor->data == nullptr)) {
      return DISK_E_LIMIT;
    }
  } else if (r.descriptorSectors != 0) {
    return DISK_E_LIMIT;
  }
  if (r.sectors > UINT32_MAX - r.firstSourceSector) return DISK_E_LIMIT;
  return DISK_OK;
}

DiskResult Allocate(Writer* w) {
  w->gd = static_cast<std::uint8_t*>(EngineAlloc(static_cast<std::size_t>(w->gdSectors) * 512));
  w->gt = static_cast<std::uint8_t*>(EngineAlloc(kGtBytes));
  w->zeros = static_cast<std::uint8_t*>(EngineAlloc(kZeroChunkBytes));
  if (w->gd == nullptr || w->gt == nullptr || w->zeros == nullptr) return DISK_E_NOMEM;
  std::memset(w->gd, 0, static_cast<std::size_t>(w->gdSectors) * 512);
  std::memset(w->zeros, 0, kZeroChunkBytes);
  if (w->compressed()) return RecordQueueStart(&w->records, w->request.deflateThreads);
  w->grain = static_cast<std::uint8_t*>(EngineAlloc(kGrainBytes));
  return w->grain == nullptr ? DISK_E_NOMEM : DISK_OK;
}

DiskResult Write(Writer* w, std::uint64_t sector, std::uint64_t bytes, const void* data,
                 DiskResult failure) {
  return StreamWrite(&w->file, sector * kSectorBytes, static_cast<std::uint32_t>(bytes), data)
             ? DISK_OK
             : failure;
}

DiskResult WriteZeros(Writer* w, std::uint64_t from, std::uint64_t to) {
  for (std::uint64_t s = from; s < to;) {
    const std::uint64_t n = std::min<std::uint64_t>(to - s, kZeroChunkBytes / kSectorBytes);
    QVT_DISK_TRY(Write(w, s, n * kSectorBytes, w->zeros, DISK_E_WRITE));
    s += n;
  }
  return DISK_OK;
}

// The GD whose GT i lies at tables + gdSectors + 4 i.
void FillGd(Writer* w, std::uint64_t tables) {
  for (std::uint32_t i = 0; i < w->numGts; ++i) {
    WriteLE32(w->gd + 4 * static_cast<std::size_t>(i),
              static_cast<std::uint32_t>(tables + w->gdSectors + kGtSectors * i));
  }
}

DiskResult WriteFront(Writer* w) {
  std::uint8_t sector[kSparseHeaderBytes];
  EncodeSparseHeader(w->header, sector);
  QVT_DISK_TRY(Write(w, 0, kSectorBytes, sector, DISK_E_WRITE));
  const std::uint64_t descriptorSectors = w->request.descriptorSectors;
  if (w->request.descriptor != nullptr) {
    // Whole sectors, zero-padded, written one at a time from a zeroed sector.
    const TextView text = *w->request.descriptor;
    for (std::uint64_t s = 0; s < descriptorSectors; ++s) {
      std::memset(sector, 0, kSectorBytes);
      const std::uint64_t at = s * kSectorBytes;
      if (at < text.length) {
        std::memcpy(
            sector, text.data + at,
            static_cast<std::size_t>(std::min<std::uint64_t>(kSectorBytes, text.length - at)));
      }
      QVT_DISK_TRY(Write(w, 1 + s, kSectorBytes, sector, DISK_E_WRITE));
    }
  }
  QVT_DISK_TRY(WriteZeros(w, 1 + descriptorSectors, w->header.overHead));
  if (w->request.streamOptimized) return DISK_OK;
  const std::uint64_t gdBytes = static_cast<std::uint64_t>(w->gdSectors) * kSectorBytes;
  FillGd(w, w->header.rgdOffset);
  if (gdBytes != 0) QVT_DISK_TRY(Write(w, w->header.rgdOffset, gdBytes, w->gd, DISK_E_WRITE));
  FillGd(w, w->header.gdOffset);
  if (gdBytes != 0) QVT_DISK_TRY(Write(w, w->header.gdOffset, gdBytes, w->gd, DISK_E_WRITE));
  return DISK_OK;
}

// Is [first, first + count) of the source (its own disk's sectors) to be skipped?
DiskResult SourceIsEmpty(Writer* w, std::uint32_t first, std::uint32_t count, bool* empty) {
  if (w->request.ownAllocationOnly)
    return w->source.isAbsent(w->source.context, first, count, empty);
  return w->source.isEmpty(w->source.context, w->request.map, first, count, empty);
}

DiskResult Report(const Writer& w, std::uint64_t extentSector) {
  const auto done = static_cast<std::uint32_t>(w.request.firstSourceSector + extentSector);
  return ReportProgress(w.request.progress, w.request.progressContext, done,
                        w.request.progressTotal)
             ? DISK_OK
             : DISK_CANCELLED;
}

// Grain `first` of the range starting at `rangeFirst` went to file sector
// `gte`.
DiskResult GrainWritten(Writer* w, std::uint64_t rangeFirst, std::uint64_t first,
                        std::uint32_t gte) {
  WriteLE32(w->gt + 4 * ((first - rangeFirst) / kEngineGrainSectors), gte);
  return Report(*w, std::min<std::uint64_t>(first + kEngineGrainSectors, w->request.sectors));
}

// Writes the oldest record the queue holds at the file's end.
DiskResult WriteOldestRecord(Writer* w, std::uint64_t rangeFirst) {
  // GTEs are 32-bit sectors.
  if (w->nextFree > UINT32_MAX) return DISK_E_LIMIT;
  const std::uint8_t* record = nullptr;
  std::uint32_t bytes = 0;
  std::uint64_t first = 0;
  QVT_DISK_TRY(RecordQueueTake(&w->records, &record, &bytes, &first));
  const auto gte = static_cast<std::uint32_t>(w->nextFree);
  QVT_DISK_TRY(Write(w, w->nextFree, bytes, record, DISK_E_GRAIN_WRITE));
  w->nextFree += bytes / kSectorBytes;
  return GrainWritten(w, rangeFirst, first, gte);
}

DiskResult WriteAllRecords(Writer* w, std::uint64_t rangeFirst) {
  while (!RecordQueueEmpty(w->records)) QVT_DISK_TRY(WriteOldestRecord(w, rangeFirst));
  return DISK_OK;
}

// Grain [first, first + count) of the extent, unless the source has nothing
// there: read and handed to the record queue, or, uncompressed, written at
// the file's end at once.
DiskResult CopyGrain(Writer* w, std::uint64_t rangeFirst, std::uint64_t first,
                     std::uint32_t count) {
  const std::uint32_t base = w->request.firstSourceSector;
  bool empty = false;
  QVT_DISK_TRY(SourceIsEmpty(w, static_cast<std::uint32_t>(base + first), count, &empty));
  if (empty) return DISK_OK;
  std::uint8_t* grain = w->compressed() ? RecordQueueNextGrain(&w->records) : w->grain;
  QVT_DISK_TRY(
      w->source.read(w->source.context, (base + first) * kSectorBytes, count * 512, grain));
  std::memset(grain + count * 512, 0, kGrainBytes - count * 512);
  if (w->compressed()) {
    RecordQueueHandIn(&w->records, first);
    return DISK_OK;
  }
  if (w->nextFree > UINT32_MAX) return DISK_E_LIMIT;
  const auto gte = static_cast<std::uint32_t>(w->nextFree);
  QVT_DISK_TRY(Write(w, w->nextFree, kGrainBytes, grain, DISK_E_GRAIN_WRITE));
  w->nextFree += kEngineGrainSectors;
  return GrainWritten(w, rangeFirst, first, gte);
}

// The grains of [rangeFirst, rangeEnd) that hold data, in order, their GTEs
// in w->gt. Records are written as the queue fills and all before the range
// ends, so the file gets the same writes in the same order as when each
// grain is deflated right before its write.
DiskResult WriteGrains(Writer* w, std::uint64_t rangeFirst, std::uint64_t rangeEnd) {
  for (std::uint64_t first = rangeFirst; first < rangeEnd; first += kEngineGrainSectors) {
    if (w->compressed() && RecordQueueFull(w->records)) {
      QVT_DISK_TRY(WriteOldestRecord(w, rangeFirst));
    }
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kEngineGrainSectors, rangeEnd - first));
    const DiskResult copied = CopyGrain(w, rangeFirst, first, count);
    if (copied != DISK_OK) {
      // The grains before a failed read still go out first, and a failure
      // or stop among them is the one to report.
      QVT_DISK_TRY(WriteAllRecords(w, rangeFirst));
      return copied;
    }
  }
  return WriteAllRecords(w, rangeFirst);
}

DiskResult WriteMarker(Writer* w, std::uint64_t value, std::uint32_t type) {
  std::uint8_t sector[kSparseHeaderBytes];
  EncodeSparseMarker(SparseMarker{value, 0, type}, sector);
  QVT_DISK_TRY(Write(w, w->nextFree, kSectorBytes, sector, DISK_E_WRITE));
  w->nextFree += 1;
  return DISK_OK;
}

DiskResult WriteGt(Writer* w, std::uint32_t g) {
  if (!w->request.streamOptimized) {
    const std::uint64_t rgt = w->header.rgdOffset + w->gdSectors + kGtSectors * g;
    const std::uint64_t gt = w->header.gdOffset + w->gdSectors + kGtSectors * g;
    QVT_DISK_TRY(Write(w, rgt, kGtBytes, w->gt, DISK_E_GRAIN_WRITE));
    return Write(w, gt, kGtBytes, w->gt, DISK_E_GRAIN_WRITE);
  }
  QVT_DISK_TRY(WriteMarker(w, kGtSectors, MARKER_GT));
  if (w->nextFree > UINT32_MAX) return DISK_E_LIMIT;
  WriteLE32(w->gd + 4 * static_cast<std::size_t>(g), static_cast<std::uint32_t>(w->nextFree));
  QVT_DISK_TRY(Write(w, w->nextFree, kGtBytes, w->gt, DISK_E_GRAIN_WRITE));
  w->nextFree += kGtSectors;
  return DISK_OK;
}

// GT range g: its grains in order, then its GT.
DiskResult WriteRange(Writer* w, std::uint32_t g) {
  const std::uint64_t rangeFirst = g * kSectorsPerGt;
  const std::uint64_t rangeEnd =
      std::min<std::uint64_t>(rangeFirst + kSectorsPerGt, w->request.sectors);
  bool empty = false;
  QVT_DISK_TRY(SourceIsEmpty(w,
                             static_cast<std::uint32_t>(w->request.firstSourceSector + rangeFirst),
                             static_cast<std::uint32_t>(rangeEnd - rangeFirst), &empty));
  if (empty) return Report(*w, rangeEnd);
  std::memset(w->gt, 0, kGtBytes);
  QVT_DISK_TRY(WriteGrains(w, rangeFirst, rangeEnd));
  // A range whose grains all turned out empty (no GTE set: a grain never
  // lies at sector 0) keeps its zero GT (plain) or has none (stream-optimized).
  if (!BytesAreZero(w->gt, kGtBytes)) QVT_DISK_TRY(WriteGt(w, g));
  return Report(*w, rangeEnd);
}

DiskResult WriteTail(Writer* w) {
  if (w->request.streamOptimized) {
    QVT_DISK_TRY(WriteMarker(w, w->gdSectors, MARKER_GD));
    const std::uint64_t gdSector = w->nextFree;
    if (w->gdSectors != 0) {
      QVT_DISK_TRY(Write(w, gdSector, static_cast<std::uint64_t>(w->gdSectors) * kSectorBytes,
                         w->gd, DISK_E_WRITE));
    }
    w->nextFree += w->gdSectors;
    QVT_DISK_TRY(WriteMarker(w, 1, MARKER_FOOTER));
    SparseHeader footer = w->header;
    footer.gdOffset = gdSector;
    std::uint8_t sector[kSparseHeaderBytes];
    EncodeSparseHeader(footer, sector);
    QVT_DISK_TRY(Write(w, w->nextFree, kSectorBytes, sector, DISK_E_WRITE));
    w->nextFree += 1;
    return WriteMarker(w, 0, MARKER_EOS);
  }
  if (w->request.compressed) return WriteMarker(w, 0, MARKER_EOS);
  return DISK_OK;
}

DiskResult WritePass(Writer* w, const char* path) {
  const SparseWriteRequest& r = w->request;
  QVT_DISK_TRY(CheckRequest(r));
  const std::uint32_t descriptorSectors = r.descriptor != nullptr ? r.descriptorSectors : 0;
  w->header = SparseNewHeader(r.sectors, descriptorSectors, r.hwVersionIndex, r.compressed,
                              r.streamOptimized);
  w->numGts = static_cast<std::uint32_t>(SparseNumGts(r.sectors, kEngineGrainSectors));
  w->gdSectors = static_cast<std::uint32_t>(SparseGdSectors(w->numGts));
  QVT_DISK_TRY(Allocate(w));
  if (!FsCreate(path, &w->file)) return DISK_E_CREATE;
  QVT_DISK_TRY(WriteFront(w));
  w->nextFree = w->header.overHead;
  for (std::uint32_t g = 0; g < w->numGts; ++g) QVT_DISK_TRY(WriteRange(w, g));
  return WriteTail(w);
}

}  // namespace

DiskResult SparseWriteExtentFrom(const char* path, const ExtentSource& source,
                                 const SparseWriteRequest& request) {
  Writer writer(source, request);
  return WritePass(&writer, path);
}

DiskResult SparseWriteExtent(const char* path, ImageHandle* source,
                             const SparseWriteRequest& request) {
  return SparseWriteExtentFrom(path, ImageExtentSource(source), request);
}

}  // namespace qvt
