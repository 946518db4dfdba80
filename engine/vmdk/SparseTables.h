// The grain tables of an open sparse extent, shared by its readers and
// writers: loading (with checks and the reconciliation of the two copies) and
// looking up the entry of one grain.
#ifndef QVT_ENGINE_VMDK_SPARSETABLES_H
#define QVT_ENGINE_VMDK_SPARSETABLES_H

#include <cstdint>

#include "SparseExtent.h"

namespace qvt {

// Loads GT `index` into the extent's GT buffer unless it is there already.
// The GD entry must not be 0. A failed read (or, with a redundant GD, a
// redundant GD entry of 0) is DISK_E_READ; entries that are invalid with no
// valid copy, or two copies that disagree, are DISK_E_FORMAT. Repairs stay in
// memory.
DiskResult SparseLoadGt(SparseExtent* extent, std::uint32_t index);

// The GTE of grain `grain` (grain index within the extent, which must lie
// within it); 0 when the grain is not allocated, also when its GT does not
// exist (then `hasGt` is false).
DiskResult SparseLookupGte(SparseExtent* extent, std::uint64_t grain, std::uint32_t* gte,
                           bool* hasGt);

inline std::uint64_t SparseGrainBytes(const SparseExtent& extent) {
  return static_cast<std::uint64_t>(extent.grainSectors) * 512;
}

// True when [offset, offset + length) bytes lie within the extent.
bool SparseBytesFit(const SparseExtent& extent, std::uint64_t offset, std::uint64_t length);

}  // namespace qvt

#endif
