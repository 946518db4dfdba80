#include "ExtVolumeLayer.h"

#include <algorithm>

#include "ByteOrder.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kMetadataPerGroup = 3;  // block bitmap, inode bitmap, inode table

std::uint32_t FirstDataBlock(const ExtShape& s) { return s.blockSize == 1024 ? 1 : 0; }

std::uint32_t GroupCount(const ExtShape& s) {
  return (s.blocksCount - FirstDataBlock(s) + s.blocksPerGroup - 1) / s.blocksPerGroup;
}

std::uint32_t DescBlocks(const ExtShape& s) {
  const std::uint32_t perBlock = s.blockSize / s.descSize;
  return (GroupCount(s) + perBlock - 1) / perBlock;
}

// The descriptor checksum of gdt_csum: CRC-16/ARC over the volume UUID, the
// group number and the descriptor without its checksum field.
std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ p[i]);
    for (int k = 0; k < 8; ++k) crc = static_cast<std::uint16_t>((crc >> 1) ^ ((crc & 1) != 0 ? 0xA001 : 0));
  }
  return crc;
}

void SealDescriptor(const std::uint8_t* sb, std::uint32_t group, std::uint8_t* d, std::uint32_t size) {
  std::uint8_t le[4];
  WriteLE32(le, group);
  std::uint16_t c = Crc16(0xFFFF, sb + 104, 16);
  c = Crc16(Crc16(c, le, 4), d, 30);
  if (size > 32) c = Crc16(c, d + 32, size - 32);
  WriteLE16(d + 30, c);
}

void LaySuperblock(const ExtShape& s, std::uint8_t* sb) {
  std::uint32_t log = 0;
  while ((1024u << log) < s.blockSize) ++log;
  WriteLE32(sb + 0, GroupCount(s) * (s.blockSize / 128));  // inodes count
  WriteLE32(sb + 4, s.blocksCount);
  WriteLE32(sb + 20, FirstDataBlock(s));
  WriteLE32(sb + 24, log);
  WriteLE32(sb + 32, s.blocksPerGroup);
  WriteLE32(sb + 36, s.blocksPerGroup);
  WriteLE32(sb + 40, s.blockSize / 128);  // inodes per group: one table block
  WriteLE16(sb + 56, 0xEF53);
  WriteLE32(sb + 76, 1);
  WriteLE16(sb + 88, 128);
  WriteLE32(sb + 96, 0x0002 | (s.descSize > 32 ? 0x0080u : 0u));  // filetype, 64bit
  WriteLE32(sb + 100, s.uninitGroups ? 0x0010u : 0u);             // gdt_csum
  for (int i = 0; i < 16; ++i) sb[104 + i] = static_cast<std::uint8_t>(0x51 + 7 * i);  // UUID
  WriteLE16(sb + 254, static_cast<std::uint16_t>(s.descSize > 32 ? s.descSize : 0));
}

}  // namespace

std::uint64_t DescriptorOffset(const LaidExt& laid, const ExtShape& shape, std::uint32_t group) {
  return laid.descriptorTable + static_cast<std::uint64_t>(group) * shape.descSize;
}

void ResealDescriptor(LaidExt& laid, const ExtShape& shape, std::uint32_t group) {
  SealDescriptor(laid.bytes.data() + 1024, group, laid.bytes.data() + DescriptorOffset(laid, shape, group),
                 shape.descSize);
}

LaidExt LayExtVolume(const ExtShape& s) {
  LaidExt laid;
  laid.bytes.assign(static_cast<std::size_t>(s.blocksCount) * s.blockSize, 0);
  laid.blockInUse.assign(s.blocksCount, false);
  const std::uint32_t fdb = FirstDataBlock(s);
  for (std::uint32_t b = 0; b < fdb; ++b) laid.blockInUse[b] = true;
  LaySuperblock(s, laid.bytes.data() + 1024);
  laid.descriptorTable = static_cast<std::uint64_t>(fdb + 1) * s.blockSize;
  const std::uint32_t header = 1 + DescBlocks(s);
  for (std::uint32_t g = 0; g < GroupCount(s); ++g) {
    const std::uint32_t first = fdb + g * s.blocksPerGroup;
    const std::uint32_t blocks = std::min(s.blocksPerGroup, s.blocksCount - first);
    const std::uint32_t bitmap = first + header;
    for (std::uint32_t b = first; b < first + header + kMetadataPerGroup; ++b) laid.blockInUse[b] = true;
    bool holdsData = false;
    for (std::uint32_t b : s.fileBlocks) {
      if (b >= first && b < first + blocks) {
        laid.blockInUse[b] = true;
        holdsData = true;
      }
    }
    if (g > 0) {  // superblock and table copies
      std::copy_n(laid.bytes.begin() + 1024, 1024, laid.bytes.begin() + static_cast<std::ptrdiff_t>(first) * s.blockSize);
    }
    std::uint8_t* bm = laid.bytes.data() + static_cast<std::size_t>(bitmap) * s.blockSize;
    std::uint32_t free = 0;
    for (std::uint32_t k = 0; k < 8 * s.blockSize; ++k) {
      const bool used = k >= blocks || laid.blockInUse[first + k];
      if (!used) ++free;
      if (used) bm[k / 8] = static_cast<std::uint8_t>(bm[k / 8] | (1u << (k % 8)));
    }
    const bool uninit = s.uninitGroups && g > 0 && !holdsData;
    if (uninit) std::fill_n(bm, s.blockSize, 0xAA);
    std::uint8_t* d = laid.bytes.data() + laid.descriptorTable + static_cast<std::size_t>(g) * s.descSize;
    WriteLE32(d + 0, bitmap);
    WriteLE32(d + 4, bitmap + 1);
    WriteLE32(d + 8, bitmap + 2);
    WriteLE16(d + 12, static_cast<std::uint16_t>(free));
    WriteLE16(d + 18, uninit ? 0x0002 : 0);
    if (s.uninitGroups) SealDescriptor(laid.bytes.data() + 1024, g, d, s.descSize);
    laid.groupBitmapOffsets.push_back(static_cast<std::uint64_t>(bitmap) * s.blockSize);
  }
  // The table copies at the start of every later group.
  for (std::uint32_t g = 1; g < GroupCount(s); ++g) {
    const std::size_t at = static_cast<std::size_t>(fdb + g * s.blocksPerGroup + 1) * s.blockSize;
    std::copy_n(laid.bytes.begin() + static_cast<std::ptrdiff_t>(laid.descriptorTable),
                static_cast<std::size_t>(DescBlocks(s)) * s.blockSize, laid.bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return laid;
}

}  // namespace qvt::test
