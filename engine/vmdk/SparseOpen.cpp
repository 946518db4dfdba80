// Opening and closing sparse extents, and the grain tables they read.
#include <cstring>

#include "ByteOrder.h"
#include "FileLayer.h"
#include "Heap.h"
#include "SparseCommon.h"
#include "SparseExtent.h"
#include "SparseLayout.h"
#include "SparseTables.h"

namespace qvt {
namespace {

// Turns the on-disk little-endian entries in place into host order.
void DecodeEntries(std::uint32_t* entries, std::size_t count) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(entries);
  for (std::size_t i = 0; i < count; ++i) entries[i] = ReadLE32(bytes + 4 * i);
}

std::uint32_t* AllocEntries(std::uint64_t count) {
  return static_cast<std::uint32_t*>(EngineAlloc(static_cast<std::size_t>(count) * 4));
}

// Is one entry usable? 0 always is. Otherwise it must be a multiple of the
// grain (any value for compressed records) and lie below the file's end. A
// writable extent also wants it at or beyond overHead, so that a grain
// written in place can never land on the tables. Beyond the end is
// DISK_E_FORMAT at once for a writable extent: its next grain would go where
// the other copy's grain might lie.
DiskResult CheckEntry(const SparseExtent& e, std::uint32_t value, bool* valid) {
  *valid = true;
  if (value == 0) return DISK_OK;
  if (!e.compressed && value % e.grainSectors != 0) {
    *valid = false;
  } else if (!e.readOnly && !e.compressed && value < e.header.overHead) {
    *valid = false;
  } else if (value >= e.fileSectors) {
    if (!e.readOnly) return DISK_E_FORMAT;
    *valid = false;
  }
  return DISK_OK;
}

// A GTE of 1 marks a grain some writers leave unallocated on purpose; it reads
// as not allocated.
std::uint32_t Normalize(std::uint32_t value) { return value == 1 ? 0 : value; }

DiskResult ReconcileEntry(const SparseExtent& e, std::uint32_t primary, std::uint32_t redundant,
                          std::uint32_t* result) {
  bool primaryValid = false;
  bool redundantValid = false;
  QVT_DISK_TRY(CheckEntry(e, primary, &primaryValid));
  QVT_DISK_TRY(CheckEntry(e, redundant, &redundantValid));
  if (primary == redundant) {
    if (!primaryValid) return DISK_E_FORMAT;
    *result = primary;
  } else if (primaryValid && !redundantValid) {
    *result = primary;
  } else if (!primaryValid && redundantValid) {
    *result = redundant;
  } else if (primaryValid && redundantValid) {
    // One copy may have missed the update that allocated the grain.
    if (primary != 0 && redundant != 0) return DISK_E_FORMAT;
    *result = primary != 0 ? primary : redundant;
  } else {
    return DISK_E_FORMAT;
  }
  return DISK_OK;
}

DiskResult LoadGtInto(SparseExtent* e, std::uint32_t index) {
  const bool redundant = e->rgd != nullptr;
  if (e->gd[index] == 0 || (redundant && e->rgd[index] == 0)) return DISK_E_READ;
  if (!StreamRead(&e->stream, e->gd[index] * kSectorBytes, kGtBytes, e->gt)) return DISK_E_READ;
  DecodeEntries(e->gt, kGtesPerGt);
  if (redundant) {
    if (!StreamRead(&e->stream, e->rgd[index] * kSectorBytes, kGtBytes, e->rgt)) return DISK_E_READ;
    DecodeEntries(e->rgt, kGtesPerGt);
  }
  for (std::uint32_t j = 0; j < kGtesPerGt; ++j) {
    const std::uint32_t primary = Normalize(e->gt[j]);
    if (!redundant) {
      bool valid = false;
      QVT_DISK_TRY(CheckEntry(*e, primary, &valid));
      if (!valid) return DISK_E_FORMAT;
      e->gt[j] = primary;
      continue;
    }
    std::uint32_t value = 0;
    QVT_DISK_TRY(ReconcileEntry(*e, primary, Normalize(e->rgt[j]), &value));
    e->gt[j] = value;
    e->rgt[j] = value;
  }
  return DISK_OK;
}

// Reads a GD of `numGts` entries at `sector`, which must lie within the file
// of `fileBytes` bytes, before any memory is taken for it.
DiskResult ReadGd(SparseExtent* e, std::uint64_t sector, std::uint64_t fileBytes,
                  std::uint32_t** out) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(e->numGts) * 4;
  if (bytes > fileBytes || sector > fileBytes / kSectorBytes ||
      sector * kSectorBytes > fileBytes - bytes) {
    return DISK_E_FORMAT;
  }
  *out = AllocEntries(e->numGts);
  if (*out == nullptr) return DISK_E_NOMEM;
  if (bytes != 0 &&
      !StreamRead(&e->stream, sector * kSectorBytes, static_cast<std::uint32_t>(bytes), *out)) {
    return DISK_E_READ;
  }
  DecodeEntries(*out, e->numGts);
  return DISK_OK;
}

