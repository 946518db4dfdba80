// Reads, writes and the emptiness queries of a VmdkImage, each split at the
// extents' boundaries; and the parent view of a child whose parent has
// another capacity.
#include <algorithm>
#include <cstring>

#include "SparseCommon.h"
#include "SparseTables.h"
#include "VmdkImage.h"

namespace qvt {
namespace {

std::uint64_t FirstSector(const VmdkImage& m, std::uint32_t i) {
  return m.flat ? m.flatExtents[i].firstSector : m.sparse[i].firstSector;
}

std::uint64_t Sectors(const VmdkImage& m, std::uint32_t i) {
  return m.flat ? m.flatExtents[i].sectors : m.sparse[i].sectors;
}

// The extent that holds `sector` (which lies within the capacity): the last
// one whose first sector is not beyond it.
std::uint32_t FindExtent(const VmdkImage& m, std::uint64_t sector) {
  std::uint32_t low = 0;
  std::uint32_t high = m.extentCount;  // FirstSector(high) > sector, or the end
  while (high - low > 1) {
    const std::uint32_t mid = low + (high - low) / 2;
    if (FirstSector(m, mid) <= sector) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return low;
}

bool SectorsFit(std::uint32_t capacity, std::uint32_t first, std::uint32_t count) {
  return first <= capacity && count <= capacity - first;
}

// Calls `piece(extent, offset within it, length, done so far)` for each
// extent's part of the byte range [offset, offset + length).
template <typename Piece>
DiskResult ForEachPiece(const VmdkImage& m, std::uint64_t offset, std::uint64_t length,
                        Piece piece) {
  if (length == 0) return DISK_OK;
  std::uint32_t i = FindExtent(m, offset / kSectorBytes);
  std::uint64_t done = 0;
  while (done < length) {
    const std::uint64_t at = offset + done;
    const std::uint64_t start = FirstSector(m, i) * kSectorBytes;
    const std::uint64_t end = start + Sectors(m, i) * kSectorBytes;
    const std::uint64_t n = std::min(length - done, end - at);
    const DiskResult r = piece(i, at - start, n, done);
    if (r != DISK_OK) return r;
    done += n;
    ++i;
  }
  return DISK_OK;
}

}  // namespace

DiskResult VmdkImageGetSize(const VmdkImage* m, ImageGeometry* geometry) {
  *geometry = ImageGeometry{m->capacity, m->heads, m->sectorsPerTrack, m->sectorSize};
  return DISK_OK;
}

DiskResult VmdkImageRead(VmdkImage* m, std::uint64_t offset, std::uint32_t length,
                         void* buffer) {
  if (m->extentCount == 0 || !ImageRangeFits(offset, length, m->capacity)) return DISK_E_LIMIT;
  auto* out = static_cast<std::uint8_t*>(buffer);
  return ForEachPiece(*m, offset, length,
                      [&](std::uint32_t i, std::uint64_t at, std::uint64_t n, std::uint64_t done) {
                        const auto bytes = static_cast<std::uint32_t>(n);
                        return m->flat ? FlatRead(&m->flatExtents[i], at, bytes, out + done)
                                       : SparseRead(&m->sparse[i], at, bytes, out + done);
                      });
}

DiskResult VmdkImageWrite(VmdkImage* m, std::uint64_t offset, std::uint32_t length,
                          const void* data) {
  if (m->extentCount == 0 || m->readOnly || !ImageRangeFits(offset, length, m->capacity)) {
    return DISK_E_LIMIT;
  }
  // A new grain takes the rest of its sectors from the parent; without one
  // they would turn to zeros.
  if (m->descriptor.isChild && m->reader == nullptr) return DISK_E_LIMIT;
  const auto* in = static_cast<const std::uint8_t*>(data);
  return ForEachPiece(*m, offset, length,
                      [&](std::uint32_t i, std::uint64_t at, std::uint64_t n, std::uint64_t done) {
                        const auto bytes = static_cast<std::uint32_t>(n);
                        return m->flat ? FlatWrite(&m->flatExtents[i], at, bytes, in + done)
                                       : SparseWrite(&m->sparse[i], at, bytes, in + done);
                      });
}

DiskResult VmdkImageIsRangeEmpty(VmdkImage* m, const AllocationMap* map, std::uint32_t first,
                                 std::uint32_t count, bool* empty) {
  *empty = true;
  if (m->extentCount == 0 || !SectorsFit(m->capacity, first, count)) return DISK_E_LIMIT;
  return ForEachPiece(
      *m, static_cast<std::uint64_t>(first) * kSectorBytes,
      static_cast<std::uint64_t>(count) * kSectorBytes,
      [&](std::uint32_t i, std::uint64_t at, std::uint64_t n, std::uint64_t) {
        if (!*empty) return DISK_OK;
        const std::uint64_t sector = at / kSectorBytes;
        const auto sectors = static_cast<std::uint32_t>(n / kSectorBytes);
        return m->flat ? FlatIsEmpty(&m->flatExtents[i], sector, sectors, empty)
                       : SparseIsEmpty(&m->sparse[i], map, sector, sectors, empty);
      });
}

DiskResult VmdkImageIsRangeAbsent(VmdkImage* m, std::uint32_t first, std::uint32_t count,
                                  bool* absent) {
  *absent = true;
  if (m->extentCount == 0 || m->flat || !SectorsFit(m->capacity, first, count)) {
    return DISK_E_LIMIT;
  }
  return ForEachPiece(*m, static_cast<std::uint64_t>(first) * kSectorBytes,
                      static_cast<std::uint64_t>(count) * kSectorBytes,
                      [&](std::uint32_t i, std::uint64_t at, std::uint64_t n, std::uint64_t) {
                        if (!*absent) return DISK_OK;
                        return SparseIsUnallocated(&m->sparse[i], at / kSectorBytes,
                                                   static_cast<std::uint32_t>(n / kSectorBytes),
                                                   absent);
                      });
}

DiskResult VmdkImageCountGrains(VmdkImage* m, std::uint64_t* grains) {
  *grains = 0;
  if (m->extentCount == 0 || m->flat) return DISK_E_LIMIT;
  for (std::uint32_t i = 0; i < m->extentCount; ++i) {
    SparseExtent* e = &m->sparse[i];
    const std::uint64_t extentGrains = (e->sectors + e->grainSectors - 1) / e->grainSectors;
    for (std::uint32_t gt = 0; gt < e->numGts; ++gt) {
      if (e->gd[gt] == 0) continue;
      QVT_DISK_TRY(SparseLoadGt(e, gt));
      const std::uint64_t firstGrain = static_cast<std::uint64_t>(gt) * kGtesPerGt;
      const auto entries =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(kGtesPerGt, extentGrains - firstGrain));
      for (std::uint32_t j = 0; j < entries; ++j) {
        if (e->gt[j] != 0) ++*grains;
      }
    }
  }
  return DISK_OK;
}

DiskResult VmdkParentViewGetSize(const VmdkParentView* view, ImageGeometry* geometry) {
  QVT_DISK_TRY(ImageGetSize(view->inner, geometry));
  geometry->sectors = view->sectors;
  return DISK_OK;
}

DiskResult VmdkParentViewRead(VmdkParentView* view, std::uint64_t offset, std::uint32_t length,
                              void* buffer) {
  if (!ImageRangeFits(offset, length, view->sectors)) return DISK_E_LIMIT;
  const std::uint64_t innerEnd = static_cast<std::uint64_t>(view->innerSectors) * kSectorBytes;
  const std::uint64_t inside = offset < innerEnd ? std::min<std::uint64_t>(length, innerEnd - offset) : 0;
  if (inside > 0) {
    QVT_DISK_TRY(ImageRead(view->inner, offset, static_cast<std::uint32_t>(inside), buffer));
  }
  std::memset(static_cast<std::uint8_t*>(buffer) + inside, 0,
              static_cast<std::size_t>(length - inside));
  return DISK_OK;
}

DiskResult VmdkParentViewWrite(VmdkParentView* view, std::uint64_t offset, std::uint32_t length,
                               const void* data) {
  if (!ImageRangeFits(offset, length, view->sectors) ||
      !ImageRangeFits(offset, length, view->innerSectors)) {
    return DISK_E_LIMIT;
  }
  return ImageWrite(view->inner, offset, length, data);
}

namespace {

// The part of [first, first + count) that lies within the parent.
std::uint32_t InsideCount(const VmdkParentView& view, std::uint32_t first, std::uint32_t count) {
  return first < view.innerSectors ? std::min(count, view.innerSectors - first) : 0;
}

}  // namespace

DiskResult VmdkParentViewIsRangeEmpty(VmdkParentView* view, const AllocationMap* map,
                                      std::uint32_t first, std::uint32_t count, bool* empty) {
  *empty = true;
  if (!SectorsFit(view->sectors, first, count)) return DISK_E_LIMIT;
  const std::uint32_t inside = InsideCount(*view, first, count);
  return inside > 0 ? ImageIsRangeEmpty(view->inner, map, first, inside, empty) : DISK_OK;
}

DiskResult VmdkParentViewIsRangeAbsent(VmdkParentView* view, std::uint32_t first,
                                       std::uint32_t count, bool* absent) {
  *absent = true;
  if (!SectorsFit(view->sectors, first, count)) return DISK_E_LIMIT;
  const std::uint32_t inside = InsideCount(*view, first, count);
  return inside > 0 ? ImageIsRangeAbsent(view->inner, first, inside, absent) : DISK_OK;
}

}  // namespace qvt
