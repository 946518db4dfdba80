// Hand-laid FAT volumes for the reader's edge cases: a parameter block with
// chosen counts and single FAT entries, written into a raw disk; and the
// reader opened directly on a volume, with its answer per sector.
#ifndef QVT_TESTS_FSMAP_FATVOLUMEKIT_H
#define QVT_TESTS_FSMAP_FATVOLUMEKIT_H

#include <cstdint>
#include <vector>

#include "FsPropertyKit.h"

namespace qvt::test {

struct PcFatLayout {
  std::uint32_t bytesPerSector = 512;
  std::uint32_t sectorsPerCluster = 1;
  std::uint32_t reservedSectors = 1;
  std::uint32_t fatCount = 2;
  std::uint32_t rootEntries = 512;
  std::uint32_t totalSectors = 0;
  std::uint32_t fatSectors = 0;
  bool fat32Fields = false;  // FAT size in the 32-bit field, 16-bit field 0
  std::uint8_t media = 0xF8;

  std::uint64_t FatOffset() const { return static_cast<std::uint64_t>(reservedSectors) * bytesPerSector; }
  std::uint64_t FatBytes() const { return static_cast<std::uint64_t>(fatSectors) * bytesPerSector; }
  std::uint64_t DataOffset() const;
};

// A layout of `clusters` clusters of one 512-byte sector, with FATs just
// large enough for entries of `entryBits` bits.
PcFatLayout LayoutWithClusters(std::uint32_t clusters, int entryBits);

// Writes the parameter block of `l` at the start of the volume at `first`.
void PutBootSector(RawDisk* disk, std::uint32_t first, const PcFatLayout& l);
// Sets entry `entry` to `value` in every FAT copy (or only in `onlyCopy`).
void PutFatEntry(RawDisk* disk, std::uint32_t first, const PcFatLayout& l, int entryBits, std::uint32_t entry,
                 std::uint32_t value, int onlyCopy = -1);

// AskReader with the FAT reader.
ReaderAnswer AskFatReader(RawDisk* disk, std::uint32_t first, std::uint32_t count, std::uint32_t querySectors);

}  // namespace qvt::test

#endif
