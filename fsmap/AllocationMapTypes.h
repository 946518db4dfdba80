// The trim map of one guest disk: the disk cut into segments, each a volume
// with its filesystem reader's state, an unrecognised volume, or space that
// belongs to no volume. Built by BuildAllocationMap, asked through the
// engine's AllocationMapGetBits, freed by FreeAllocationMap.
#ifndef QVT_FSMAP_ALLOCATIONMAPTYPES_H
#define QVT_FSMAP_ALLOCATIONMAPTYPES_H

#include <cstdint>

namespace qvt {

// Kinds of a segment: 0 to 7 index the handler table (FsHandlers.h).
constexpr std::int32_t kSegmentUnrecognised = -1;  // a volume no reader knows
constexpr std::int32_t kSegmentNoVolume = -2;      // before, between, after volumes

struct AllocationSegment {
  std::uint32_t firstSector;
  std::uint32_t sectorCount;
  std::int32_t kind;
  void* state;  // the handler's, owned; null for kinds -1 and -2
};

struct AllocationMap {
  std::uint32_t sectorSize;
  std::uint32_t segmentCount;
  AllocationSegment* segments;  // ascending, covering sector 0 to the last
};

}  // namespace qvt

#endif
