// What the merge operations share: the disk whose descriptor they rewrite,
// the temporary copies of extent files, the grain loop over a child's
// extents, and the writing of the new descriptor.
#ifndef QVT_ENGINE_VMDK_VMDKMERGEWORK_H
#define QVT_ENGINE_VMDK_VMDKMERGEWORK_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "ImageHandle.h"
#include "Progress.h"
#include "ReplaceSet.h"
#include "SparseExtent.h"
#include "VmdkDescriptor.h"
#include "VmdkImage.h"

namespace qvt {

// What the operations close or free on every path.
struct ImageCloser {
  ImageHandle* image;
  ~ImageCloser() { ImageClose(image); }
};
struct VmdkImageCloser {
  VmdkImage* image = nullptr;
  ~VmdkImageCloser() { VmdkImageClose(image); }
};
struct ExtentCloser {
  SparseExtent* extent;
  ~ExtentCloser() { SparseClose(extent); }
};
struct ChangeHolder {
  _VMWARE_VMDK_CHANGE_PARAM* change = VmdkAllocChange();
  ~ChangeHolder() { VmdkFreeChange(change); }
};

// A disk's descriptor as read from its file (the record is large: heap).
struct MergeDisk {
  PathBuffer path;
  VmdkDescriptor* descriptor = nullptr;
  ByteBuffer text{};
  bool embedded = false;  // single-file disk: the text lies behind the sparse header

  MergeDisk() = default;
  MergeDisk(const MergeDisk&) = delete;
  MergeDisk& operator=(const MergeDisk&) = delete;
  ~MergeDisk();
  TextEncoding Encoding() const { return static_cast<TextEncoding>(descriptor->textEncoding); }
};

// Reads the descriptor of `path`. DISK_E_FORMAT for a path that does not
// fit, DISK_E_NOMEM, DISK_E_OPEN and the descriptor's errors.
DiskResult MergeReadDisk(const char* path, MergeDisk* disk);

// The common start: the set emptied, its main entry the child and its
// temporary name, the child's descriptor read; DISK_E_FORMAT for a base disk.
DiskResult MergeStart(const char* childPath, ReplaceSet* set, MergeDisk* child);

// The sum of a descriptor's extent sizes.
std::uint64_t MergeTotalSectors(const VmdkDescriptor& d);

// The 128 KiB zero-filled descriptor buffer.
constexpr std::uint32_t kMergeDescriptorBytes = 131072;
struct DescriptorArea {
  std::uint8_t* storage = nullptr;
  ByteBuffer text{};
  DescriptorArea() = default;
  DescriptorArea(const DescriptorArea&) = delete;
  DescriptorArea& operator=(const DescriptorArea&) = delete;
  ~DescriptorArea();
};
DiskResult DescriptorAreaTake(DescriptorArea* area);

// Rewrites `source` under `change` into the area and checks that the text
// parses as a child (`asChild`) or a base disk; DISK_E_FORMAT otherwise.
DiskResult MergeRewrite(TextView source, TextEncoding sourceEnc, TextEncoding targetEnc,
                        const _VMWARE_VMDK_CHANGE_PARAM& change, TextEncoding valueEnc,
                        TextEncoding nameEnc, bool asChild, DescriptorArea* area);

// Writes the new descriptor as the child's main temporary file: a new
// descriptor file for a split disk, or the embedded area of the child's
// temporary copy (which must exist) for a single file. A text longer than
// the embedded area is DISK_E_LIMIT and nothing is written into it.
DiskResult MergeWriteDescriptor(const MergeDisk& child, ReplaceSet* set, const DescriptorArea& area);

// Copies a live extent file to its temporary name: with `preallocate` at the
// live size + `extra` bytes (`copied` gets the bytes copied), otherwise with
// the system's copy. DISK_CANCELLED or DISK_E_CREATE; a partial copy is
// removed, and `partialLeft` says when it could not be.
DiskResult MergeCopyFile(const char* live, const char* temp, bool preallocate, std::uint64_t extra,
                         ProgressFn progress, void* context, std::uint64_t* copied,
                         bool* partialLeft);

// The extent files opened through the preallocated stream, each with the
// logical size its copy reached (an ExtentOpenFn context).
struct PreallocatedFiles {
  std::uint32_t count = 0;
  const char* const* paths = nullptr;
  const std::uint64_t* sizes = nullptr;
};
int PreallocatedOpen(void* context, const char* path, bool readOnly, FileStream* out);

// Whether the source holds data in [first, first + count) that the child
// must take over.
using MergePresenceFn = DiskResult (*)(ImageHandle* source, std::uint32_t first,
                                       std::uint32_t count, bool* present);
DiskResult PresentInOwnFiles(ImageHandle* source, std::uint32_t first, std::uint32_t count,
                             bool* present);
DiskResult PresentInChain(ImageHandle* source, std::uint32_t first, std::uint32_t count,
                          bool* present);

// The merge loop over the child's extents: copies them to their temporary
// names (registered in the set's extent list) and fills each with the
// grains it lacks and the source has. DISK_E_FORMAT when the child's size
// differs from the source's capacity (before any copy).
DiskResult MergeExtents(const MergeDisk& child, ImageHandle* source, MergePresenceFn presence,
                        bool preventFragment, ReplaceSet* set, ProgressFn progress,
                        void* context);

// Extra bytes a merge into the open extent will append: one grain per
// unallocated entry whose range `present` says holds data. `hasGt` false
// entries (no GT) count as unallocated.
DiskResult CountMissingGrains(SparseExtent* extent, std::uint32_t firstSector,
                              ImageHandle* source, MergePresenceFn presence,
                              std::uint64_t* extraBytes);

// The child's descriptor re-pointed past `middle`: middle's parentCID and a
// hint to middle's parent (built into `hint`), every extent kept, written
// into the area. DISK_E_FORMAT for a middle disk that is not a child.
DiskResult MergeRepointText(const MergeDisk& child, const MergeDisk& middle, bool absolute,
                            DescriptorArea* area);

}  // namespace qvt

#endif
