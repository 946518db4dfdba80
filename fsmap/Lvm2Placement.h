// Where the logical volumes of a parsed volume group lie on the disk, for
// the one layout the reader takes: one volume group on this one physical
// volume, every logical volume one linear run of extents.
#ifndef QVT_FSMAP_LVM2PLACEMENT_H
#define QVT_FSMAP_LVM2PLACEMENT_H

#include <cstdint>

#include "Lvm2Label.h"
#include "Lvm2Metadata.h"

namespace qvt {

struct Lvm2VolumeExtent {
  std::uint32_t firstSector;  // absolute on the disk
  std::uint32_t sectorCount;
};

struct Lvm2Placement {
  std::uint32_t count;
  Lvm2VolumeExtent volumes[kLvm2MaxLogicalVolumes];
};

// Checks that the metadata describes the physical volume whose label is
// `label` and that starts at disk sector `pvFirstSector`, and places its
// logical volumes in metadata order. False when any check fails or a
// volume would not fit in 32-bit sector numbers.
bool PlaceLvm2Volumes(const Lvm2Metadata& metadata, const Lvm2Label& label,
                      std::uint32_t pvFirstSector, Lvm2Placement* placement);

}  // namespace qvt

#endif
