#include "XfsFreeSpaceTree.h"

#include "ByteOrder.h"
#include "FsHandlers.h"
#include "XfsLayout.h"

namespace qvt {
namespace {

struct WalkState {
  XfsGroupWalk* walk;
  std::uint32_t magic;
  bool bySize;                // records ordered by (count, start), nothing cleared
  std::uint32_t treeBlocks;   // entries used in walk->treeBlocks
  std::uint64_t nextFree;     // bno: the lowest block the next free extent may start at
  std::uint64_t lastKey;      // cnt: (count, start) of the previous record
  std::uint64_t blocks;       // sum of the extents' counts
  std::uint64_t digest;       // order-free digest of the extents
};

// A well-mixed 64-bit value of one extent; their sum does not depend on
// the order the trees list them in.
std::uint64_t Mix(std::uint64_t start, std::uint64_t count) {
  std::uint64_t x = (start << 32 | count) + 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

bool IsTreeBlock(const XfsGroupWalk& w, std::uint32_t block) {
  return block >= w.headerBlocks && block < w.groupBlocks;
}

DiskResult ClearLeaf(WalkState* s, const std::uint8_t* block, std::uint32_t records) {
  XfsGroupWalk& w = *s->walk;
  for (std::uint32_t k = 0; k < records; ++k) {
    const std::uint8_t* rec = block + xfs::kBtHeaderSize + k * xfs::kBtRecordSize;
    const std::uint64_t start = ReadBE32(rec);
    const std::uint64_t count = ReadBE32(rec + 4);
    if (count == 0) continue;
    if (start < w.headerBlocks || start + count > w.groupBlocks) return DISK_E_FS_UNKNOWN;
    s->blocks += count;
    s->digest += Mix(start, count);
    if (s->bySize) {
      const std::uint64_t key = count << 32 | start;
      if (key <= s->lastKey) return DISK_E_FS_UNKNOWN;
      s->lastKey = key;
      continue;
    }
    if (start < s->nextFree) return DISK_E_FS_UNKNOWN;
    SetBitRange(w.bits, w.firstBit + static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(count), false);
    s->nextFree = start + count;
  }
  return DISK_OK;
}

DiskResult Visit(WalkState* s, std::uint32_t blockNo, std::uint32_t level, bool root) {
  XfsGroupWalk& w = *s->walk;
  if (!IsTreeBlock(w, blockNo) || s->treeBlocks >= w.treeBlockCapacity) return DISK_E_FS_UNKNOWN;
  w.treeBlocks[s->treeBlocks++] = blockNo;
  std::uint8_t* block = w.buffers + static_cast<std::size_t>(level) * w.blockSize;
  const DiskResult r = ImageRead(w.image, w.groupByte + static_cast<std::uint64_t>(blockNo) * w.blockSize,
                                 w.blockSize, block);
  if (r != DISK_OK) return r;
  if (ReadBE32(block + xfs::kBtMagic) != s->magic) return DISK_E_FS_UNKNOWN;
  // Each step down the tree lowers the level by one: a pointer back up (or
  // sideways) is caught here, which also bounds the recursion.
  if (ReadBE16(block + xfs::kBtLevel) != level) return DISK_E_FS_UNKNOWN;
  const std::uint32_t records = ReadBE16(block + xfs::kBtRecords);
  if (records == 0 && !root) return DISK_E_FS_UNKNOWN;
  const std::uint32_t room = w.blockSize - xfs::kBtHeaderSize;
  if (level == 0) {
    if (records > room / xfs::kBtRecordSize) return DISK_E_FS_UNKNOWN;
    return ClearLeaf(s, block, records);
  }
  const std::uint32_t capacity = room / (xfs::kBtKeySize + xfs::kBtPtrSize);
  if (records > capacity) return DISK_E_FS_UNKNOWN;
  const std::uint8_t* ptrs = block + xfs::kBtHeaderSize + capacity * xfs::kBtKeySize;
  for (std::uint32_t k = 0; k < records; ++k) {
    // The child's block is the next level's buffer, so this block's
    // pointers stay readable while the child is walked.
    const DiskResult c = Visit(s, ReadBE32(ptrs + k * xfs::kBtPtrSize), level - 1, false);
    if (c != DISK_OK) return c;
  }
  return DISK_OK;
}

DiskResult WalkTree(WalkState* s, XfsTreeRoot root) {
  if (root.levels == 0 || root.levels > xfs::kMaxTreeLevels) return DISK_E_FS_UNKNOWN;
  return Visit(s, root.block, root.levels - 1, true);
}

}  // namespace

DiskResult ClearXfsFreeExtents(XfsGroupWalk* walk, XfsTreeRoot bno, XfsTreeRoot cnt, std::uint32_t freeBlocks) {
  WalkState byBlock{walk, xfs::kBnoMagic, false, 0, 0, 0, 0, 0};
  DiskResult r = WalkTree(&byBlock, bno);
  if (r != DISK_OK) return r;
  WalkState bySize{walk, xfs::kCntMagic, true, byBlock.treeBlocks, 0, 0, 0, 0};
  r = WalkTree(&bySize, cnt);
  if (r != DISK_OK) return r;
  if (byBlock.blocks != freeBlocks || bySize.blocks != freeBlocks || byBlock.digest != bySize.digest) {
    return DISK_E_FS_UNKNOWN;
  }
  // The trees' blocks hold the trees: whatever an extent claimed of them.
  for (std::uint32_t k = 0; k < bySize.treeBlocks; ++k) {
    SetBitRange(walk->bits, walk->firstBit + walk->treeBlocks[k], 1, true);
  }
  return DISK_OK;
}

}  // namespace qvt
