#include "TestAllocationMap.h"

#include <cstring>

#include "AllocationMap.h"

namespace qvt {
namespace {

// The map's side of the emptiness query, answered from the test's flags the
// way the filesystem readers will answer from theirs.
DiskResult TestMapBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                       std::uint8_t* bits) {
  map->asked.emplace_back(first, count);
  if (map->failure != DISK_OK) return map->failure;
  std::memset(bits, 0, (count + 7) / 8);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t s = static_cast<std::uint64_t>(first) + i;
    if (s < map->used.size() && map->used[s])
      bits[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
  }
  return DISK_OK;
}

struct RegisterTestMap {
  RegisterTestMap() { AllocationMapSetQuery(&TestMapBits); }
} registerTestMap;

}  // namespace
}  // namespace qvt

