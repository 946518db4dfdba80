#include "ExtGeometry.h"

#include "ByteOrder.h"
#include "ExtChecksum.h"
#include "ExtLayout.h"

namespace qvt {
namespace {

bool IsPowerOf(std::uint32_t n, std::uint32_t base) {
  while (n > 1 && n % base == 0) n /= base;
  return n == 1;
}

bool GroupHasSuper(const ExtGeometry& g, std::uint32_t group) {
  if (group == 0) return true;
  if (g.sparseSuper2) return group == g.backupGroups[0] || group == g.backupGroups[1];
  if (!g.sparseSuper || group == 1) return true;
  return IsPowerOf(group, 3) || IsPowerOf(group, 5) || IsPowerOf(group, 7);
}

std::uint32_t CeilDiv(std::uint64_t a, std::uint64_t b) {
  return static_cast<std::uint32_t>((a + b - 1) / b);
}

DiskResult ParseSizes(const std::uint8_t* sb, std::uint32_t volumeSectors, ExtGeometry* g) {
  const std::uint32_t logBlock = ReadLE32(sb + ext::kSbLogBlockSize);
  if (logBlock > 2) return DISK_E_FS_UNKNOWN;
  g->blockSize = 1024u << logBlock;
  g->blocksCount = ReadLE32(sb + ext::kSbBlocksCountLo);
  g->firstDataBlock = ReadLE32(sb + ext::kSbFirstDataBlock);
  g->blocksPerGroup = ReadLE32(sb + ext::kSbBlocksPerGroup);
  // Without bigalloc the first data block is fixed by the block size; any
  // other value means the bitmaps do not count what this reader thinks.
  if (g->firstDataBlock != (g->blockSize == 1024 ? 1u : 0u)) return DISK_E_FS_UNKNOWN;
  if (g->blocksCount <= g->firstDataBlock) return DISK_E_FS_UNKNOWN;
  // mke2fs's own range; the lower bound also bounds the number of groups
  // (and so of reads) a damaged superblock can ask for.
  if (g->blocksPerGroup < 256 || g->blocksPerGroup % 8 != 0 || g->blocksPerGroup > 8 * g->blockSize) {
    return DISK_E_FS_UNKNOWN;
  }
  // A filesystem larger than its volume is damaged or cut short; its
  // bitmaps cannot be trusted to describe the sectors that are there.
  const std::uint64_t bytes = static_cast<std::uint64_t>(g->blocksCount) * g->blockSize;
  if (bytes > static_cast<std::uint64_t>(volumeSectors) * 512) return DISK_E_FS_UNKNOWN;
  g->groupCount = CeilDiv(g->blocksCount - g->firstDataBlock, g->blocksPerGroup);
  return DISK_OK;
}

DiskResult ParseDescriptors(const std::uint8_t* sb, ExtGeometry* g) {
  const std::uint32_t incompat = ReadLE32(sb + ext::kSbFeatureIncompat);
  g->descSize = ext::kSmallDescSize;
  if ((incompat & ext::kIncompat64Bit) != 0) {
    if (ReadLE32(sb + ext::kSbBlocksCountHi) != 0) return DISK_E_FS_UNKNOWN;
    const std::uint32_t size = ReadLE16(sb + ext::kSbDescSize);
    if (size != 0) {
      // A power of two the block can hold a whole number of.
      if (size < ext::kSmallDescSize || size > g->blockSize || (size & (size - 1)) != 0) {
        return DISK_E_FS_UNKNOWN;
      }
      g->descSize = size;
    }
  }
  g->wideDescriptors = g->descSize > ext::kSmallDescSize;
  g->descsPerBlock = g->blockSize / g->descSize;
  g->descBlocks = CeilDiv(g->groupCount, g->descsPerBlock);
  g->metaBg = (incompat & ext::kIncompatMetaBg) != 0;
  g->firstMetaBg = g->metaBg ? ReadLE32(sb + ext::kSbFirstMetaBg) : g->descBlocks;
  if (g->firstMetaBg > g->descBlocks) g->firstMetaBg = g->descBlocks;
  g->reservedGdtBlocks = ReadLE16(sb + ext::kSbReservedGdtBlocks);
  return DISK_OK;
}

DiskResult ParseInodeTable(const std::uint8_t* sb, ExtGeometry* g) {
  std::uint32_t inodeSize = 128;
  if (ReadLE32(sb + ext::kSbRevLevel) >= 1) inodeSize = ReadLE16(sb + ext::kSbInodeSize);
  if (inodeSize < 128 || inodeSize > g->blockSize || (inodeSize & (inodeSize - 1)) != 0) {
    return DISK_E_FS_UNKNOWN;
  }
  const std::uint32_t inodesPerGroup = ReadLE32(sb + ext::kSbInodesPerGroup);
  if (inodesPerGroup == 0 || inodesPerGroup > 8 * g->blockSize) return DISK_E_FS_UNKNOWN;
  g->inodeTableBlocks = CeilDiv(static_cast<std::uint64_t>(inodesPerGroup) * inodeSize, g->blockSize);
  return DISK_OK;
}

}  // namespace

DiskResult ParseExtSuperblock(const std::uint8_t* sb, std::uint32_t volumeSectors,
                              ExtGeometry* geometry) {
  if (ReadLE16(sb + ext::kSbMagic) != ext::kMagic) return DISK_E_FS_UNKNOWN;
  if (!ExtSuperblockChecksumHolds(sb)) return DISK_E_FS_UNKNOWN;
  ExtGeometry g{};
  const std::uint32_t incompat = ReadLE32(sb + ext::kSbFeatureIncompat);
  const std::uint32_t roCompat = ReadLE32(sb + ext::kSbFeatureRoCompat);
  const std::uint32_t compat = ReadLE32(sb + ext::kSbFeatureCompat);
  // bigalloc bitmaps count clusters, not blocks; a journal device has no
  // bitmaps at all.
  if ((roCompat & ext::kRoCompatBigalloc) != 0 || (incompat & ext::kIncompatJournalDev) != 0) {
    return DISK_E_FS_UNKNOWN;
  }
  DiskResult r = ParseSizes(sb, volumeSectors, &g);
  if (r == DISK_OK) r = ParseDescriptors(sb, &g);
  if (r == DISK_OK) r = ParseInodeTable(sb, &g);
  if (r != DISK_OK) return r;
  g.sparseSuper = (roCompat & ext::kRoCompatSparseSuper) != 0;
  g.sparseSuper2 = (compat & ext::kCompatSparseSuper2) != 0;
  g.backupGroups[0] = ReadLE32(sb + ext::kSbBackupBgs);
  g.backupGroups[1] = ReadLE32(sb + ext::kSbBackupBgs + 4);
  g.flexBg = (incompat & ext::kIncompatFlexBg) != 0;
  g.uninitGroups = (roCompat & (ext::kRoCompatGdtCsum | ext::kRoCompatMetadataCsum)) != 0;
  // A journal that still has to be replayed may hold allocations the
  // on-disk bitmaps do not show yet: blocks written through it would read
  // as free here.
  if ((incompat & ext::kIncompatRecover) != 0) return DISK_E_FS_BITMAP;
  *geometry = g;
  return DISK_OK;
}

std::uint64_t ExtGroupFirstBlock(const ExtGeometry& g, std::uint32_t group) {
  return g.firstDataBlock + static_cast<std::uint64_t>(group) * g.blocksPerGroup;
}

std::uint32_t ExtGroupBlocks(const ExtGeometry& g, std::uint32_t group) {
  const std::uint64_t first = ExtGroupFirstBlock(g, group);
  const std::uint64_t left = g.blocksCount > first ? g.blocksCount - first : 0;
  return static_cast<std::uint32_t>(left < g.blocksPerGroup ? left : g.blocksPerGroup);
}

std::uint64_t ExtDescriptorBlock(const ExtGeometry& g, std::uint32_t group) {
  const std::uint32_t index = group / g.descsPerBlock;
  if (!g.metaBg || index < g.firstMetaBg) return g.firstDataBlock + 1ull + index;
  // Each meta group keeps its own descriptor block right after the
  // superblock copy of its first group (or at its very start without one).
  const std::uint32_t first = index * g.descsPerBlock;
  return ExtGroupFirstBlock(g, first) + (GroupHasSuper(g, first) ? 1 : 0);
}

std::uint32_t ExtGroupHeaderBlocks(const ExtGeometry& g, std::uint32_t group) {
  const std::uint32_t super = GroupHasSuper(g, group) ? 1 : 0;
  const std::uint32_t index = group / g.descsPerBlock;
  if (!g.metaBg || index < g.firstMetaBg) {
    const std::uint32_t table = g.metaBg ? g.firstMetaBg : g.descBlocks + g.reservedGdtBlocks;
    return super != 0 ? 1 + table : 0;
  }
  const std::uint32_t at = group % g.descsPerBlock;
  const bool copy = at == 0 || at == 1 || at == g.descsPerBlock - 1;
  return super + (copy ? 1 : 0);
}

}  // namespace qvt
