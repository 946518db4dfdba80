// The state most readers keep: one bit per allocation unit of the volume,
// least significant bit first, 1 = in use. The query rule is shared: a
// sector belongs to unit sector / sectorsPerUnit; a unit at or beyond the
// number of units (or beyond the loaded bitmap) is in use.
#ifndef QVT_FSMAP_CLUSTERBITMAP_H
#define QVT_FSMAP_CLUSTERBITMAP_H

#include <cstddef>
#include <cstdint>

#include "DiskResult.h"

namespace qvt {

struct ClusterBitmap {
  std::uint32_t volumeFirstSector;
  std::uint32_t sectorsPerUnit;  // at least 1
  std::uint32_t unitCount;
  std::uint8_t* bits;        // EngineAlloc'd, owned
  std::size_t bitmapBytes;   // bytes held in `bits`
};

// A new state with a zeroed bitmap of `bitmapBytes` bytes (the reader fills
// it), or null when memory runs out.
ClusterBitmap* NewClusterBitmap(std::uint32_t volumeFirstSector, std::uint32_t sectorsPerUnit,
                                std::uint32_t unitCount, std::size_t bitmapBytes);
void FreeClusterBitmap(void* state);

// The handler query over a ClusterBitmap.
DiskResult ClusterBitmapQuery(const void* state, std::uint32_t first, std::uint32_t count,
                              std::uint8_t* bits, std::uint32_t firstBit);

}  // namespace qvt

#endif
