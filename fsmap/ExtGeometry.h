// The shape of an ext2/ext3/ext4 volume, taken from its superblock: block
// and group sizes, where each group's descriptor lives, and which blocks at
// the start of a group hold a superblock and descriptor-table copy.
#ifndef QVT_FSMAP_EXTGEOMETRY_H
#define QVT_FSMAP_EXTGEOMETRY_H

#include <cstdint>

#include "DiskResult.h"

namespace qvt {

struct ExtGeometry {
  std::uint32_t blockSize;        // 1, 2 or 4 KiB
  std::uint32_t blocksCount;      // whole volume, blocks below firstDataBlock included
  std::uint32_t firstDataBlock;   // 1 with 1 KiB blocks, else 0
  std::uint32_t blocksPerGroup;   // a multiple of 8 from 256 to 8 x blockSize (one bitmap block)
  std::uint32_t groupCount;
  std::uint32_t descSize;
  std::uint32_t descsPerBlock;
  std::uint32_t descBlocks;       // blocks of the whole descriptor table
  std::uint32_t reservedGdtBlocks;
  std::uint32_t firstMetaBg;
  std::uint32_t inodeTableBlocks; // per group
  std::uint32_t backupGroups[2];  // sparse_super2
  bool sparseSuper;
  bool sparseSuper2;
  bool metaBg;
  bool wideDescriptors;           // 64-bit descriptors with the high halves
  bool uninitGroups;              // descriptors carry checksums: BLOCK_UNINIT means what it says
  bool flexBg;                    // a group's bitmaps may live in another group
};

// Reads the 1024-byte superblock into `geometry`. DISK_E_FS_UNKNOWN when it
// is not ext or is a layout whose bitmaps this reader cannot take at face
// value (block size above 4 KiB, bigalloc, a journal device, a volume that
// claims more blocks than its `volumeSectors`, a superblock whose checksum
// fails); DISK_E_FS_BITMAP when the
// journal still holds changes not yet written to the bitmaps.
DiskResult ParseExtSuperblock(const std::uint8_t* sb, std::uint32_t volumeSectors,
                              ExtGeometry* geometry);

// The first block of group g, and its block count (the last one may be short).
std::uint64_t ExtGroupFirstBlock(const ExtGeometry& g, std::uint32_t group);
std::uint32_t ExtGroupBlocks(const ExtGeometry& g, std::uint32_t group);

// The block that holds group `group`'s descriptor (meta_bg places them in
// the groups they describe).
std::uint64_t ExtDescriptorBlock(const ExtGeometry& g, std::uint32_t group);

// The blocks at the start of group `group` that hold the superblock and
// descriptor-table copies (and the reserved descriptor blocks behind them).
std::uint32_t ExtGroupHeaderBlocks(const ExtGeometry& g, std::uint32_t group);

}  // namespace qvt

#endif
