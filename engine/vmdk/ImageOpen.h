// Opening a disk image of any kind by its path: the handlers to try are
// picked by the file name's extension and tried in a fixed order, and the
// first that accepts the file gives the handle its kind.
#ifndef QVT_ENGINE_VMDK_IMAGEOPEN_H
#define QVT_ENGINE_VMDK_IMAGEOPEN_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"
#include "Progress.h"

namespace qvt {

// Kinds a qcow handler reports for a version it does not support.
constexpr std::int32_t kImageKindQcowVersion = 19;
constexpr std::int32_t kImageKindQcow2Version = 20;

// Opens `path` (encoding 0). `parentMode` is a VmdkParentMode for VMDK
// disks; `progress` sees the loading of grain tables and may stop the open.
// DISK_OK opened; DISK_CANCELLED stopped; DISK_E_OPEN when the file (or a
// file the accepting handler needs) cannot be opened; DISK_E_VERSION (with
// the handle's kind 19 or 20) for a qcow version that is not supported;
// DISK_E_LIMIT when no handler accepts the file. Other handler failures are
// not reported: the next handler is tried.
DiskResult ImageOpen(ImageHandle* image, const char* path, bool readOnly,
                     std::uint32_t parentMode, ProgressFn progress, void* progressContext);

}  // namespace qvt

#endif
