// Child (delta) disks: empty sparse extents whose descriptor points at the
// parent through parentCID and parentFileNameHint, so unwritten sectors read
// from the parent.
#ifndef QVT_ENGINE_VMDK_VMDKCREATECHILD_H
#define QVT_ENGINE_VMDK_VMDKCREATECHILD_H

#include "DiskResult.h"
#include "VmdkImage.h"

namespace qvt {

// Size of the descriptor area embedded in a single-file child.
constexpr std::uint32_t kChildDescriptorSectors = 20;

// Creates the child of the open disk `parent` (whose descriptor file is
// `parentPath`) at `childPath` (both encoding 0): the parent's descriptor
// rewritten with a new CID, the parent's CID as parentCID, the parent hint
// (the parent's path as given in absolute mode, else the shortest form that
// leads back), no disk database, one empty sparse extent per parent extent.
// Quick: no data is copied, nothing is reported. Failures found before any
// file is written: DISK_E_UNSUPPORTED for a vmfs parent, DISK_E_FORMAT for a
// child text that would not parse or names that do not fit, DISK_E_LIMIT for
// a text too long for the embedded area or paths that do not fit. Files
// already written when a later step fails are left for the caller to remove.
DiskResult VmdkCreateChild(const VmdkImage* parent, const char* parentPath, const char* childPath,
                           bool absolute);

}  // namespace qvt

#endif
