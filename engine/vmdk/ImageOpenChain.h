// The chain of disks an open is in the middle of: each parent open carries
// the disks below it, so that a parent link leading back into the chain, or
// a chain longer than any hypervisor stacks, ends the open instead of
// recursing without end.
#ifndef QVT_ENGINE_VMDK_IMAGEOPENCHAIN_H
#define QVT_ENGINE_VMDK_IMAGEOPENCHAIN_H

#include <cstdint>

#include "ImageHandle.h"
#include "Progress.h"
#include "VmdkImage.h"

namespace qvt {

// One disk of the chain: its normalised path and the disk below it (its
// child); `links` counts the parent links followed from the top disk.
struct OpenChain {
  const PathBuffer* path;
  const OpenChain* child;
  std::uint32_t links;
};

// True when `path` (normalised, encoding 0) is one of the chain's disks,
// ignoring case.
bool OpenChainHolds(const OpenChain* chain, const PathBuffer& path);

// ImageOpen for a parent: `chain` holds the disks it is the parent of (null
// for a top-level open).
DiskResult ImageOpenInChain(ImageHandle* image, const char* path, bool readOnly,
                            std::uint32_t parentMode, ProgressFn progress, void* progressContext,
                            const OpenChain* chain);

DiskResult VmdkImageOpenInChain(VmdkImage** image, const char* path, bool readOnly,
                                std::uint32_t parentMode, ProgressFn progress,
                                void* progressContext, const VmdkOpenOptions* options,
                                const OpenChain* chain);

// Closes whatever `image` holds and opens it anew in place, so that handles
// pointing at it stay valid; on failure it is left closed. `path` must not
// point into the image.
DiskResult VmdkImageReopen(VmdkImage* image, const char* path, bool readOnly,
                           std::uint32_t parentMode, ProgressFn progress, void* progressContext,
                           const OpenChain* chain);

}  // namespace qvt

#endif
