// A generator of small ext2-shaped volumes for the tests that must run
// without e2fsprogs (under Wine) and for single-fault fixtures. It lays only
// what an allocation reader reads: the superblock, one descriptor table
// after it, and per group a superblock copy and table copy at its start
// (sparse_super off, so every group has them), then its block bitmap, inode
// bitmap and a one-block inode table. The blocks the caller names are
// marked in use as file data; everything else is free. With `uninitGroups`
// the descriptors claim checksums, and every group but the first that holds
// no file data is flagged BLOCK_UNINIT with its bitmap block left full of
// 0xAA, which a reader must never believe.
#ifndef QVT_TESTS_FSMAP_EXTVOLUMELAYER_H
#define QVT_TESTS_FSMAP_EXTVOLUMELAYER_H

#include <cstdint>
#include <vector>

namespace qvt::test {

struct ExtShape {
  std::uint32_t blockSize = 1024;
  std::uint32_t blocksCount = 3 * 1024 + 1;
  std::uint32_t blocksPerGroup = 1024;
  std::uint32_t descSize = 32;     // 64 lays a 64-bit volume
  bool uninitGroups = false;
  std::vector<std::uint32_t> fileBlocks;
};

struct LaidExt {
  std::vector<std::uint8_t> bytes;  // the volume, blocksCount x blockSize
  std::vector<bool> blockInUse;     // the truth, one per block
  // Where the fields a fault patches live.
  std::uint64_t descriptorTable;                 // byte offset
  std::vector<std::uint64_t> groupBitmapOffsets;  // byte offset of each group's bitmap
};

LaidExt LayExtVolume(const ExtShape& shape);

// Byte offset of group `group`'s descriptor in a laid volume.
std::uint64_t DescriptorOffset(const LaidExt& laid, const ExtShape& shape, std::uint32_t group);

// Writes group `group`'s descriptor checksum again after a patch.
void ResealDescriptor(LaidExt& laid, const ExtShape& shape, std::uint32_t group);

}  // namespace qvt::test

#endif
