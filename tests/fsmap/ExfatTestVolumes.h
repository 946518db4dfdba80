// exFAT volumes for the reader's tests, made by mkfs.exfat and filled
// through exfat-fuse on a loop device (left empty where mounting fails),
// each made once per test program. The independent answer is sleuthkit's
// `blkls -l -a`, which lists the sectors the volume uses.
#ifndef QVT_TESTS_FSMAP_EXFATTESTVOLUMES_H
#define QVT_TESTS_FSMAP_EXFATTESTVOLUMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "PeerVolumeFiles.h"

namespace qvt::test {

struct ExfatVolume {
  std::string image;          // bare volume file
  std::uint32_t sectors = 0;
  std::uint32_t heapOffset = 0;   // sectors
  std::uint32_t clusterSectors = 0;
  std::uint32_t clusters = 0;
  std::vector<bool> used;     // per sector, from blkls
  std::vector<PeerFile> files;  // empty when not filled
};

bool MakeExfatVolume(const std::string& name, std::uint64_t bytes, std::uint32_t cluster, bool fill,
                     std::uint64_t bigBytes, const ExfatVolume** out, std::string* why);

}  // namespace qvt::test

#endif
