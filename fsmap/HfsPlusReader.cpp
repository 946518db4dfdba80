// The HFS Plus / HFSX reader: loads the allocation file (one bit per
// allocation block, most significant bit first) through its extents, from
// the volume header and, for a fragmented file, the extents overflow tree,
// and answers through the shared cluster-bitmap rule.
#include <algorithm>

#include "ByteOrder.h"
#include "ClusterBitmap.h"
#include "FsHandlerTable.h"
#include "HfsPlusFork.h"
#include "HfsPlusLayout.h"

namespace qvt {
namespace {

// Where the allocation file's bytes go as its extents are found.
struct AllocationLoad {
  const HfsVolume* volume;
  ClusterBitmap* map;
  std::uint64_t fileBlock;  // file block where the next extent begins
};

DiskResult LoadExtent(void* context, const HfsExtent& e) {
  auto* load = static_cast<AllocationLoad*>(context);
  const HfsVolume& v = *load->volume;
  const std::uint64_t begin = load->fileBlock * v.blockSize;
  load->fileBlock += e.blockCount;
  if (begin >= load->map->bitmapBytes) return DISK_OK;  // past the bits the volume needs
  const std::uint64_t n =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(e.blockCount) * v.blockSize, load->map->bitmapBytes - begin);
  return ImageRead(v.image, v.offset + static_cast<std::uint64_t>(e.firstBlock) * v.blockSize,
                   static_cast<std::uint32_t>(n), load->map->bits + begin);
}

std::uint8_t Reversed(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

void MarkUsed(ClusterBitmap* map, std::uint64_t block) {
  if (block / 8 < map->bitmapBytes) map->bits[block / 8] = static_cast<std::uint8_t>(map->bits[block / 8] | 1u << (block % 8));
}

// The allocation file stores block n at bit 7 - n mod 8; the shared query
// reads bit n mod 8. The blocks holding the boot blocks and volume header
// (the first 1536 bytes) and the alternate header (the last 1024) are kept
// whatever the bitmap says: without them no copy is a volume at all.
void Finish(ClusterBitmap* map, const HfsVolume& v) {
  for (std::size_t i = 0; i < map->bitmapBytes; ++i) map->bits[i] = Reversed(map->bits[i]);
  for (std::uint64_t b = 0; b * v.blockSize < 1536; ++b) MarkUsed(map, b);
  const std::uint64_t end = static_cast<std::uint64_t>(v.totalBlocks) * v.blockSize;
  for (std::uint64_t b = (end > 1024 ? end - 1024 : 0) / v.blockSize; b < v.totalBlocks; ++b) MarkUsed(map, b);
}

// The volume header's geometry; DISK_E_FS_UNKNOWN for another filesystem
// or a block size the map cannot express in whole sectors.
DiskResult ReadGeometry(const std::uint8_t* vh, ImageHandle* image, std::uint32_t first, std::uint32_t count,
                        HfsVolume* v) {
  const std::uint16_t signature = ReadBE16(vh + hfsvh::kSignature);
  if (signature != hfsvh::kHfsPlus && signature != hfsvh::kHfsx) return DISK_E_FS_UNKNOWN;
  const std::uint32_t blockSize = ReadBE32(vh + hfsvh::kBlockSize);
  if (blockSize < 512 || (blockSize & (blockSize - 1)) != 0) return DISK_E_FS_UNKNOWN;
  const std::uint32_t total = ReadBE32(vh + hfsvh::kTotalBlocks);
  // Blocks past the partition are never read; the map answers "in use" there.
  const std::uint64_t inPartition = static_cast<std::uint64_t>(count) * 512 / blockSize;
  if (total == 0 || total > inPartition) return DISK_E_FORMAT;
  *v = HfsVolume{image, static_cast<std::uint64_t>(first) * 512, blockSize, total};
  return DISK_OK;
}

DiskResult LoadAllocation(const HfsVolume& v, const std::uint8_t* vh, ClusterBitmap** out) {
  HfsExtent tree[8];
  std::uint64_t sum = 0;
  DiskResult r = ReadForkExtents(v, vh + hfsvh::kExtentsFork, tree, &sum);
  if (r != DISK_OK) return r;
  if (sum != ReadBE32(vh + hfsvh::kExtentsFork + hfsfork::kTotalBlocks)) return DISK_E_FORMAT;

  HfsExtent own[8];
  r = ReadForkExtents(v, vh + hfsvh::kAllocationFork, own, &sum);
  if (r != DISK_OK) return r;
  const std::uint64_t total = ReadBE32(vh + hfsvh::kAllocationFork + hfsfork::kTotalBlocks);
  if (sum > total || total > v.totalBlocks) return DISK_E_FORMAT;
  const std::uint64_t needed = (static_cast<std::uint64_t>(v.totalBlocks) + 7) / 8;
  ClusterBitmap* map = NewClusterBitmap(0, v.blockSize / 512, v.totalBlocks,
                                        static_cast<std::size_t>(std::min(needed, total * v.blockSize)));
  if (map == nullptr) return DISK_E_NOMEM;
  AllocationLoad load{&v, map, 0};
  for (const HfsExtent& e : own) {
    if (r == DISK_OK && e.blockCount != 0) r = LoadExtent(&load, e);
  }
  if (r == DISK_OK && sum < total) r = WalkAllocationOverflow(v, tree, sum, total, &LoadExtent, &load);
  if (r != DISK_OK) {
    FreeClusterBitmap(map);
    return r;
  }
  Finish(map, v);
  *out = map;
  return DISK_OK;
}

DiskResult OpenHfsPlus(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  *state = nullptr;
  if (static_cast<std::uint64_t>(count) * 512 < hfsvh::kOffset + hfsvh::kSize) return DISK_E_FS_UNKNOWN;
  std::uint8_t vh[hfsvh::kSize];
  DiskResult r = ImageRead(image, static_cast<std::uint64_t>(first) * 512 + hfsvh::kOffset, sizeof vh, vh);
  if (r != DISK_OK) return r;
  HfsVolume v{};
  r = ReadGeometry(vh, image, first, count, &v);
  if (r != DISK_OK) return r;
  ClusterBitmap* map = nullptr;
  r = LoadAllocation(v, vh, &map);
  if (r != DISK_OK) return r;
  map->volumeFirstSector = first;
  *state = map;
  return DISK_OK;
}

}  // namespace

const FsHandler kHfsPlusHandler{"HFS+", &OpenHfsPlus, &ClusterBitmapQuery, &FreeClusterBitmap};

}  // namespace qvt
