// Building and freeing the trim map of an open disk image. The map only
// reads the image (ImageRead), never writes it.
#ifndef QVT_FSMAP_ALLOCATIONMAPBUILD_H
#define QVT_FSMAP_ALLOCATIONMAPBUILD_H

#include "AllocationMap.h"
#include "AllocationMapTypes.h"
#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

// On success *map owns a new map (free it with FreeAllocationMap); on
// failure *map is null and nothing is kept. Also makes the engine's
// AllocationMapGetBits answer from maps built here.
DiskResult BuildAllocationMap(ImageHandle* image, AllocationMap** map);

// Closes every reader state and frees the map; null does nothing.
void FreeAllocationMap(AllocationMap* map);

// The answer AllocationMapGetBits gives for maps built here (a null map:
// every sector in use).
DiskResult FsmapGetBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                        std::uint8_t* bits);

}  // namespace qvt

#endif
