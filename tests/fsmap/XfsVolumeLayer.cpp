#include "XfsVolumeLayer.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kTreeStart = 4;  // AG block of the first tree block (headers use sectors 0..3)

void LaySuperblock(const XfsShape& s, std::uint8_t* sb) {
  WriteBE32(sb + 0, 0x58465342);
  WriteBE32(sb + 4, s.blockSize);
  WriteBE64(sb + 8, s.dataBlocks);
  WriteBE32(sb + 84, s.agBlocks);
  WriteBE32(sb + 88, s.agCount);
  WriteBE16(sb + 100, 0x3084);  // version 4 with the usual feature bits
  WriteBE16(sb + 102, kSector);
}

std::uint8_t* Block(LaidXfs& l, const XfsShape& s, std::uint64_t agStart, std::uint32_t agBlock) {
  return l.bytes.data() + agStart + static_cast<std::uint64_t>(agBlock) * s.blockSize;
}

constexpr std::uint32_t kBnoMagic = 0x41425442;  // "ABTB"
constexpr std::uint32_t kCntMagic = 0x41425443;  // "ABTC"

void LayHeader(std::uint8_t* b, std::uint32_t magic, std::uint16_t level, std::uint16_t records) {
  WriteBE32(b, magic);
  WriteBE16(b + 4, level);
  WriteBE16(b + 6, records);
  WriteBE32(b + 8, 0xFFFFFFFF);
  WriteBE32(b + 12, 0xFFFFFFFF);
}

struct TreeAt {
  std::uint32_t magic;
  std::uint32_t root;     // AG block
  std::uint32_t levels;
  std::uint32_t blocks;   // blocks the tree takes
};

// Lays one free-space tree of a group at AG block `tree.root` onwards.
void LayTree(LaidXfs& l, const XfsShape& s, std::uint64_t agStart, const std::vector<XfsExtent>& extents,
             TreeAt* tree, bool keepOffsets) {
  const std::uint32_t perLeaf = (s.blockSize - 16) / 8;
  const std::uint32_t leaves = std::max<std::uint32_t>(1, (static_cast<std::uint32_t>(extents.size()) + perLeaf - 1) / perLeaf);
  const bool twoLevels = leaves > 1;
  const std::uint32_t firstLeaf = tree->root + (twoLevels ? 1 : 0);
  tree->levels = twoLevels ? 2 : 1;
  tree->blocks = leaves + (twoLevels ? 1 : 0);
  for (std::uint32_t k = 0; k < leaves; ++k) {
    std::uint8_t* b = Block(l, s, agStart, firstLeaf + k);
    const std::size_t from = static_cast<std::size_t>(k) * perLeaf;
    const std::size_t n = std::min<std::size_t>(perLeaf, extents.size() - std::min(from, extents.size()));
    LayHeader(b, tree->magic, 0, static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
      WriteBE32(b + 16 + i * 8, extents[from + i].start);
      WriteBE32(b + 20 + i * 8, extents[from + i].count);
    }
    if (keepOffsets) l.leafOffsets.push_back(agStart + static_cast<std::uint64_t>(firstLeaf + k) * s.blockSize);
  }
  if (keepOffsets) l.rootOffsets.push_back(agStart + static_cast<std::uint64_t>(tree->root) * s.blockSize);
  if (!twoLevels) return;
  std::uint8_t* root = Block(l, s, agStart, tree->root);
  const std::uint32_t capacity = (s.blockSize - 16) / 12;
  LayHeader(root, tree->magic, 1, static_cast<std::uint16_t>(leaves));
  for (std::uint32_t k = 0; k < leaves; ++k) {
    WriteBE32(root + 16 + k * 8, extents[k * perLeaf].start);
    WriteBE32(root + 20 + k * 8, extents[k * perLeaf].count);
    WriteBE32(root + 16 + capacity * 8 + k * 4, firstLeaf + k);
  }
}

}  // namespace

LaidXfs LayXfsVolume(const XfsShape& s) {
  LaidXfs l;
  l.bytes.assign(static_cast<std::size_t>(s.dataBlocks) * s.blockSize, 0);
  l.blockInUse.assign(s.dataBlocks, true);
  for (std::uint32_t ag = 0; ag < s.agCount; ++ag) {
    const std::uint32_t first = ag * s.agBlocks;
    const std::uint32_t blocks = std::min(s.agBlocks, s.dataBlocks - first);
    const std::uint64_t agStart = static_cast<std::uint64_t>(first) * s.blockSize;
    LaySuperblock(s, l.bytes.data() + agStart);
    std::uint8_t* agf = l.bytes.data() + agStart + kSector;
    WriteBE32(agf + 0, 0x58414746);
    WriteBE32(agf + 4, 1);
    WriteBE32(agf + 8, ag);
    WriteBE32(agf + 12, blocks);
    l.agfOffsets.push_back(agStart + kSector);
    const std::vector<XfsExtent> none;
    const std::vector<XfsExtent>& extents = ag < s.freeExtents.size() ? s.freeExtents[ag] : none;
    TreeAt bno{kBnoMagic, kTreeStart, 0, 0};
    LayTree(l, s, agStart, extents, &bno, true);
    // The by-size tree lists the same extents by (count, start); empty
    // extents are left out of it.
    std::vector<XfsExtent> bySize;
    std::uint32_t freeBlocks = 0;
    for (const XfsExtent& e : extents) {
      if (e.count != 0) bySize.push_back(e);
      freeBlocks += e.count;
    }
    std::sort(bySize.begin(), bySize.end(), [](const XfsExtent& a, const XfsExtent& b) {
      return a.count != b.count ? a.count < b.count : a.start < b.start;
    });
    TreeAt cnt{kCntMagic, kTreeStart + bno.blocks, 0, 0};
    LayTree(l, s, agStart, bySize, &cnt, false);
    WriteBE32(agf + 16, bno.root);
    WriteBE32(agf + 20, cnt.root);
    WriteBE32(agf + 28, bno.levels);
    WriteBE32(agf + 32, cnt.levels);
    WriteBE32(agf + 52, freeBlocks);
    for (const XfsExtent& e : extents) {
      for (std::uint32_t k = 0; k < e.count; ++k) l.blockInUse[first + e.start + k] = false;
    }
    for (std::uint32_t b = kTreeStart; b < cnt.root + cnt.blocks; ++b) l.blockInUse[first + b] = true;
  }
  return l;
}

}  // namespace qvt::test
