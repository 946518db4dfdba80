// Filesystems whose allocation readers are still to come. Until a reader
// lands, its filesystem is not recognised, so its volume is kept in use as a
// whole: the map stays correct, only not yet small.
#include "FsHandlerTable.h"

namespace qvt {
namespace {

DiskResult NotRead(void** state, ImageHandle*, std::uint32_t, std::uint32_t) {
  *state = nullptr;
  return DISK_E_FS_UNKNOWN;
}

DiskResult AllInUse(const void*, std::uint32_t, std::uint32_t count, std::uint8_t* bits,
                    std::uint32_t firstBit) {
  SetBitRange(bits, firstBit, count, true);
  return DISK_OK;
}

void Nothing(void*) {}

}  // namespace

const FsHandler kNtfsHandler{"NTFS", &NotRead, &AllInUse, &Nothing};
const FsHandler kExtHandler{"ext2/3/4", &NotRead, &AllInUse, &Nothing};
const FsHandler kFatHandler{"FAT", &NotRead, &AllInUse, &Nothing};
const FsHandler kXfsHandler{"XFS", &NotRead, &AllInUse, &Nothing};
const FsHandler kExfatHandler{"exFAT", &NotRead, &AllInUse, &Nothing};
const FsHandler kHfsPlusHandler{"HFS+", &NotRead, &AllInUse, &Nothing};

}  // namespace qvt
