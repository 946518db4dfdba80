// The engine's side of the trim map: the emptiness queries ask the map for
// one bit per sector, and the filesystem readers, which build maps, answer
// through the query they register here. Until one does, every sector counts
// as in use, so a trimmed copy simply trims nothing.
#ifndef QVT_ENGINE_ALLOCATIONMAP_H
#define QVT_ENGINE_ALLOCATIONMAP_H

#include <cstdint>

#include "DiskResult.h"

namespace qvt {

struct AllocationMap;

// One bit per sector of [first, first + count) of the whole disk, sector
// first + i in bit (i % 8) of bits[i / 8], 1 when a filesystem uses the
// sector. `bits` holds at least (count + 7) / 8 bytes.
using AllocationMapQuery = DiskResult (*)(const AllocationMap* map, std::uint32_t first,
                                          std::uint32_t count, std::uint8_t* bits);

// Makes `query` the answer of AllocationMapGetBits; null brings back the
// default (every sector in use). Returns the query it replaces (null for the
// default). Meant for start-up, before any engine work runs.
AllocationMapQuery AllocationMapSetQuery(AllocationMapQuery query);

// Asks the registered query.
DiskResult AllocationMapGetBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                                std::uint8_t* bits);

}  // namespace qvt

#endif
