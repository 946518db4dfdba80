// A VMDK disk opened together with its chain of parents: its extents in
// descriptor order, its parent as an image handle (seen at this disk's
// capacity when the two differ), reads and writes that run across extents,
// the emptiness queries, and the in-place descriptor change of the hard disk
// image property command.
#ifndef QVT_ENGINE_VMDK_VMDKIMAGE_H
#define QVT_ENGINE_VMDK_VMDKIMAGE_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "FlatExtent.h"
#include "ImageHandle.h"
#include "Progress.h"
#include "SparseExtent.h"
#include "TextEncoding.h"
#include "VmdkDescriptor.h"

namespace qvt {

// How an open treats the parent of a child disk.
enum VmdkParentMode : std::uint32_t {
  VMDK_PARENT_OPEN = 0,      // open the whole chain; a parent that fails fails the open
  VMDK_PARENT_TOLERATE = 1,  // open it, but a parent that cannot be had marks parent-missing
  VMDK_PARENT_CHILD = 2,     // the disk must be a child; its parent is not opened
  VMDK_PARENT_NONE = 3,      // the parent is not opened
};

// What an open may substitute: the merges open temporary copies in place of
// the live extents.
struct VmdkOpenOptions {
  ExtentOpenFn open = &ExtentOpenPlain;
  void* openContext = nullptr;
  // The extent files in descriptor order, in place of the descriptor's names
  // (null: the descriptor's). Their count must be the descriptor's. The
  // storage must outlive the image when VmdkApplyChange reopens it.
  const char* const* extentPaths = nullptr;
  std::uint32_t extentPathCount = 0;
};

// The parent seen at the child's capacity: sectors past the parent's end
// read as zeros and count as empty and absent.
struct VmdkParentView {
  ImageHandle* inner = nullptr;  // not owned
  std::uint32_t sectors = 0;
  std::uint32_t innerSectors = 0;
};

// Allocated by VmdkImageOpen, freed by VmdkImageClose; it does not move, so
// the extents may point at its parent handles.
struct VmdkImage {
  std::uint32_t capacity = 0;  // sectors
  std::uint32_t heads = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t sectorSize = kSectorSize;
  bool parentMissing = false;  // a child whose parent is not open
  bool readOnly = true;
  std::uint32_t parentMode = VMDK_PARENT_OPEN;
  bool embedded = false;  // the descriptor lies behind the first extent's header
  bool flat = false;
  std::uint32_t extentCount = 0;  // 0: closed
  SparseExtent* sparse = nullptr;       // extentCount of them unless flat
  FlatExtent* flatExtents = nullptr;    // extentCount of them when flat
  ImageHandle parent = NoImage();       // owned
  VmdkParentView view;
  ImageHandle parentView = NoImage();   // IMAGE_PARENT_VIEW over `parent`, or nothing
  ImageHandle* reader = nullptr;        // where unallocated grains read from
  VmdkDescriptor descriptor{};
  ByteBuffer text{};        // owned, from the engine's heap
  PathBuffer path;          // as the caller gave it (the descriptor file)
  PathBuffer normalPath;    // normalised, for telling this disk from its links
  PathBuffer parentPath;    // the resolved parentFileNameHint; empty for a base disk
  VmdkOpenOptions options;  // kept for reopening

