// NTFS volumes for the reader's tests, made by mkntfs and filled through
// the ntfs-3g FUSE driver (or ntfscp where mounting fails), each made once
// per test program. The reader's independent answer is `ntfscat '$Bitmap'`.
#ifndef QVT_TESTS_FSMAP_NTFSTESTVOLUMES_H
#define QVT_TESTS_FSMAP_NTFSTESTVOLUMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "PeerVolumeFiles.h"

namespace qvt::test {

struct NtfsVolume {
  std::string image;            // bare volume file
  std::uint32_t sectors = 0;    // of the volume file
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t clusters = 0;   // total sectors / sectors per cluster
  std::uint64_t mftCluster = 0;
  std::vector<std::uint8_t> bitmap;  // $Bitmap as ntfscat reads it
  std::vector<PeerFile> files;  // empty for an unfilled volume
  bool mounted = false;         // filled through ntfs-3g (else ntfscp)
};

// Makes (once per name and program) a volume of `bytes` bytes with
// clusters of `cluster` bytes; `fill` copies the peer files in, `bigBytes`
// adds one large file. False with `why` when the tools are missing or fail.
bool MakeNtfsVolume(const std::string& name, std::uint64_t bytes, std::uint32_t cluster, bool fill,
                    std::uint64_t bigBytes, const NtfsVolume** out, std::string* why);

// Whether cluster `c` is in use in the volume's own bitmap (clusters past
// it count as in use).
bool NtfsClusterUsed(const NtfsVolume& v, std::uint64_t c);

// What the volume uses, one bool per sector of the volume file.
std::vector<bool> NtfsUsedSectors(const NtfsVolume& v);

std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

}  // namespace qvt::test

#endif
