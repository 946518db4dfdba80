#include "ClusterBitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Heap.h"

namespace qvt {

ClusterBitmap* NewClusterBitmap(std::uint32_t volumeFirstSector, std::uint32_t sectorsPerUnit,
                                std::uint32_t unitCount, std::size_t bitmapBytes) {
  if (sectorsPerUnit == 0) return nullptr;
  void* place = EngineAlloc(sizeof(ClusterBitmap));
  if (place == nullptr) return nullptr;
  auto* bits = static_cast<std::uint8_t*>(EngineAlloc(bitmapBytes == 0 ? 1 : bitmapBytes));
  if (bits == nullptr) {
    EngineFree(place);
    return nullptr;
  }
  std::memset(bits, 0, bitmapBytes);
  return new (place) ClusterBitmap{volumeFirstSector, sectorsPerUnit, unitCount, bits, bitmapBytes};
}

void FreeClusterBitmap(void* state) {
  auto* map = static_cast<ClusterBitmap*>(state);
  if (map == nullptr) return;
  EngineFree(map->bits);
  EngineFree(map);
}

DiskResult ClusterBitmapQuery(const void* state, std::uint32_t first, std::uint32_t count,
                              std::uint8_t* bits, std::uint32_t firstBit) {
  const auto* map = static_cast<const ClusterBitmap*>(state);
  // Units the bitmap does not hold (past the unit count, or past the bytes
  // that were loaded) are never called free.
  const std::uint64_t known =
      std::min<std::uint64_t>(map->unitCount, static_cast<std::uint64_t>(map->bitmapBytes) * 8);
  std::uint64_t sector = first;
  std::uint64_t out = firstBit;
  for (std::uint32_t i = 0; i < count; ++i, ++sector, ++out) {
    const std::uint64_t unit = sector / map->sectorsPerUnit;
    const bool used = unit >= known || ((map->bits[unit / 8] >> (unit % 8)) & 1) != 0;
    const auto mask = static_cast<std::uint8_t>(1u << (out % 8));
    bits[out / 8] = static_cast<std::uint8_t>(used ? (bits[out / 8] | mask) : (bits[out / 8] & ~mask));
  }
  return DISK_OK;
}

}  // namespace qvt
