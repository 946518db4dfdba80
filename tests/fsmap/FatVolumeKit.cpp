#include "FatVolumeKit.h"

#include "ByteOrder.h"
#include "FsHandlerTable.h"

namespace qvt::test {

std::uint64_t PcFatLayout::DataOffset() const {
  const std::uint64_t rootBytes = (rootEntries * 32ull + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
  return FatOffset() + FatBytes() * fatCount + rootBytes;
}

PcFatLayout LayoutWithClusters(std::uint32_t clusters, int entryBits) {
  PcFatLayout l;
  if (entryBits == 32) {
    l.rootEntries = 0;
    l.fat32Fields = true;
    l.reservedSectors = 32;
  }
  const std::uint64_t fatBytes = (static_cast<std::uint64_t>(clusters) + 2) * entryBits / 8 + 1;
  l.fatSectors = static_cast<std::uint32_t>((fatBytes + 511) / 512);
  l.totalSectors = static_cast<std::uint32_t>(l.DataOffset() / 512) + clusters;
  return l;
}

void PutBootSector(RawDisk* disk, std::uint32_t first, const PcFatLayout& l) {
  std::vector<std::uint8_t> b(512, 0);
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  for (int i = 0; i < 8; ++i) b[3 + i] = static_cast<std::uint8_t>("HANDMADE"[i]);
  WriteLE16(&b[11], static_cast<std::uint16_t>(l.bytesPerSector));
  b[13] = static_cast<std::uint8_t>(l.sectorsPerCluster);
  WriteLE16(&b[14], static_cast<std::uint16_t>(l.reservedSectors));
  b[16] = static_cast<std::uint8_t>(l.fatCount);
  WriteLE16(&b[17], static_cast<std::uint16_t>(l.rootEntries));
  if (l.totalSectors <= 0xFFFF && !l.fat32Fields) {
    WriteLE16(&b[19], static_cast<std::uint16_t>(l.totalSectors));
  } else {
    WriteLE32(&b[32], l.totalSectors);
  }
  b[21] = l.media;
  if (l.fat32Fields) {
    WriteLE32(&b[36], l.fatSectors);
  } else {
    WriteLE16(&b[22], static_cast<std::uint16_t>(l.fatSectors));
  }
  b[510] = 0x55;
  b[511] = 0xAA;
  disk->Put(static_cast<std::uint64_t>(first) * 512, b);
}

void PutFatEntry(RawDisk* disk, std::uint32_t first, const PcFatLayout& l, int entryBits, std::uint32_t entry,
                 std::uint32_t value, int onlyCopy) {
  for (std::uint32_t c = 0; c < l.fatCount; ++c) {
    if (onlyCopy >= 0 && c != static_cast<std::uint32_t>(onlyCopy)) continue;
    const std::uint64_t fat = static_cast<std::uint64_t>(first) * 512 + l.FatOffset() + c * l.FatBytes();
    if (entryBits == 32) {
      disk->PutLE32(fat + entry * 4ull, value);
    } else if (entryBits == 16) {
      disk->Put(fat + entry * 2ull, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
    } else {
      // Two FAT12 entries share three bytes; the neighbour is left as 0.
      const std::uint64_t at = fat + entry * 3ull / 2;
      if ((entry & 1) != 0) {
        disk->Put(at, {static_cast<std::uint8_t>((value & 0x0F) << 4), static_cast<std::uint8_t>(value >> 4)});
      } else {
        disk->Put(at, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>((value >> 8) & 0x0F)});
      }
    }
  }
}

ReaderAnswer AskFatReader(RawDisk* disk, std::uint32_t first, std::uint32_t count, std::uint32_t querySectors) {
  return AskReader(kFatHandler, disk, first, count, querySectors);
}

}  // namespace qvt::test
