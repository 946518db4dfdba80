// The files a populated test volume is filled with: a small tree of
// seeded random files of awkward sizes, written on the host, copied in by
// the filesystem's own driver, some then deleted, so that the volume has
// holes and fragments. Shared by the readers whose peers mount through FUSE.
#ifndef QVT_TESTS_FSMAP_PEERVOLUMEFILES_H
#define QVT_TESTS_FSMAP_PEERVOLUMEFILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvt::test {

struct PeerFile {
  std::string path;  // relative, '/'-separated
  std::string host;  // the host copy, for the byte-for-byte comparison
  bool kept;         // false: deleted from the volume after the copy
};

// Writes the tree under `hostDir` (created); `bigBytes` adds one file of
// that size (0: none), to fill a volume nearly to the top.
std::vector<PeerFile> WritePeerFiles(const std::string& hostDir, std::uint32_t seed, std::uint64_t bigBytes);

// Copies the files into the mounted volume at `mountDir` and deletes those
// not kept; the shell status (0 on success).
int CopyPeerFilesIn(const std::vector<PeerFile>& files, const std::string& mountDir);

}  // namespace qvt::test

#endif
