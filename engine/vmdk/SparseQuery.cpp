// The emptiness questions the copies and merges ask of a sparse extent:
// "is there data here anywhere in the chain" and "does this file hold a
// grain here".
#include <algorithm>

#include "SparseCommon.h"
#include "SparseExtent.h"
#include "SparseLayout.h"
#include "SparseTables.h"

namespace qvt {
namespace {

bool SectorsFit(const SparseExtent& e, std::uint64_t first, std::uint32_t count) {
  return first <= e.sectors && count <= e.sectors - first;
}

// Sectors [first, first + count) of an allocated, uncompressed grain at
// sector `gte`, `within` sectors into it.
DiskResult GrainPieceIsEmpty(SparseExtent* e, const AllocationMap* map, std::uint32_t gte,
                             std::uint64_t within, std::uint64_t first, std::uint32_t count,
                             bool* empty) {
  const std::uint32_t bytes = count * 512;
  if (!StreamRead(&e->stream, (gte + within) * kSectorBytes, bytes, e->grain)) return DISK_E_READ;
  if (map == nullptr) {
    *empty = BytesAreZero(e->grain, bytes);
    return DISK_OK;
  }
  std::uint8_t bits[kMaxGrainSectors / 8] = {};
  const DiskResult r =
      AllocationMapGetBits(map, static_cast<std::uint32_t>(e->firstSector + first), count, bits);
  if (r != DISK_OK) return r;
  *empty = true;
  for (std::uint32_t s = 0; s < count; ++s) {
    const bool inUse = (bits[s / 8] >> (s % 8) & 1) != 0;
    if (inUse && !BytesAreZero(e->grain + static_cast<std::size_t>(s) * 512, 512)) {
      *empty = false;
      break;
    }
  }
  return DISK_OK;
}

}  // namespace

DiskResult SparseIsEmpty(SparseExtent* e, const AllocationMap* map, std::uint64_t first,
                         std::uint32_t count, bool* empty) {
  *empty = true;
  if (!SectorsFit(*e, first, count)) return DISK_E_LIMIT;
  const std::uint64_t end = first + count;
  while (first < end) {
    const std::uint64_t grain = first / e->grainSectors;
    const std::uint64_t within = first % e->grainSectors;
    const auto piece =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(end - first, e->grainSectors - within));
    std::uint32_t gte = 0;
    bool hasGt = false;
    DiskResult r = SparseLookupGte(e, grain, &gte, &hasGt);
    if (r != DISK_OK) return r;
    bool pieceEmpty = true;
    if (gte == 0) {
      if (e->parent != nullptr) {
        r = ImageIsRangeEmpty(e->parent, map, static_cast<std::uint32_t>(e->firstSector + first),
                              piece, &pieceEmpty);
      }
    } else if (e->compressed) {
      pieceEmpty = false;
    } else {
      r = GrainPieceIsEmpty(e, map, gte, within, first, piece, &pieceEmpty);
    }
    if (r != DISK_OK) return r;
    if (!pieceEmpty) {
      *empty = false;
      return DISK_OK;
    }
    first += piece;
  }
  return DISK_OK;
}

DiskResult SparseIsUnallocated(SparseExtent* e, std::uint64_t first, std::uint32_t count,
                               bool* unallocated) {
  *unallocated = true;
  if (!SectorsFit(*e, first, count)) return DISK_E_LIMIT;
  if (count == 0) return DISK_OK;
  const std::uint64_t firstGrain = first / e->grainSectors;
  const std::uint64_t lastGrain = (first + count - 1) / e->grainSectors;
  for (std::uint64_t grain = firstGrain; grain <= lastGrain;) {
    const auto index = static_cast<std::uint32_t>(grain / kGtesPerGt);
    if (e->gd[index] == 0) {
      grain = (static_cast<std::uint64_t>(index) + 1) * kGtesPerGt;  // the whole GT is absent
      continue;
    }
    // The same checked and reconciled GT the reads use, so that this answer
    // never disagrees with what a read of the range returns.
    const DiskResult r = SparseLoadGt(e, index);
    if (r != DISK_OK) return r;
    if (e->gt[grain % kGtesPerGt] != 0) {
      *unallocated = false;
      return DISK_OK;
    }
    ++grain;
  }
  return DISK_OK;
}

}  // namespace qvt
