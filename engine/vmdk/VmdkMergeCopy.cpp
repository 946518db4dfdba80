// Temporary copies of extent files, and the preallocated open of them.
#include <cstring>

#include "FileLayer.h"
#include "SparseCommon.h"
#include "VmdkMergeWork.h"

namespace qvt {

DiskResult MergeCopyFile(const char* live, const char* temp, bool preallocate, std::uint64_t extra,
                         ProgressFn progress, void* context, std::uint64_t* copied,
                         bool* partialLeft) {
  *partialLeft = false;
  int r = kFsCopyDone;
  if (preallocate) {
    r = FsCopyChunked(live, temp, true, extra, true, progress, context, copied);
    // The chunked copy leaves what it wrote; it is removed here, as the
    // system's copy removes its own, so that no partial file goes unnamed.
    if (r != kFsCopyDone && FsExists(temp) && !FsDelete(temp)) *partialLeft = true;
  } else {
    r = FsCopyWithProgress(live, temp, progress, context);
  }
  if (r == kFsCopyStopped) return DISK_CANCELLED;
  return r == kFsCopyDone ? DISK_OK : DISK_E_CREATE;
}

int PreallocatedOpen(void* context, const char* path, bool readOnly, FileStream* out) {
  const auto* files = static_cast<const PreallocatedFiles*>(context);
  for (std::uint32_t i = 0; i < files->count; ++i) {
    if (std::strcmp(files->paths[i], path) != 0) continue;
    if (readOnly) return FsOpen(path, true, out) ? 0 : -1;
    return FsOpenPreallocated(path, files->sizes[i], out) ? 0 : -1;
  }
  return FsOpen(path, readOnly, out) ? 0 : -1;
}

DiskResult PresentInOwnFiles(ImageHandle* source, std::uint32_t first, std::uint32_t count,
                             bool* present) {
  bool absent = true;
  const DiskResult r = ImageIsRangeAbsent(source, first, count, &absent);
  *present = !absent;
  return r;
}

DiskResult PresentInChain(ImageHandle* source, std::uint32_t first, std::uint32_t count,
                          bool* present) {
  bool empty = true;
  const DiskResult r = ImageIsRangeEmpty(source, nullptr, first, count, &empty);
  *present = !empty;
  return r;
}

}  // namespace qvt
