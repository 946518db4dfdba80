// The ext2/ext3/ext4 reader: one bit per block of the volume, gathered from
// the block bitmaps of its groups. A group is trusted only when its bitmap
// agrees with its descriptor's free-block count; otherwise every block of it
// stays in use. Bit n is block n, so the blocks below the first data block
// (the boot block of a 1 KiB-block volume) are simply marked in use.
#include <cstring>

#include "ByteOrder.h"
#include "ClusterBitmap.h"
#include "ExtChecksum.h"
#include "ExtGeometry.h"
#include "ExtLayout.h"
#include "FsHandlerTable.h"
#include "Heap.h"

namespace qvt {
namespace {

struct GroupDescriptor {
  std::uint64_t blockBitmap;
  std::uint32_t inodeBitmap;
  std::uint32_t inodeTable;
  std::uint32_t freeBlocks;
  std::uint16_t flags;
  bool checksumHolds;
};

struct ExtLoad {
  ImageHandle* image;
  std::uint64_t volumeByte;
  ExtGeometry geometry;
  ExtChecksumKind checksums;
  ClusterBitmap* map;
  std::uint8_t* descBlock;       // one block of the descriptor table
  std::uint64_t descBlockAt;     // which block descBlock holds, or ~0
  std::uint8_t* groupBits;       // one block: a group's bitmap
};

DiskResult ReadBlock(ExtLoad* load, std::uint64_t block, std::uint8_t* out) {
  const std::uint32_t size = load->geometry.blockSize;
  return ImageRead(load->image, load->volumeByte + block * size, size, out);
}

// Sets blocks [first, first + count) of the volume in use, clipped to it.
void MarkInUse(ExtLoad* load, std::uint64_t first, std::uint64_t count) {
  const std::uint64_t end = load->geometry.blocksCount;
  if (first >= end) return;
  if (count > end - first) count = end - first;
  SetBitRange(load->map->bits, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count), true);
}

DiskResult ReadDescriptor(ExtLoad* load, std::uint32_t group, GroupDescriptor* out) {
  const ExtGeometry& g = load->geometry;
  const std::uint64_t block = ExtDescriptorBlock(g, group);
  if (block >= g.blocksCount) return DISK_E_FS_BITMAP;
  if (block != load->descBlockAt) {
    load->descBlockAt = ~0ull;
    const DiskResult r = ReadBlock(load, block, load->descBlock);
    if (r != DISK_OK) return r;
    load->descBlockAt = block;
  }
  const std::uint8_t* d = load->descBlock + (group % g.descsPerBlock) * g.descSize;
  *out = GroupDescriptor{ReadLE32(d + ext::kGdBlockBitmapLo), ReadLE32(d + ext::kGdInodeBitmapLo),
                         ReadLE32(d + ext::kGdInodeTableLo), ReadLE16(d + ext::kGdFreeBlocksLo),
                         ReadLE16(d + ext::kGdFlags),
                         g.uninitGroups && ExtDescriptorChecksumHolds(load->checksums, group, d, g.descSize)};
  // Below 2^32 blocks the high halves are zero; anything else is not a
  // volume this reader understands.
  if (g.wideDescriptors &&
      (ReadLE32(d + ext::kGdBlockBitmapHi) != 0 || ReadLE16(d + ext::kGdFreeBlocksHi) != 0)) {
    return DISK_E_FS_UNKNOWN;
  }
  return DISK_OK;
}

// A group whose bitmap was never written (BLOCK_UNINIT) uses exactly its
// superblock and descriptor copies and those of its own bitmaps and inode
// table that lie inside it; that is what the filesystem counted free
// against, and the count check below confirms it.
void BuildUninitBitmap(const ExtLoad& load, std::uint32_t group, const GroupDescriptor& d) {
  const ExtGeometry& g = load.geometry;
  std::memset(load.groupBits, 0, g.blockSize);
  const std::uint64_t first = ExtGroupFirstBlock(g, group);
  const std::uint32_t blocks = ExtGroupBlocks(g, group);
  const std::uint32_t header = ExtGroupHeaderBlocks(g, group);
  SetBitRange(load.groupBits, 0, header < blocks ? header : blocks, true);
  auto markInside = [&](std::uint64_t block, std::uint64_t count) {
    for (std::uint64_t b = block; b < block + count; ++b) {
      if (b >= first && b < first + blocks) SetBitRange(load.groupBits, static_cast<std::uint32_t>(b - first), 1, true);
    }
  };
  markInside(d.blockBitmap, 1);
  markInside(d.inodeBitmap, 1);
  markInside(d.inodeTable, g.inodeTableBlocks);
}

std::uint32_t PopCount8(std::uint8_t v) {
  std::uint32_t n = 0;
  for (; v != 0; v = static_cast<std::uint8_t>(v & (v - 1))) ++n;
  return n;
}

// ORs the group's `blocks` bits into the volume bitmap at `first`; the
// number of clear bits among them.
std::uint32_t MergeGroupBits(ExtLoad* load, std::uint64_t first, std::uint32_t blocks) {
  std::uint8_t* dst = load->map->bits;
  const std::size_t dstBytes = load->map->bitmapBytes;
  const std::uint32_t shift = static_cast<std::uint32_t>(first % 8);
  const std::size_t base = static_cast<std::size_t>(first / 8);
  std::uint32_t used = 0;
  for (std::uint32_t k = 0; k * 8 < blocks; ++k) {
    std::uint8_t v = load->groupBits[k];
    const std::uint32_t left = blocks - k * 8;
    if (left < 8) v = static_cast<std::uint8_t>(v & ((1u << left) - 1));
    used += PopCount8(v);
    const unsigned wide = static_cast<unsigned>(v) << shift;
    if (base + k < dstBytes) dst[base + k] = static_cast<std::uint8_t>(dst[base + k] | (wide & 0xFF));
    if (base + k + 1 < dstBytes) dst[base + k + 1] = static_cast<std::uint8_t>(dst[base + k + 1] | (wide >> 8));
  }
  return blocks - used;
}

DiskResult LoadGroup(ExtLoad* load, std::uint32_t group) {
  const ExtGeometry& g = load->geometry;
  GroupDescriptor d{};
  DiskResult r = ReadDescriptor(load, group, &d);
  if (r != DISK_OK) return r;
  const std::uint64_t first = ExtGroupFirstBlock(g, group);
  const std::uint32_t blocks = ExtGroupBlocks(g, group);
  // A descriptor whose checksum fails may be another group's, or damage:
  // its group's bits are not taken from it. Without flex_bg a group's
  // bitmap lies inside the group.
  bool trusted = !g.uninitGroups || d.checksumHolds;
  if (!g.flexBg && (d.blockBitmap < first || d.blockBitmap >= first + blocks)) trusted = false;
  if (!trusted) {
    // nothing to read
  } else if (g.uninitGroups && (d.flags & ext::kGdFlagBlockUninit) != 0) {
    BuildUninitBitmap(*load, group, d);
  } else if (d.blockBitmap < g.firstDataBlock || d.blockBitmap >= g.blocksCount) {
    trusted = false;  // a bitmap outside the volume: nothing to read
  } else {
    r = ReadBlock(load, d.blockBitmap, load->groupBits);
    if (r != DISK_OK) return r;
  }
  if (!trusted || MergeGroupBits(load, first, blocks) != d.freeBlocks) MarkInUse(load, first, blocks);
  // The group's own metadata is in use whatever a bitmap says of it.
  MarkInUse(load, first, ExtGroupHeaderBlocks(g, group));
  MarkInUse(load, d.blockBitmap, 1);
  MarkInUse(load, d.inodeBitmap, 1);
  MarkInUse(load, d.inodeTable, g.inodeTableBlocks);
  return DISK_OK;
}

DiskResult LoadGroups(ExtLoad* load) {
  HeapBlock desc(load->geometry.blockSize);
  HeapBlock group(load->geometry.blockSize);
  if (!desc || !group) return DISK_E_NOMEM;
  load->descBlock = static_cast<std::uint8_t*>(desc.get());
  load->groupBits = static_cast<std::uint8_t*>(group.get());
  load->descBlockAt = ~0ull;
  MarkInUse(load, 0, load->geometry.firstDataBlock);
  for (std::uint32_t i = 0; i < load->geometry.groupCount; ++i) {
    const DiskResult r = LoadGroup(load, i);
    if (r != DISK_OK) return r;
  }
  return DISK_OK;
}

DiskResult ExtOpen(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  *state = nullptr;
  if (count < 4) return DISK_E_FS_UNKNOWN;  // no room for the superblock
  const std::uint64_t volumeByte = static_cast<std::uint64_t>(first) * 512;
  HeapBlock sb(ext::kSuperblockSize);
  if (!sb) return DISK_E_NOMEM;
  auto* sbBytes = static_cast<std::uint8_t*>(sb.get());
  DiskResult r = ImageRead(image, volumeByte + ext::kSuperblockOffset, ext::kSuperblockSize, sbBytes);
  if (r != DISK_OK) return r;
  ExtLoad load{image, volumeByte, {}, {}, nullptr, nullptr, 0, nullptr};
  r = ParseExtSuperblock(sbBytes, count, &load.geometry);
  if (r != DISK_OK) return r;
  ExtChecksumKindOf(sbBytes, &load.checksums);
  const ExtGeometry& g = load.geometry;
  load.map = NewClusterBitmap(first, g.blockSize / 512, g.blocksCount, (g.blocksCount + 7ull) / 8);
  if (load.map == nullptr) return DISK_E_NOMEM;
  r = LoadGroups(&load);
  if (r != DISK_OK) {
    FreeClusterBitmap(load.map);
    return r;
  }
  *state = load.map;
  return DISK_OK;
}

}  // namespace

const FsHandler kExtHandler{"ext2/3/4", &ExtOpen, &ClusterBitmapQuery, &FreeClusterBitmap};

}  // namespace qvt
