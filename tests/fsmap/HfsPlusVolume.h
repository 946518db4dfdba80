// A generator of HFS Plus and HFSX volumes, since Debian has no mkfs.hfsplus.
//
// What it lays out, in allocation-block order (all fields big-endian, as
// Apple's Technical Note TN1150 describes them):
//   - the boot blocks and the volume header (the first 1536 bytes), and the
//     alternate volume header in the volume's last 1024 bytes; their blocks
//     are marked used;
//   - the allocation file (one bit per block, most significant bit first),
//     either in one extent or, with `fragmentAllocation`, in ten extents
//     with a free block between each: eight in the volume header, the last
//     two in one leaf record of the extents overflow tree;
//   - the extents overflow file: a B-tree of 4096-byte nodes (header node,
//     and the leaf when the allocation file overflows);
//   - the catalog file: a B-tree of 8192-byte nodes with a header node and
//     one leaf holding the root folder and its thread, one subfolder
//     ("docs") and its thread, and a file record and thread per file;
//   - each file's data fork, in one extent, or in two with a gap for files
//     marked `split`; and, after all of them, "deleted" data: blocks filled
//     with bytes but marked free.
// No attributes, startup or journal file. Names are lower-case ASCII, so
// HFS Plus's case-folding order and HFSX's binary order agree.
#ifndef QVT_TESTS_FSMAP_HFSPLUSVOLUME_H
#define QVT_TESTS_FSMAP_HFSPLUSVOLUME_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvt::test {

struct HfsPlusFile {
  std::string name;
  bool inDocs;  // in the "docs" folder, else in the root
  bool split;   // data in two extents
  std::vector<std::uint8_t> data;
};

struct HfsPlusRecipe {
  std::uint32_t blockSize;
  std::uint32_t totalBlocks;
  bool hfsx;
  bool fragmentAllocation;
  std::vector<HfsPlusFile> files;
};

struct HfsPlusVolume {
  std::vector<std::uint8_t> bytes;
  std::vector<bool> blockUsed;  // as the generator allocated them
  std::uint32_t allocationFirstBlock;  // of the allocation file's first extent
  std::uint32_t extentsFirstBlock;     // of the extents overflow file
};

// False when the files do not fit.
bool MakeHfsPlusVolume(const HfsPlusRecipe& recipe, HfsPlusVolume* out);

// Files with generated content, some in "docs", some split.
std::vector<HfsPlusFile> SomeHfsPlusFiles(std::uint32_t blockSize, int count);

}  // namespace qvt::test

#endif
