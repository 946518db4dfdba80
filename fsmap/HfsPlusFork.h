// The forks of an HFS Plus volume the allocation reader walks: the extents
// overflow file (read through its eight volume-header extents) and the
// allocation file (its extents from the volume header, then from the
// extents overflow B-tree).
#ifndef QVT_FSMAP_HFSPLUSFORK_H
#define QVT_FSMAP_HFSPLUSFORK_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

struct HfsExtent {
  std::uint32_t firstBlock;
  std::uint32_t blockCount;
};

struct HfsVolume {
  ImageHandle* image;
  std::uint64_t offset;       // volume start, bytes on the image
  std::uint32_t blockSize;
  std::uint32_t totalBlocks;  // as the volume header says, bounded by the partition
};

// The eight extents of an 80-byte fork data record, each checked to lie in
// the volume; `sum` their block count. DISK_E_FORMAT for one outside.
DiskResult ReadForkExtents(const HfsVolume& v, const std::uint8_t* fork, HfsExtent extents[8], std::uint64_t* sum);

// Reads `length` bytes at byte `at` of the file whose extents are `extents`;
// DISK_E_LIMIT past them.
DiskResult ReadForkBytes(const HfsVolume& v, const HfsExtent* extents, std::uint32_t extentCount, std::uint64_t at,
                         std::uint32_t length, std::uint8_t* out);

// Called for each extent of the allocation file found in the extents
// overflow tree, in file order.
using HfsExtentSink = DiskResult (*)(void* context, const HfsExtent& extent);

// Finds the allocation file's extents from file block `found` on in the
// extents overflow tree (whose file has `treeExtents`), until `total` blocks
// are found, handing each to `sink`. DISK_E_FORMAT for a damaged tree or
// extents that do not add up.
DiskResult WalkAllocationOverflow(const HfsVolume& v, const HfsExtent treeExtents[8], std::uint64_t found,
                                  std::uint64_t total, HfsExtentSink sink, void* context);

}  // namespace qvt

#endif
