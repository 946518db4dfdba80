// A volume group's text metadata as the strict grammar reads it: fixed
// capacities at every level, text values as slices of the metadata text
// (which must outlive the record).
#ifndef QVT_FSMAP_LVM2METADATA_H
#define QVT_FSMAP_LVM2METADATA_H

#include <cstdint>

#include "Lvm2MetadataLexer.h"
#include "TextEncoding.h"

namespace qvt {

// More of anything than this rejects the text: the reader takes small
// layouts only, and fixed arrays keep hostile text from costing memory.
constexpr std::uint32_t kLvm2MaxVolumeGroups = 4;
constexpr std::uint32_t kLvm2MaxPhysicalVolumes = 4;
constexpr std::uint32_t kLvm2MaxLogicalVolumes = 4;
constexpr std::uint32_t kLvm2MaxSegments = 4;
constexpr std::uint32_t kLvm2MaxStripes = 4;

struct Lvm2Stripe {
  TextView physicalVolume;  // the name of a physical_volumes section
  std::uint32_t firstExtent;
};

struct Lvm2Segment {
  TextView name;
  std::uint32_t startExtent;
  std::uint32_t extentCount;
  Lvm2Value type;
  std::uint32_t stripeCount;  // equals the number of stripes once parsed
  Lvm2Stripe stripes[kLvm2MaxStripes];
};

struct Lvm2LogicalVolume {
  TextView name;
  std::uint32_t segmentCount;  // equals the number of segments once parsed
  Lvm2Segment segments[kLvm2MaxSegments];
};

struct Lvm2PhysicalVolumeSection {
  TextView name;
  Lvm2Value id;
  std::uint32_t devSize;  // sectors
  std::uint32_t peStart;  // sectors
  std::uint32_t peCount;  // extents
};

struct Lvm2VolumeGroup {
  TextView name;
  std::uint32_t extentSize;  // sectors
  std::uint32_t physicalVolumeCount;
  Lvm2PhysicalVolumeSection physicalVolumes[kLvm2MaxPhysicalVolumes];
  std::uint32_t logicalVolumeCount;
  Lvm2LogicalVolume logicalVolumes[kLvm2MaxLogicalVolumes];
};

struct Lvm2Metadata {
  std::uint32_t version;
  std::uint32_t volumeGroupCount;
  Lvm2VolumeGroup volumeGroups[kLvm2MaxVolumeGroups];
};

// Parses the whole text; false at the first thing the grammar does not
// allow (the record is then not to be used).
bool ParseLvm2Metadata(TextView text, Lvm2Metadata* metadata);

}  // namespace qvt

#endif