// A stream-optimized extent keeps its GD at the end: end-of-stream marker in
// the last sector, the footer before it, the footer marker before that, and
// the GD (with its marker) in front of the footer marker.
DiskResult FindFooterGd(SparseExtent* e, std::uint64_t fileBytes, std::uint64_t* gdSector) {
  if (fileBytes % kSectorBytes != 0 || fileBytes < 3 * kSectorBytes) return DISK_E_FORMAT;
  std::uint8_t marker[kMarkerBytes];
  if (!StreamRead(&e->stream, fileBytes - kSectorBytes, kMarkerBytes, marker)) return DISK_E_READ;
  if (!BytesAreZero(marker, kMarkerBytes)) return DISK_E_FORMAT;
  const std::uint64_t footerMarker = fileBytes / kSectorBytes - 3;
  if (!StreamRead(&e->stream, footerMarker * kSectorBytes, kMarkerBytes, marker)) {
    return DISK_E_READ;
  }
  if (!SparseMarkerIs(marker, 1, MARKER_FOOTER)) return DISK_E_FORMAT;
  const std::uint64_t gdSectors = SparseGdSectors(e->numGts);
  if (footerMarker < gdSectors + 1) return DISK_E_FORMAT;
  const std::uint64_t gdMarker = footerMarker - (gdSectors + 1);
  if (!StreamRead(&e->stream, gdMarker * kSectorBytes, kMarkerBytes, marker)) return DISK_E_READ;
  if (!SparseMarkerIs(marker, gdSectors, MARKER_GD) && !BytesAreZero(marker, kMarkerBytes)) {
    return DISK_E_FORMAT;
  }
  *gdSector = gdMarker + 1;
  return DISK_OK;
}

DiskResult OpenInto(SparseExtent* e, ExtentOpenFn open, void* openContext, const char* path,
                    bool readOnly, bool splitLayout, ProgressFn progress, void* progressContext) {
  const int opened = open(openContext, path, readOnly, &e->stream);
  // Whatever the answer, SparseOpen closes a stream left open on failure.
  if (opened == 1) return DISK_CANCELLED;
  if (opened != 0 || !StreamIsOpen(e->stream)) return DISK_E_OPEN;

  std::uint8_t sector[kSparseHeaderBytes] = {};
  if (!StreamRead(&e->stream, 0, kSparseHeaderFieldBytes, sector)) return DISK_E_READ;
  if (!ParseSparseHeader(sector, sizeof sector, &e->header)) return DISK_E_FORMAT;
  // A single-file disk keeps its descriptor at sector 1. qemu-img gives the
  // extents of split disks an empty descriptor area too, so a split layout
  // takes either form: its own descriptor is a file of its own.
  if (!splitLayout && e->header.descriptorOffset != 1) return DISK_E_FORMAT;
  // The grain size is used as a 32-bit value and sizes every grain buffer.
  if (e->header.grainSize == 0 || e->header.grainSize > kMaxGrainSectors) return DISK_E_FORMAT;
  e->grainSectors = static_cast<std::uint32_t>(e->header.grainSize);
  e->compressed = (e->header.flags & kSparseFlagCompressed) != 0;
  // At most 2^32 - 1 sectors, so at most 2^23 GTs even for one-sector grains.
  e->numGts = static_cast<std::uint32_t>(SparseNumGts(e->sectors, e->grainSectors));

  std::uint64_t fileBytes = 0;
  if (!StreamSize(&e->stream, &fileBytes)) return DISK_E_SIZE;
  e->fileSectors = fileBytes / kSectorBytes;

  e->gdOffset = e->header.gdOffset;
  if (e->gdOffset == kGdAtEnd) QVT_DISK_TRY(FindFooterGd(e, fileBytes, &e->gdOffset));
  QVT_DISK_TRY(ReadGd(e, e->gdOffset, fileBytes, &e->gd));
  if (e->header.rgdOffset != 0) QVT_DISK_TRY(ReadGd(e, e->header.rgdOffset, fileBytes, &e->rgd));

  const std::uint64_t grainBytes = SparseGrainBytes(*e);
  e->gt = AllocEntries(kGtesPerGt);
  if (e->gt == nullptr) return DISK_E_NOMEM;
  if (e->rgd != nullptr) {
    e->rgt = AllocEntries(kGtesPerGt);
    if (e->rgt == nullptr) return DISK_E_NOMEM;
  }
  e->grain = static_cast<std::uint8_t*>(EngineAlloc(static_cast<std::size_t>(grainBytes)));
  if (e->grain == nullptr) return DISK_E_NOMEM;
  if (e->compressed) {
    e->compressedData =
        static_cast<std::uint8_t*>(EngineAlloc(static_cast<std::size_t>(2 * grainBytes)));
    if (e->compressedData == nullptr) return DISK_E_NOMEM;
  }

  if (progress != nullptr && !progress(0, e->numGts, progressContext)) return DISK_CANCELLED;

  std::uint32_t largest = 0;
  if (readOnly) {
    if (e->numGts > 0 && e->gd[0] != 0) QVT_DISK_TRY(SparseLoadGt(e, 0));
  } else {
    for (std::uint32_t i = e->numGts; i-- > 0;) {
      if (progress != nullptr && !progress(e->numGts - i, e->numGts, progressContext)) {
        return DISK_CANCELLED;
      }
      if (e->rgd == nullptr && e->gd[i] == 0) continue;
      QVT_DISK_TRY(SparseLoadGt(e, i));
      for (std::uint32_t j = 0; j < kGtesPerGt; ++j) {
        if (e->gt[j] > largest) largest = e->gt[j];
      }
    }
    if (progress != nullptr && !progress(e->numGts, e->numGts, progressContext)) {
      return DISK_CANCELLED;
    }
  }

  if (!readOnly && !e->compressed) {
    // Grains are appended at the end, so the end must be exactly behind the
    // last grain: anything else would be overwritten or left dangling.
    const std::uint64_t nextFree =
        largest != 0 ? static_cast<std::uint64_t>(largest) + e->grainSectors : e->header.overHead;
    if (nextFree == 0 || nextFree > fileBytes / kSectorBytes ||
        nextFree * kSectorBytes != fileBytes) {
      return DISK_E_FORMAT;
    }
    e->nextFree = nextFree;
  }

  if (!PathAssign(&e->path, path, ENC_SHIFT_JIS)) return DISK_E_LIMIT;
  return DISK_OK;
}

}  // namespace

