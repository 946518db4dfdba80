// Extent lists of HFS Plus forks, and reading a fork's bytes through them.
#include <algorithm>

#include "ByteOrder.h"
#include "HfsPlusFork.h"
#include "HfsPlusLayout.h"

namespace qvt {

DiskResult ReadForkExtents(const HfsVolume& v, const std::uint8_t* fork, HfsExtent extents[8], std::uint64_t* sum) {
  *sum = 0;
  for (std::size_t i = 0; i < hfsfork::kExtentCount; ++i) {
    const std::uint8_t* e = fork + hfsfork::kExtents + i * hfsfork::kExtentSize;
    extents[i] = HfsExtent{ReadBE32(e), ReadBE32(e + 4)};
    if (extents[i].blockCount == 0) continue;
    // An extent past the volume would read another volume's sectors.
    if (static_cast<std::uint64_t>(extents[i].firstBlock) + extents[i].blockCount > v.totalBlocks) {
      return DISK_E_FORMAT;
    }
    *sum += extents[i].blockCount;
  }
  return DISK_OK;
}

DiskResult ReadForkBytes(const HfsVolume& v, const HfsExtent* extents, std::uint32_t extentCount, std::uint64_t at,
                         std::uint32_t length, std::uint8_t* out) {
  std::uint64_t fileStart = 0;  // file byte where the current extent begins
  for (std::uint32_t i = 0; i < extentCount && length > 0; ++i) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(extents[i].blockCount) * v.blockSize;
    if (at < fileStart + bytes) {
      const std::uint64_t within = at - fileStart;
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, bytes - within));
      const std::uint64_t where = v.offset + static_cast<std::uint64_t>(extents[i].firstBlock) * v.blockSize + within;
      const DiskResult r = ImageRead(v.image, where, n, out);
      if (r != DISK_OK) return r;
      out += n;
      at += n;
      length -= n;
    }
    fileStart += bytes;
  }
  return length == 0 ? DISK_OK : DISK_E_LIMIT;
}

}  // namespace qvt
