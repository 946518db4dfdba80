#include "Lvm2Placement.h"

namespace qvt {

namespace {

// The text form of a PV identifier: 6-4-4-4-4-4-6 characters with hyphens.
constexpr std::uint32_t kPvIdTextLength = 38;
constexpr std::uint32_t kPvIdHyphens[] = {6, 11, 16, 21, 26, 31};

bool SameText(TextView a, TextView b) {
  if (a.length != b.length) return false;
  for (std::uint32_t i = 0; i < a.length; ++i) {
    if (a.data[i] != b.data[i]) return false;
  }
  return true;
}

bool IdMatchesLabel(const Lvm2Value& id, const std::uint8_t (&pvId)[kLvm2PvIdLength]) {
  if (id.kind != LVM2_VALUE_STRING || id.text.length != kPvIdTextLength) return false;
  std::uint32_t hyphen = 0;
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < kPvIdTextLength; ++i) {
    const std::uint8_t c = id.text.data[i];
    if (hyphen < 6 && i == kPvIdHyphens[hyphen]) {
      if (c != '-') return false;
      ++hyphen;
    } else if (c != pvId[next++]) {
      return false;
    }
  }
  return true;
}

// The extents LVM2 hands out lie between pe_start and the end of the device.
bool PhysicalVolumeSound(const Lvm2PhysicalVolumeSection& pv, std::uint32_t extentSize) {
  const std::uint64_t end = pv.peStart + static_cast<std::uint64_t>(pv.peCount) * extentSize;
  return extentSize != 0 && end <= pv.devSize;
}

bool PlaceVolume(const Lvm2LogicalVolume& volume, const Lvm2PhysicalVolumeSection& pv,
                 std::uint32_t extentSize, std::uint32_t pvFirstSector, Lvm2VolumeExtent* out) {
  if (volume.segmentCount != 1) return false;
  const Lvm2Segment& segment = volume.segments[0];
  if (segment.startExtent != 0 || segment.type.kind != LVM2_VALUE_STRING ||
      !Lvm2TextIs(segment.type.text, "striped") || segment.stripeCount != 1 ||
      !SameText(segment.stripes[0].physicalVolume, pv.name)) {
    return false;
  }
  const std::uint64_t firstExtent = segment.stripes[0].firstExtent;
  // A volume placed outside its PV's extents cannot be right.
  if (segment.extentCount == 0 || firstExtent + segment.extentCount > pv.peCount) return false;
  const std::uint64_t first =
      pvFirstSector + static_cast<std::uint64_t>(pv.peStart) + firstExtent * extentSize;
  const std::uint64_t count = static_cast<std::uint64_t>(segment.extentCount) * extentSize;
  // Volume records hold 32-bit sectors; the end has to be one as well.
  if (first + count > UINT32_MAX) return false;
  *out = Lvm2VolumeExtent{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count)};
  return true;
}

}  // namespace

bool PlaceLvm2Volumes(const Lvm2Metadata& metadata, const Lvm2Label& label,
                      std::uint32_t pvFirstSector, Lvm2Placement* placement) {
  placement->count = 0;
  if (metadata.volumeGroupCount != 1) return false;
  const Lvm2VolumeGroup& group = metadata.volumeGroups[0];
  if (group.physicalVolumeCount != 1) return false;
  const Lvm2PhysicalVolumeSection& pv = group.physicalVolumes[0];
  if (!IdMatchesLabel(pv.id, label.pvId) || !PhysicalVolumeSound(pv, group.extentSize)) {
    return false;
  }
  for (std::uint32_t i = 0; i < group.logicalVolumeCount; ++i) {
    if (!PlaceVolume(group.logicalVolumes[i], pv, group.extentSize, pvFirstSector,
                     &placement->volumes[i])) {
      return false;
    }
  }
  placement->count = group.logicalVolumeCount;
  return true;
}

}  // namespace qvt
