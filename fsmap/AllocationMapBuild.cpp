// Building the map: discover the volumes, sort them, cut the disk into
// segments and give each volume to the first filesystem reader that knows
// it.
#include "AllocationMapBuild.h"

#include <algorithm>
#include <new>

#include "FsHandlers.h"
#include "Heap.h"
#include "VolumeRecord.h"

namespace qvt {
namespace {

// Frees a record array (or a segment array not yet handed over) on every path.
struct EngineArray {
  void* block = nullptr;
  ~EngineArray() { EngineFree(block); }
};

DiskResult CollectVolumes(ImageHandle* image, std::uint32_t sectors, EngineArray* store,
                          VolumeList* out) {
  VolumeList counting{nullptr, kMaxVolumes, 0};
  DiskResult r = DiscoverVolumes(image, sectors, &counting);
  if (r != DISK_OK) return r;
  *out = VolumeList{nullptr, counting.count, 0};
  if (counting.count == 0) return DISK_OK;
  store->block = EngineAlloc(sizeof(VolumeRecord) * counting.count);
  if (store->block == nullptr) return DISK_E_NOMEM;
  out->records = static_cast<VolumeRecord*>(store->block);
  r = DiscoverVolumes(image, sectors, out);
  if (r != DISK_OK) return r;
  // The second walk reads the same sectors; should the disk answer
  // otherwise, fewer records are kept, never more than were counted.
  std::sort(out->records, out->records + out->count, [](const VolumeRecord& a, const VolumeRecord& b) {
    return VolumeFirstSector(a) < VolumeFirstSector(b);
  });
  return DISK_OK;
}

// The number of segments the sorted volumes cut the disk into; overlapping,
// empty and out-of-range volumes are DISK_E_FS_UNKNOWN.
DiskResult CountSegments(const VolumeList& volumes, std::uint32_t sectors, std::uint32_t* count) {
  std::uint64_t p = 0;
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < volumes.count; ++i) {
    const std::uint64_t first = VolumeFirstSector(volumes.records[i]);
    const std::uint64_t size = VolumeSectorCount(volumes.records[i]);
    if (first < p || size == 0) return DISK_E_FS_UNKNOWN;
    if (first > p) ++n;
    ++n;
    p = first + size;
  }
  if (p > sectors) return DISK_E_FS_UNKNOWN;
  if (p < sectors) ++n;
  *count = n;
  return DISK_OK;
}

// Tries the suggested reader, then every reader in kind order.
AllocationSegment OpenVolume(ImageHandle* image, const VolumeRecord& volume) {
  const std::uint32_t first = VolumeFirstSector(volume);
  const std::uint32_t count = VolumeSectorCount(volume);
  AllocationSegment segment{first, count, kSegmentUnrecognised, nullptr};
  const std::int32_t suggested = SuggestedFsKind(VolumeType(volume));
  for (std::int32_t attempt = -1; attempt < kFsHandlerCount; ++attempt) {
    const std::int32_t kind = attempt < 0 ? suggested : attempt;
    if (kind < 0) continue;
    void* state = nullptr;
    if (FsHandlerOf(kind).open(&state, image, first, count) == DISK_OK) {
      segment.kind = kind;
      segment.state = state;
      return segment;
    }
  }
  return segment;
}

void FillSegments(ImageHandle* image, const VolumeList& volumes, std::uint32_t sectors,
                  AllocationMap* map) {
  std::uint32_t p = 0;
  for (std::uint32_t i = 0; i < volumes.count; ++i) {
    const VolumeRecord& v = volumes.records[i];
    if (VolumeFirstSector(v) > p) {
      map->segments[map->segmentCount++] =
          AllocationSegment{p, VolumeFirstSector(v) - p, kSegmentNoVolume, nullptr};
    }
    map->segments[map->segmentCount++] = OpenVolume(image, v);
    p = VolumeFirstSector(v) + VolumeSectorCount(v);
  }
  if (p < sectors) {
    map->segments[map->segmentCount++] = AllocationSegment{p, sectors - p, kSegmentNoVolume, nullptr};
  }
}

}  // namespace

DiskResult BuildAllocationMap(ImageHandle* image, AllocationMap** map) {
  *map = nullptr;
  AllocationMapSetQuery(&FsmapGetBits);
  ImageGeometry geometry{};
  DiskResult r = ImageGetSize(image, &geometry);
  if (r != DISK_OK) return r;
  EngineArray records;
  VolumeList volumes{};
  r = CollectVolumes(image, geometry.sectors, &records, &volumes);
  if (r != DISK_OK) return r;
  std::uint32_t segments = 0;
  r = CountSegments(volumes, geometry.sectors, &segments);
  if (r != DISK_OK) return r;

  EngineArray segmentStore;
  segmentStore.block = EngineAlloc(sizeof(AllocationSegment) * (segments == 0 ? 1 : segments));
  void* mapPlace = EngineAlloc(sizeof(AllocationMap));
  if (segmentStore.block == nullptr || mapPlace == nullptr) {
    EngineFree(mapPlace);
    return DISK_E_NOMEM;
  }
  auto* built = new (mapPlace) AllocationMap{geometry.sectorSize, 0,
                                             static_cast<AllocationSegment*>(segmentStore.block)};
  segmentStore.block = nullptr;
  FillSegments(image, volumes, geometry.sectors, built);
  *map = built;
  return DISK_OK;
}

void FreeAllocationMap(AllocationMap* map) {
  if (map == nullptr) return;
  for (std::uint32_t i = 0; i < map->segmentCount; ++i) {
    const AllocationSegment& s = map->segments[i];
    if (s.kind >= 0 && s.state != nullptr) FsHandlerOf(s.kind).close(s.state);
  }
  EngineFree(map->segments);
  EngineFree(map);
}

}  // namespace qvt
