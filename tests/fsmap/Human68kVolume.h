// A generator of Human68k (X68000) FAT volumes, since no tool makes them.
//
// Layout, as the X68000's own format lays a volume out: the boot record in
// the first sector ("SHARP/KG    " at byte 2, big-endian counts: bytes per
// sector at 18, sectors per cluster at 20, FAT copies at 21, reserved
// sectors at 22, root entries at 24, total sectors at 26 (or, when 0, the
// 32-bit count at 30), media byte at 28, sectors per FAT at 29); then the
// FAT copies, each starting with the media byte and 0xFF filler; then the
// root directory (32-byte entries, name 8 + extension 3, attribute at 11,
// first cluster at 26 and size at 28, little-endian as in MS-DOS); then the
// clusters. FAT16 entries are big-endian, FAT12 entries are packed as on a
// PC. Files are laid in cluster order with one free cluster after each, and
// the cluster given as `badCluster` is marked bad (0xFFF7 / 0xFF7).
#ifndef QVT_TESTS_FSMAP_HUMAN68KVOLUME_H
#define QVT_TESTS_FSMAP_HUMAN68KVOLUME_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvt::test {

struct Human68kGeometry {
  std::uint32_t bytesPerSector;
  std::uint32_t sectorsPerCluster;
  std::uint32_t fatCount;
  std::uint32_t reservedSectors;
  std::uint32_t rootEntries;
  std::uint32_t totalSectors;
  std::uint32_t fatSectors;
  bool fat16;
  std::uint32_t badCluster;  // 0-based data cluster, or ~0u for none
};

struct Human68kFile {
  std::string name;  // up to 8 characters, no extension
  std::vector<std::uint8_t> data;
};

struct Human68kVolume {
  std::vector<std::uint8_t> bytes;
  std::vector<bool> clusterUsed;  // per data cluster, as the generator laid them
  std::uint64_t dataOffset;       // bytes
  std::uint32_t bytesPerCluster;
};

// Lays out `files` in a volume of geometry `g`; false when they do not fit.
bool MakeHuman68kVolume(const Human68kGeometry& g, const std::vector<Human68kFile>& files, Human68kVolume* out);

// Reads a file back by its name from volume bytes of geometry `g`, walking
// the root directory and the FAT chain; false when it is not found or its
// chain is broken.
bool ReadHuman68kFile(const std::vector<std::uint8_t>& volume, const Human68kGeometry& g, const std::string& name,
                      std::vector<std::uint8_t>* data);

}  // namespace qvt::test

#endif
