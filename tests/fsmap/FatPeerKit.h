// FAT volumes made and filled by dosfstools and mtools, for the FAT reader's
// tests: the making, the filling (files and folders written, some deleted,
// optionally until the volume is full), and sleuthkit's view of which of
// their sectors are allocated.
#ifndef QVT_TESTS_FSMAP_FATPEERKIT_H
#define QVT_TESTS_FSMAP_FATPEERKIT_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qvt::test {

struct FatVolumeCase {
  const char* name;
  int fatBits;                 // mkfs.fat -F
  int sectorsPerCluster;       // mkfs.fat -s
  std::uint32_t kib;           // volume size
  bool fill;                   // write until the volume is full, then free a little
};
inline void PrintTo(const FatVolumeCase& c, std::ostream* os) { *os << c.name; }

// Whether dosfstools, mtools and sleuthkit are all on this machine.
bool HaveFatPeers();

// Makes `c` as the file `volume` and fills it from a tree of generated files
// under `scratch`; "" on success, else the failing command's log.
std::string MakeFatVolume(const FatVolumeCase& c, const std::string& scratch, const std::string& volume);

// sleuthkit's allocation of each sector of the FAT volume at sector `offset`
// of `image` (true = allocated); empty when blkls fails.
std::vector<bool> BlklsAllocated(const std::string& image, std::uint32_t offset, std::uint32_t sectors);

// Copies every file of the FAT volume `volume` into the folder `out`
// (mcopy); "" on success, else the log.
std::string ExtractFatFiles(const std::string& volume, const std::string& out);

}  // namespace qvt::test

#endif
