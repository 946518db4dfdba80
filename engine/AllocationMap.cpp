#include "AllocationMap.h"

#include <atomic>
#include <cstring>

namespace qvt {
namespace {

std::atomic<AllocationMapQuery> registered{nullptr};

// Without a filesystem reader nothing is known to be free.
DiskResult EverySectorInUse(const AllocationMap*, std::uint32_t, std::uint32_t count,
                            std::uint8_t* bits) {
  const std::uint32_t bytes = count / 8;
  std::memset(bits, 0xFF, bytes);
  if (count % 8 != 0) bits[bytes] = static_cast<std::uint8_t>((1u << (count % 8)) - 1);
  return DISK_OK;
}

}  // namespace

AllocationMapQuery AllocationMapSetQuery(AllocationMapQuery query) {
  return registered.exchange(query);
}

DiskResult AllocationMapGetBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                                std::uint8_t* bits) {
  const AllocationMapQuery query = registered.load();
  return query != nullptr ? query(map, first, count, bits)
                          : EverySectorInUse(map, first, count, bits);
}

}  // namespace qvt
