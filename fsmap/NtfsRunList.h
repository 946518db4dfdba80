// NTFS run lists (mapping pairs): where the clusters of a non-resident
// attribute lie on the volume.
#ifndef QVT_FSMAP_NTFSRUNLIST_H
#define QVT_FSMAP_NTFSRUNLIST_H

#include <cstddef>
#include <cstdint>

#include "DiskResult.h"

namespace qvt {

struct NtfsRun {
  std::int64_t firstCluster;  // LCN
  std::uint32_t length;       // clusters, at least 1
};

// Decodes the mapping pairs in `pairs[0, size)`. With `runs` null it only
// counts; otherwise it fills at most `capacity` runs. `*count` is the
// number of runs. DISK_E_FS_BITMAP for a list this reader cannot trust: a
// field wider than 4 bytes, one that runs past `size`, a list without its
// closing 0, a run of length 0, a sparse run (no offset field: there is no
// place on the volume to keep in use for it), or a run starting outside
// [0, 2^31) clusters.
DiskResult DecodeNtfsRunList(const std::uint8_t* pairs, std::size_t size, NtfsRun* runs,
                             std::uint32_t capacity, std::uint32_t* count);

}  // namespace qvt

#endif
