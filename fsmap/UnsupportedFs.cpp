// Filesystems the map recognises by name only. Their volumes are always kept
// whole: VMFS is not read at all, and nothing of a Btrfs volume's trees
// could tell a copy which sectors it may leave out, so neither reader ever
// accepts a volume.
#include "FsHandlerTable.h"

namespace qvt {
namespace {

DiskResult OpenVmfs(void** state, ImageHandle*, std::uint32_t, std::uint32_t) {
  *state = nullptr;
  return DISK_E_UNSUPPORTED;
}

DiskResult OpenBtrfs(void** state, ImageHandle*, std::uint32_t, std::uint32_t) {
  *state = nullptr;
  return DISK_E_FS_UNKNOWN;
}

DiskResult NoQuery(const void*, std::uint32_t, std::uint32_t count, std::uint8_t* bits,
                   std::uint32_t firstBit) {
  SetBitRange(bits, firstBit, count, true);
  return DISK_OK;
}

void NoClose(void*) {}

}  // namespace

const FsHandler kVmfsHandler{"VMFS", &OpenVmfs, &NoQuery, &NoClose};
const FsHandler kBtrfsHandler{"Btrfs", &OpenBtrfs, &NoQuery, &NoClose};

}  // namespace qvt
