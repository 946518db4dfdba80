// Standalone copies: any open disk (a VMDK with its chain, a VHD, anything
// behind an ImageHandle) written out as a new VMDK without a parent,
// optionally leaving out the sectors no guest filesystem uses.
#ifndef QVT_ENGINE_VMDK_VMDKCOPY_H
#define QVT_ENGINE_VMDK_VMDKCOPY_H

#include "AllocationMap.h"
#include "DiskResult.h"
#include "ImageHandle.h"
#include "Progress.h"
#include "VmdkDescriptor.h"

namespace qvt {

// Layout modes past 0: the new disk takes the source VMDK's extent sizes and
// disk database (completed from its ancestors) and is always sparse; the
// hardware version and the adapter come from where each mode's comment says.
constexpr std::uint32_t kVmdkLayoutAsGiven = 0;
constexpr std::uint32_t kVmdkLayoutSourceFirst = 1;  // the source, the layout where it has none
constexpr std::uint32_t kVmdkLayoutGivenValues = 2;  // the layout (a non-VMDK source: as given)
constexpr std::uint32_t kVmdkLayoutSourceOnly = 3;   // the source only (VMDK sources only)
constexpr std::uint32_t kVmdkLayoutDerived = 4;      // the layout (VMDK sources only)

// Writes a new standalone disk at `targetPath` (the descriptor file of a
// split, flat or VMFS layout, else the single file) holding what `source`
// reads; a grain is left out when it holds no data through the source's
// chain or, with `map`, none in the sectors the map marks in use; every
// other grain is copied whole. Extents without a name are named after the
// target (B-s001.X, B-flat.X, or the target's own name). Reports (sector,
// capacity); a false answer stops with DISK_CANCELLED. The files written so
// far stay on a failure or a stop, for the caller to delete; the source
// never changes. Refused before anything is written: DISK_E_LIMIT for a mode
// past 4, a derived mode over a source that is not a VMDK (modes 3 and 4),
// a hardware version or adapter the mode needs and nobody knows, or a name
// that does not fit; DISK_E_FORMAT for a layout the descriptor cannot
// describe, one whose extents do not add up to the source's capacity, and a
// stream-optimized layout with a descriptor file of its own.
DiskResult VmdkCopyImage(const char* targetPath, ImageHandle* source, const AllocationMap* map,
                         ProgressFn progress, void* context, const VmdkLayout& layout);

}  // namespace qvt

#endif