int ExtentOpenPlain(void*, const char* path, bool readOnly, FileStream* out) {
  return FsOpen(path, readOnly, out) ? 0 : -1;
}

bool SparseBytesFit(const SparseExtent& extent, std::uint64_t offset, std::uint64_t length) {
  const std::uint64_t end = extent.sectors * kSectorBytes;
  return offset <= end && length <= end - offset;
}

DiskResult SparseLoadGt(SparseExtent* extent, std::uint32_t index) {
  if (extent->gtIndex == index) return DISK_OK;
  // The buffer is half overwritten if anything below fails.
  extent->gtIndex = kNoGt;
  QVT_DISK_TRY(LoadGtInto(extent, index));
  extent->gtIndex = index;
  return DISK_OK;
}

DiskResult SparseLookupGte(SparseExtent* extent, std::uint64_t grain, std::uint32_t* gte,
                           bool* hasGt) {
  const auto index = static_cast<std::uint32_t>(grain / kGtesPerGt);
  *gte = 0;
  *hasGt = extent->gd[index] != 0;
  if (!*hasGt) return DISK_OK;
  QVT_DISK_TRY(SparseLoadGt(extent, index));
  *gte = extent->gt[grain % kGtesPerGt];
  return DISK_OK;
}

DiskResult SparseOpen(SparseExtent* extent, ExtentOpenFn open, void* openContext, const char* path,
                      bool readOnly, bool splitLayout, ImageHandle* parent,
                      std::uint64_t firstSector, std::uint64_t sectors, ProgressFn progress,
                      void* progressContext) {
  SparseClose(extent);
  // The descriptor gives extent sizes as 32-bit counts; the disk is no larger.
  if (sectors > UINT32_MAX || firstSector > UINT32_MAX - sectors) return DISK_E_LIMIT;
  extent->sectors = sectors;
  extent->firstSector = firstSector;
  extent->parent = parent;
  extent->readOnly = readOnly;
  const DiskResult result =
      OpenInto(extent, open, openContext, path, readOnly, splitLayout, progress, progressContext);
  if (result != DISK_OK) SparseClose(extent);
  return result;
}

void SparseClose(SparseExtent* extent) {
  StreamClose(&extent->stream);
  EngineFree(extent->gd);
  EngineFree(extent->rgd);
  EngineFree(extent->gt);
  EngineFree(extent->rgt);
  EngineFree(extent->compressedData);
  EngineFree(extent->grain);
  extent->header = SparseHeader{};
  extent->sectors = 0;
  extent->grainSectors = 0;
  extent->compressed = false;
  extent->numGts = 0;
  extent->gdOffset = 0;
  extent->gd = nullptr;
  extent->rgd = nullptr;
  extent->gt = nullptr;
  extent->rgt = nullptr;
  extent->gtIndex = kNoGt;
  extent->readOnly = true;
  extent->fileSectors = 0;
  extent->nextFree = 0;
  extent->parent = nullptr;
  extent->firstSector = 0;
  extent->compressedData = nullptr;
  extent->grain = nullptr;
  extent->grainIndex = kNoGrain;
  extent->path = PathBuffer();
}

}  // namespace qvt
