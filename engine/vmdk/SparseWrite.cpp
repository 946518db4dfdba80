// Single writes into a writable sparse extent: in place where a grain exists,
// else a new grain appended at the file's end and entered in both GT copies.
#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "SparseCommon.h"
#include "SparseExtent.h"
#include "SparseLayout.h"
#include "SparseTables.h"

namespace qvt {
namespace {

// Grain `grain` has no GTE yet: build it whole (the parent's sectors or
// zeros, with the new bytes), append it and enter it in GT `index`.
DiskResult AllocateGrain(SparseExtent* e, std::uint64_t grain, std::uint32_t index,
                         std::uint64_t within, std::uint32_t piece, const std::uint8_t* data) {
  const std::uint64_t grainBytes = SparseGrainBytes(*e);
  const std::uint64_t grainFirst = grain * e->grainSectors;
  if (e->parent != nullptr) {
    // Only the part of the grain that lies within the extent comes from the
    // parent: a last grain reaching past the disk's end would be a range the
    // parent refuses.
    const std::uint64_t inExtent =
        std::min<std::uint64_t>(grainBytes, (e->sectors - grainFirst) * kSectorBytes);
    const DiskResult r = ImageRead(e->parent, (e->firstSector + grainFirst) * kSectorBytes,
                                   static_cast<std::uint32_t>(inExtent), e->grain);
    if (r != DISK_OK) return r;
    std::memset(e->grain + inExtent, 0, static_cast<std::size_t>(grainBytes - inExtent));
    if (std::memcmp(e->grain + within, data, piece) == 0) return DISK_OK;
  } else {
    if (BytesAreZero(data, piece)) return DISK_OK;
    std::memset(e->grain, 0, static_cast<std::size_t>(grainBytes));
  }
  std::memcpy(e->grain + within, data, piece);

  // GTEs are 32-bit sectors.
  if (e->nextFree > UINT32_MAX) return DISK_E_LIMIT;
  const auto sector = static_cast<std::uint32_t>(e->nextFree);
  if (!StreamWrite(&e->stream, e->nextFree * kSectorBytes, static_cast<std::uint32_t>(grainBytes),
                   e->grain)) {
    return DISK_E_GRAIN_WRITE;
  }
  // The file now ends behind the grain, whatever happens to the tables.
  e->nextFree += e->grainSectors;
  e->fileSectors = e->nextFree;

  // The grain is on disk before any table points at it.
  const std::uint32_t entry = static_cast<std::uint32_t>(grain % kGtesPerGt);
  std::uint8_t bytes[4];
  WriteLE32(bytes, sector);
  if (!StreamWrite(&e->stream, e->gd[index] * kSectorBytes + 4 * entry, 4, bytes)) {
    return DISK_E_GRAIN_WRITE;
  }
  e->gt[entry] = sector;
  if (e->rgd != nullptr) {
    e->rgt[entry] = sector;
    // The primary copy already names the grain; an open repairs this copy
    // from it, so memory keeps the new entry even when this write fails.
    if (!StreamWrite(&e->stream, e->rgd[index] * kSectorBytes + 4 * entry, 4, bytes)) {
      return DISK_E_GRAIN_WRITE;
    }
  }
  return DISK_OK;
}

}  // namespace

DiskResult SparseWrite(SparseExtent* e, std::uint64_t offset, std::uint32_t length,
                       const void* data) {
  if (e->readOnly || e->compressed || e->nextFree == 0) return DISK_E_LIMIT;
  if (!SparseBytesFit(*e, offset, length)) return DISK_E_LIMIT;
  const auto* in = static_cast<const std::uint8_t*>(data);
  const std::uint64_t grainBytes = SparseGrainBytes(*e);
  while (length > 0) {
    const std::uint64_t grain = offset / grainBytes;
    const std::uint64_t within = offset % grainBytes;
    const auto piece =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(length, grainBytes - within));
    const auto index = static_cast<std::uint32_t>(grain / kGtesPerGt);
    // Without a GT there is nowhere to enter a new grain, and a GT appended
    // at the end would break the rule that the file ends behind its last
    // grain.
    if (e->gd[index] == 0) return DISK_E_UNSUPPORTED;
    DiskResult r = SparseLoadGt(e, index);
    if (r != DISK_OK) return r;
    const std::uint32_t gte = e->gt[grain % kGtesPerGt];
    if (gte != 0) {
      if (!StreamWrite(&e->stream, gte * kSectorBytes + within, piece, in))
        return DISK_E_GRAIN_WRITE;
    } else {
      r = AllocateGrain(e, grain, index, within, piece, in);
      if (r != DISK_OK) return r;
    }
    offset += piece;
    in += piece;
    length -= piece;
  }
  return DISK_OK;
}

}  // namespace qvt
