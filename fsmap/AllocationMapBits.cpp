// Answering for a range of the disk: each segment the range crosses gives
// its part, through its reader or as "in use".
#include <algorithm>

#include "AllocationMapBuild.h"
#include "FsHandlers.h"

namespace qvt {

DiskResult FsmapGetBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                        std::uint8_t* bits) {
  if (count == 0) return DISK_OK;
  if (map == nullptr) {
    SetBitRange(bits, 0, count, true);
    return DISK_OK;
  }
  std::uint32_t i = 0;
  std::uint64_t offset = first;  // within segment i
  while (i < map->segmentCount && offset >= map->segments[i].sectorCount) {
    offset -= map->segments[i].sectorCount;
    ++i;
  }
  std::uint32_t done = 0;
  while (done < count) {
    if (i >= map->segmentCount) return DISK_E_LIMIT;
    const AllocationSegment& s = map->segments[i];
    const auto part = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(s.sectorCount - offset, count - done));
    if (s.kind >= 0) {
      const DiskResult r = FsHandlerOf(s.kind).query(s.state, static_cast<std::uint32_t>(offset),
                                                     part, bits, done);
      if (r != DISK_OK) {
        // What the reader could not answer is never called free.
        SetBitRange(bits, done, part, true);
        return r;
      }
    } else {
      SetBitRange(bits, done, part, true);
    }
    done += part;
    offset = 0;
    ++i;
  }
  return DISK_OK;
}

}  // namespace qvt