  VmdkImage() = default;
  VmdkImage(const VmdkImage&) = delete;
  VmdkImage& operator=(const VmdkImage&) = delete;
};

// Opens the disk whose descriptor is `path` (encoding 0). Reports the loading
// of each extent's grain tables (and the parents') to `progress`; a false
// answer stops with DISK_CANCELLED. DISK_E_OPEN when the descriptor file
// (or an extent, or with VMDK_PARENT_OPEN the parent's file) cannot be
// opened; the descriptor's errors; DISK_E_FORMAT for a malformed or
// self-naming hint, a chain that loops or runs past kVmdkMaxChainLinks links,
// extents that disagree with the descriptor, and a base disk opened with
// VMDK_PARENT_CHILD; DISK_E_LIMIT for a parent that opens as no image (with
// VMDK_PARENT_OPEN) and for paths that do not fit. With VMDK_PARENT_TOLERATE
// every parent fault but a stop only marks the disk parent-missing.
DiskResult VmdkImageOpen(VmdkImage** image, const char* path, bool readOnly,
                         std::uint32_t parentMode, ProgressFn progress, void* progressContext,
                         const VmdkOpenOptions* options = nullptr);
// Closes the extents and the parent chain and frees the image (null: nothing).
void VmdkImageClose(VmdkImage* image);

// The image behind a handle of kind IMAGE_VMDK; null for any other kind.
VmdkImage* VmdkImageFromHandle(const ImageHandle* handle);

// The kind's operations, for ImageHandle's dispatch. Byte ranges and sector
// ranges must lie within the capacity (DISK_E_LIMIT).
DiskResult VmdkImageGetSize(const VmdkImage* image, ImageGeometry* geometry);
DiskResult VmdkImageRead(VmdkImage* image, std::uint64_t offset, std::uint32_t length,
                         void* buffer);
// DISK_E_LIMIT also for a read-only image, for compressed extents, and for a
// child whose parent is not open (a new grain would lose the parent's part).
DiskResult VmdkImageWrite(VmdkImage* image, std::uint64_t offset, std::uint32_t length,
                          const void* data);
DiskResult VmdkImageIsRangeEmpty(VmdkImage* image, const AllocationMap* map, std::uint32_t first,
                                 std::uint32_t count, bool* empty);
// Own extents only; DISK_E_LIMIT for flat extents.
DiskResult VmdkImageIsRangeAbsent(VmdkImage* image, std::uint32_t first, std::uint32_t count,
                                  bool* absent);

// True for a child, whether or not its parent is open.
bool VmdkImageIsChild(const VmdkImage* image);
// The parsed descriptor for display, and the encoding its views are in.
const VmdkDescriptor* VmdkImageDescriptor(const VmdkImage* image, TextEncoding* encoding);
// The open parent (never the view over it); null when none is open.
const ImageHandle* VmdkImageParent(const VmdkImage* image);
// Grains held in this disk's own sparse extents. DISK_E_LIMIT for flat disks.
DiskResult VmdkImageCountGrains(VmdkImage* image, std::uint64_t* grains);

// The parent view's operations, for ImageHandle's dispatch.
DiskResult VmdkParentViewGetSize(const VmdkParentView* view, ImageGeometry* geometry);
DiskResult VmdkParentViewRead(VmdkParentView* view, std::uint64_t offset, std::uint32_t length,
                              void* buffer);
DiskResult VmdkParentViewWrite(VmdkParentView* view, std::uint64_t offset, std::uint32_t length,
                               const void* data);
DiskResult VmdkParentViewIsRangeEmpty(VmdkParentView* view, const AllocationMap* map,
                                      std::uint32_t first, std::uint32_t count, bool* empty);
DiskResult VmdkParentViewIsRangeAbsent(VmdkParentView* view, std::uint32_t first,
                                       std::uint32_t count, bool* absent);

// Rewrites the descriptor of an open, writable disk in place under `change`
// and reopens the disk from it (read-write; a parent that cannot be had
// marks it parent-missing). `descriptorPath` (null: the image's own path)
// names the descriptor file of a split or flat disk, which is replaced
// through a temporary file; a single-file disk gets the text in its embedded
// area. The new text must parse (DISK_E_FORMAT, nothing written), a
// single-file disk must keep its extents (DISK_E_FORMAT) and its text must
// fit the embedded area (DISK_E_LIMIT). DISK_E_LIMIT for a closed or
// read-only image; DISK_E_CREATE, DISK_E_READ, DISK_E_WRITE for the file
// steps; the reopen's result otherwise. When the reopen fails the image is
// left closed (extentCount 0), to be freed with VmdkImageClose.
DiskResult VmdkApplyChange(VmdkImage* image, const _VMWARE_VMDK_CHANGE_PARAM& change,
                           const char* descriptorPath, TextEncoding valueEnc,
                           TextEncoding nameEnc);

// The checks a new parentFileNameHint (`hint`, in hintEnc) must pass for the
// disk at `diskPath` (encoding 0): it converts to encoding 0, is a
// well-formed Windows path (see VmdkNameIsWellFormed), resolves against the
// disk's folder and does not name the disk itself (ignoring case).
// DISK_E_FORMAT otherwise. `resolved` (may be null) gets the parent's path.
DiskResult VmdkCheckParentHint(const char* diskPath, TextView hint, TextEncoding hintEnc,
                               PathBuffer* resolved);

// What the property dialog's OK does: checks `hint` (encoding 0) as above and
// makes it the disk's parentFileNameHint through VmdkApplyChange, every
// extent kept. DISK_E_FORMAT for a disk that is not a child.
DiskResult VmdkApplyParentHint(VmdkImage* image, const char* descriptorPath, TextView hint);

// The disk's parentFileNameHint converted to outEnc into `out` (reset, then
// terminated), for the dialog's edit box. DISK_E_FORMAT for a base disk,
// DISK_E_LIMIT when it does not fit or convert.
DiskResult VmdkImageParentHint(const VmdkImage* image, ByteBuffer* out, TextEncoding outEnc);

}  // namespace qvt

#endif
