// The two allocation queries: is a range free through the whole chain (a
// copy would not have to carry it), and is it absent from this file alone.
#include "Heap.h"
#include "VhdBlocks.h"
#include "VhdImage.h"

namespace qvt {
namespace {

bool RangeFits(const VhdImage& m, std::uint32_t first, std::uint32_t count) {
  return first <= m.sectors && count <= m.sectors - first;
}

// Sectors of the range [sector, end) within the block of `sector`.
std::uint32_t PieceSectors(const VhdImage& m, std::uint64_t sector, std::uint64_t end) {
  const std::uint64_t blockEnd = (sector / m.sectorsPerBlock + 1) * m.sectorsPerBlock;
  return static_cast<std::uint32_t>((end < blockEnd ? end : blockEnd) - sector);
}

DiskResult BelowIsFree(VhdImage* m, const AllocationMap* map, std::uint32_t first,
                       std::uint32_t count, bool* free) {
  if (m->parent.kind == IMAGE_NONE) {
    *free = true;
    return DISK_OK;
  }
  return ImageIsRangeEmpty(&m->parent, map, first, count, free);
}

// Held sectors are free when they are all zero; the others are the
// parent's question. Runs of equal bits are asked at once.
DiskResult AllocatedIsFree(VhdImage* m, const AllocationMap* map, std::uint32_t block,
                           std::uint32_t from, std::uint32_t count, bool* free) {
  DiskResult r = VhdCacheBitmap(m, block);
  if (r != DISK_OK) return r;
  const std::uint32_t diskBase = block * m->sectorsPerBlock;
  const std::uint32_t end = from + count;
  constexpr std::uint32_t kChunkSectors = 128;
  HeapBlock area(kChunkSectors * kSectorSize);
  if (!area) return DISK_E_NOMEM;
  auto* chunk = static_cast<std::uint8_t*>(area.get());
  for (std::uint32_t s = from; s < end;) {
    const std::uint32_t run = VhdBitRun(m->bitmap, s, end);
    if (VhdBitIsSet(m->bitmap, s)) {
      for (std::uint32_t done = 0; done < run;) {
        const std::uint32_t n = run - done < kChunkSectors ? run - done : kChunkSectors;
        const std::uint64_t at = VhdBlockData(*m, block) + static_cast<std::uint64_t>(s + done) * kSectorSize;
        if (!StreamRead(&m->file, at, n * kSectorSize, chunk)) return DISK_E_READ;
        if (!VhdIsZero(chunk, n * kSectorSize)) {
          *free = false;
          return DISK_OK;
        }
        done += n;
      }
    } else {
      r = BelowIsFree(m, map, diskBase + s, run, free);
      if (r != DISK_OK || !*free) return r;
    }
    s += run;
  }
  *free = true;
  return DISK_OK;
}

}  // namespace

DiskResult VhdImageIsRangeEmpty(VhdImage* m, const AllocationMap* map, std::uint32_t first,
                                std::uint32_t count, bool* empty) {
  if (!RangeFits(*m, first, count)) return DISK_E_LIMIT;
  *empty = true;
  const std::uint64_t end = static_cast<std::uint64_t>(first) + count;
  for (std::uint64_t s = first; s < end;) {
    const std::uint32_t n = PieceSectors(*m, s, end);
    const auto block = static_cast<std::uint32_t>(s / m->sectorsPerBlock);
    const auto within = static_cast<std::uint32_t>(s % m->sectorsPerBlock);
    bool free = true;
    const DiskResult r = m->bat[block] == kVhdUnusedBlock
                             ? BelowIsFree(m, map, static_cast<std::uint32_t>(s), n, &free)
                             : AllocatedIsFree(m, map, block, within, n, &free);
    if (r != DISK_OK) return r;
    if (!free) {
      *empty = false;
      return DISK_OK;
    }
    s += n;
  }
  return DISK_OK;
}

DiskResult VhdImageIsRangeAbsent(VhdImage* m, std::uint32_t first, std::uint32_t count,
                                 bool* absent) {
  if (!RangeFits(*m, first, count)) return DISK_E_LIMIT;
  *absent = true;
  const std::uint64_t end = static_cast<std::uint64_t>(first) + count;
  for (std::uint64_t s = first; s < end;) {
    const std::uint32_t n = PieceSectors(*m, s, end);
    const auto block = static_cast<std::uint32_t>(s / m->sectorsPerBlock);
    const auto within = static_cast<std::uint32_t>(s % m->sectorsPerBlock);
    if (m->bat[block] != kVhdUnusedBlock) {
      const DiskResult r = VhdCacheBitmap(m, block);
      if (r != DISK_OK) return r;
      if (VhdBitRun(m->bitmap, within, within + n) != n || VhdBitIsSet(m->bitmap, within)) {
        *absent = false;
        return DISK_OK;
      }
    }
    s += n;
  }
  return DISK_OK;
}

}  // namespace qvt
