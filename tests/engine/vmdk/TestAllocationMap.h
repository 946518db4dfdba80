// The allocation map the extent tests hand to the emptiness queries: one
// flag per sector of the whole disk, answered through the engine's query
// hook the way the filesystem readers answer from their bitmaps. Kept apart
// from the other kits, so that programs that link the real map never see it.
#ifndef QVT_TESTS_ENGINE_VMDK_TESTALLOCATIONMAP_H
#define QVT_TESTS_ENGINE_VMDK_TESTALLOCATIONMAP_H

#include <cstdint>
#include <utility>
#include <vector>

#include "DiskResult.h"

namespace qvt {

struct AllocationMap {
  std::vector<bool> used;
  DiskResult failure = DISK_OK;  // answered instead of bits when set
  mutable std::vector<std::pair<std::uint32_t, std::uint32_t>> asked;  // (first, count)
};

}  // namespace qvt

#endif
