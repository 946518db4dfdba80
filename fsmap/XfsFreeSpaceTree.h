// The walk of one allocation group's by-block-number free-space B+tree: the
// free extents it lists are cleared in the volume's block bitmap. The walk
// trusts nothing it reads: every level, record count, child pointer and
// extent is bounded by the group, the levels must step down by one, and the
// extents must come in ascending, non-overlapping order, so a damaged or
// looping tree ends in a rejection rather than a wrong map or a hang.
#ifndef QVT_FSMAP_XFSFREESPACETREE_H
#define QVT_FSMAP_XFSFREESPACETREE_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

struct XfsGroupWalk {
  ImageHandle* image;
  std::uint64_t groupByte;     // image byte of the group's block 0
  std::uint32_t blockSize;
  std::uint32_t groupBlocks;   // blocks in this group
  std::uint32_t headerBlocks;  // blocks at the group's start that hold its headers
  std::uint32_t firstBit;      // bitmap bit of the group's block 0
  std::uint8_t* bits;          // the volume bitmap, 1 = in use
  std::uint8_t* buffers;       // kMaxTreeLevels blocks, one per tree level
  std::uint32_t* treeBlocks;   // the tree's own blocks, put back in use after the walk
  std::uint32_t treeBlockCapacity;
};

struct XfsTreeRoot {
  std::uint32_t block;
  std::uint32_t levels;
};

// Clears the free extents of the by-block-number tree `bno`. Version 4
// blocks carry no checksums, so the group's by-size tree `cnt`, which must
// list the very same extents, and the AGF's free-block total `freeBlocks`
// stand in for them: a byte damaged in either tree makes the two disagree.
// DISK_E_FS_UNKNOWN for trees this reader cannot trust (including the
// newer format's block magic); read codes as they come.
DiskResult ClearXfsFreeExtents(XfsGroupWalk* walk, XfsTreeRoot bno, XfsTreeRoot cnt, std::uint32_t freeBlocks);

}  // namespace qvt

#endif
