// The XFS reader (the version 4 format): every block starts in use and the
// free extents of each allocation group's by-block-number tree are cleared.
// Anything outside that format, or any header that disagrees with the
// superblock, rejects the volume so that it stays in use as a whole.
#include <cstring>

#include "ByteOrder.h"
#include "ClusterBitmap.h"
#include "FsHandlerTable.h"
#include "Heap.h"
#include "XfsFreeSpaceTree.h"
#include "XfsLayout.h"

namespace qvt {
namespace {

constexpr std::uint32_t kSectorBytes = 512;
// Tree blocks remembered per group walk; a by-block-number tree this large
// (tens of millions of free extents in one group) is not trusted.
constexpr std::uint32_t kTreeBlockCapacity = 65536;
constexpr std::uint64_t kMinGroupBytes = 16ull << 20;

struct XfsGeometry {
  std::uint32_t blockSize;
  std::uint32_t sectorSize;
  std::uint32_t dataBlocks;
  std::uint32_t agBlocks;
  std::uint32_t agCount;
  std::uint32_t headerBlocks;
};

bool IsPowerOfTwo(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

DiskResult ParseSuperblock(const std::uint8_t* sb, std::uint32_t volumeSectors, XfsGeometry* g) {
  if (ReadBE32(sb + xfs::kSbMagic) != xfs::kSuperMagic) return DISK_E_FS_UNKNOWN;
  // Version 5 trees have other magics and longer headers; rather than fail
  // later at the first tree block, say so at once.
  if ((ReadBE16(sb + xfs::kSbVersion) & xfs::kVersionMask) > xfs::kLastShortHeaderVersion) {
    return DISK_E_FS_UNKNOWN;
  }
  g->blockSize = ReadBE32(sb + xfs::kSbBlockSize);
  g->sectorSize = ReadBE16(sb + xfs::kSbSectorSize);
  if (!IsPowerOfTwo(g->blockSize) || g->blockSize < 512 || g->blockSize > 65536) return DISK_E_FS_UNKNOWN;
  if (!IsPowerOfTwo(g->sectorSize) || g->sectorSize < 512 || g->sectorSize > g->blockSize) {
    return DISK_E_FS_UNKNOWN;
  }
  const std::uint64_t dataBlocks = ReadBE64(sb + xfs::kSbDataBlocks);
  g->agBlocks = ReadBE32(sb + xfs::kSbAgBlocks);
  g->agCount = ReadBE32(sb + xfs::kSbAgCount);
  g->headerBlocks = (xfs::kAgHeaderSectors * g->sectorSize + g->blockSize - 1) / g->blockSize;
  // XFS's smallest allocation group is 16 MiB; holding damaged values to
  // that also bounds the groups (and reads) a volume can ask for.
  if (g->agBlocks <= g->headerBlocks || g->agCount == 0 ||
      static_cast<std::uint64_t>(g->agBlocks) * g->blockSize < kMinGroupBytes) {
    return DISK_E_FS_UNKNOWN;
  }
  // The groups must tile the data blocks exactly (only the last one short),
  // and the bitmap counts blocks in 32 bits.
  const std::uint64_t span = static_cast<std::uint64_t>(g->agBlocks) * g->agCount;
  if (dataBlocks == 0 || dataBlocks > span || dataBlocks <= span - g->agBlocks || dataBlocks >= (1ull << 32)) {
    return DISK_E_FS_UNKNOWN;
  }
  if (dataBlocks * g->blockSize > static_cast<std::uint64_t>(volumeSectors) * kSectorBytes) {
    return DISK_E_FS_UNKNOWN;
  }
  g->dataBlocks = static_cast<std::uint32_t>(dataBlocks);
  return DISK_OK;
}

struct XfsLoad {
  ImageHandle* image;
  std::uint64_t volumeByte;
  XfsGeometry geometry;
  std::uint8_t* bits;
  std::uint8_t* sector;       // one sector: a group's superblock copy or AGF
  std::uint8_t* buffers;      // one block per tree level
  std::uint32_t* treeBlocks;
};

DiskResult LoadGroup(XfsLoad* load, std::uint32_t ag) {
  const XfsGeometry& g = load->geometry;
  const std::uint32_t firstBlock = ag * g.agBlocks;  // below dataBlocks < 2^32
  const std::uint32_t blocks = g.dataBlocks - firstBlock < g.agBlocks ? g.dataBlocks - firstBlock : g.agBlocks;
  const std::uint64_t groupByte = load->volumeByte + static_cast<std::uint64_t>(firstBlock) * g.blockSize;
  DiskResult r = ImageRead(load->image, groupByte, kSectorBytes, load->sector);
  if (r != DISK_OK) return r;
  if (ReadBE32(load->sector + xfs::kSbMagic) != xfs::kSuperMagic) return DISK_E_FS_UNKNOWN;
  r = ImageRead(load->image, groupByte + g.sectorSize, kSectorBytes, load->sector);
  if (r != DISK_OK) return r;
  const std::uint8_t* agf = load->sector;
  if (ReadBE32(agf + xfs::kAgfMagic) != xfs::kAgfMagicValue || ReadBE32(agf + xfs::kAgfSeqNo) != ag ||
      ReadBE32(agf + xfs::kAgfLength) != blocks) {
    return DISK_E_FS_UNKNOWN;
  }
  const XfsTreeRoot bno{ReadBE32(agf + xfs::kAgfBnoRoot), ReadBE32(agf + xfs::kAgfBnoLevel)};
  const XfsTreeRoot cnt{ReadBE32(agf + xfs::kAgfCntRoot), ReadBE32(agf + xfs::kAgfCntLevel)};
  XfsGroupWalk walk{load->image, groupByte, g.blockSize, blocks, g.headerBlocks, firstBlock,
                    load->bits, load->buffers, load->treeBlocks, kTreeBlockCapacity};
  return ClearXfsFreeExtents(&walk, bno, cnt, ReadBE32(agf + xfs::kAgfFreeBlocks));
}

DiskResult LoadGroups(XfsLoad* load) {
  HeapBlock sector(kSectorBytes);
  HeapBlock buffers(static_cast<std::size_t>(xfs::kMaxTreeLevels) * load->geometry.blockSize);
  HeapBlock treeBlocks(sizeof(std::uint32_t) * kTreeBlockCapacity);
  if (!sector || !buffers || !treeBlocks) return DISK_E_NOMEM;
  load->sector = static_cast<std::uint8_t*>(sector.get());
  load->buffers = static_cast<std::uint8_t*>(buffers.get());
  load->treeBlocks = static_cast<std::uint32_t*>(treeBlocks.get());
  for (std::uint32_t ag = 0; ag < load->geometry.agCount; ++ag) {
    const DiskResult r = LoadGroup(load, ag);
    if (r != DISK_OK) return r;
  }
  return DISK_OK;
}

DiskResult XfsOpen(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  *state = nullptr;
  const std::uint64_t volumeByte = static_cast<std::uint64_t>(first) * kSectorBytes;
  std::uint8_t sb[kSectorBytes];
  DiskResult r = ImageRead(image, volumeByte, kSectorBytes, sb);
  if (r != DISK_OK) return r;
  XfsLoad load{image, volumeByte, {}, nullptr, nullptr, nullptr, nullptr};
  r = ParseSuperblock(sb, count, &load.geometry);
  if (r != DISK_OK) return r;
  const XfsGeometry& g = load.geometry;
  ClusterBitmap* map = NewClusterBitmap(first, g.blockSize / kSectorBytes, g.dataBlocks, (g.dataBlocks + 7ull) / 8);
  if (map == nullptr) return DISK_E_NOMEM;
  std::memset(map->bits, 0xFF, map->bitmapBytes);
  load.bits = map->bits;
  r = LoadGroups(&load);
  if (r != DISK_OK) {
    FreeClusterBitmap(map);
    return r;
  }
  *state = map;
  return DISK_OK;
}

}  // namespace

const FsHandler kXfsHandler{"XFS", &XfsOpen, &ClusterBitmapQuery, &FreeClusterBitmap};

}  // namespace qvt
