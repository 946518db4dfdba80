// A generator of small XFS volumes of the version 4 format for the tests
// that must run without xfsprogs (under Wine) and for single-fault
// fixtures. Each allocation group gets a superblock copy, an AGF and a
// by-block-number free-space tree over the free extents the caller gives
// (AG-relative); with more extents than a leaf holds, the tree gets a
// second level. The tree's blocks sit right after the group's headers, and
// everything not listed as free is in use.
#ifndef QVT_TESTS_FSMAP_XFSVOLUMELAYER_H
#define QVT_TESTS_FSMAP_XFSVOLUMELAYER_H

#include <cstdint>
#include <vector>

namespace qvt::test {

struct XfsExtent {
  std::uint32_t start;  // AG block
  std::uint32_t count;
};

struct XfsShape {
  std::uint32_t blockSize = 512;
  std::uint32_t agBlocks = 32768;  // 16 MiB, the smallest group XFS makes
  std::uint32_t agCount = 2;
  std::uint32_t dataBlocks = 2 * 32768 - 300;  // a short last group
  std::vector<std::vector<XfsExtent>> freeExtents;  // per group
};

struct LaidXfs {
  std::vector<std::uint8_t> bytes;
  std::vector<bool> blockInUse;  // the truth, one per block
  std::vector<std::uint64_t> agfOffsets;    // byte offset of each AGF
  std::vector<std::uint64_t> rootOffsets;   // byte offset of each by-block-number root block
  std::vector<std::uint64_t> leafOffsets;   // byte offsets of those trees' leaves (of all groups)
};

// The first AG block a generated tree leaves free for extents.
constexpr std::uint32_t kXfsFirstFreeBlock = 16;

LaidXfs LayXfsVolume(const XfsShape& shape);

}  // namespace qvt::test

#endif
