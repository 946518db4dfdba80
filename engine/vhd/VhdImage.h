// Virtual PC images in the VHD format, dynamic and differencing: opening
// with every check, sector reads and writes through the chain, the two
// allocation queries, and the whole-file operations the Virtual PC backend
// builds and prunes chains with (child creation, the two folds, their commit
// and discard).
#ifndef QVT_ENGINE_VHD_VHDIMAGE_H
#define QVT_ENGINE_VHD_VHDIMAGE_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "FileStream.h"
#include "ImageHandle.h"
#include "ReplaceSet.h"
#include "VhdFormat.h"

namespace qvt {

struct OpenChain;

enum VhdOpenMode : std::uint32_t {
  VHD_OPEN_CHAIN = 0,     // check the locators and open the parent; its failure fails the open
  VHD_OPEN_TOLERATE = 1,  // as 0, but a parent that cannot be opened marks parent-missing
  VHD_OPEN_ALONE = 2,     // neither the locators nor the parent (blocks are to be rewritten)
  VHD_OPEN_INSPECT = 3,   // as 2
};

// An open image. Allocated by VhdImageOpen, freed by VhdImageClose.
struct VhdImage {
  VhdFooter footer{};              // as on disk
  std::uint32_t footerLength = 0;  // 512, or 511 for an image that ends one byte short
  VhdHeader header{};
  std::uint32_t sectors = 0;
  std::uint32_t heads = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t blockSize = 0;
  std::uint32_t sectorsPerBlock = 0;
  std::uint32_t blocks = 0;
  std::uint64_t tableOffset = 0;
  std::uint32_t* bat = nullptr;          // host order, `blocks` entries
  std::uint8_t* bitmap = nullptr;        // the one cached block bitmap
  std::uint32_t cachedBlock = kVhdUnusedBlock;
  std::uint32_t bitmapBytes = 0;
  std::uint64_t nextFree = 0;            // where the next appended block goes
  std::uint32_t paddingSectors = 0;      // zero sectors after each appended block: 0 or 7
  bool differencing = false;
  bool readOnly = true;
  bool parentMissing = false;
  FileStream file{};
  ImageHandle parent = NoImage();        // owned
  PathBuffer path;
  PathBuffer normalPath;                 // for telling this image from its chain

  VhdImage() = default;
  VhdImage(const VhdImage&) = delete;
  VhdImage& operator=(const VhdImage&) = delete;
};

// Opens `path` (encoding 0) read-only with shared reading, or read-write
// alone. `parentPath` (may be null; 520 bytes when given) receives the
// resolved parent path of a differencing image in modes 0 and 1, and is
// emptied otherwise. DISK_E_OPEN, DISK_E_SIZE, DISK_E_READ, DISK_E_NOMEM,
// DISK_E_FORMAT for any failed check (also for a parent link back into the
// chain), DISK_E_LIMIT for a path that does not fit, or the parent's code.
DiskResult VhdImageOpen(VhdImage** image, const char* path, bool readOnly, std::uint32_t mode,
                        PathBuffer* parentPath);
DiskResult VhdImageOpenInChain(VhdImage** image, const char* path, bool readOnly,
                               std::uint32_t mode, PathBuffer* parentPath,
                               const OpenChain* chain);
// Closes the file and the parent chain and frees the image (null: nothing).
void VhdImageClose(VhdImage* image);

// The image behind a handle of kind IMAGE_VHD; null for any other kind.
VhdImage* VhdImageFromHandle(const ImageHandle* handle);

// The kind's operations, for ImageHandle's dispatch.
DiskResult VhdImageGetSize(const VhdImage* image, ImageGeometry* geometry);
DiskResult VhdImageRead(VhdImage* image, std::uint64_t offset, std::uint32_t length,
                        void* buffer);
// DISK_E_LIMIT also for a read-only image and for a differencing image whose
// parent is not open (the parent's part of a new block would be lost).
DiskResult VhdImageWrite(VhdImage* image, std::uint64_t offset, std::uint32_t length,
                         const void* data);
DiskResult VhdImageIsRangeEmpty(VhdImage* image, const AllocationMap* map, std::uint32_t first,
                                std::uint32_t count, bool* empty);
DiskResult VhdImageIsRangeAbsent(VhdImage* image, std::uint32_t first, std::uint32_t count,
                                 bool* absent);

// Creates the differencing child `childPath` over the VHD `parentPath` (both
// encoding 0), replacing any file of that name. A file left behind by a
// failure after its creation is the caller's to remove.
DiskResult VhdCreateChild(const char* parentPath, const char* childPath);

// Folds the sectors the parent `parentPath` holds into a working copy of
// `childPath` (its name + "_QVT_TEMP") and points the copy at the
// grandparent. The child itself is never written; `entry` names the copy
// once it exists, for VhdCommitFold or VhdDiscardFold.
DiskResult VhdFoldParent(const char* childPath, const char* parentPath, ReplaceEntry* entry);
// Folds everything the child sees through `parentPath` into a working copy
// of `childPath`, which becomes a dynamic image of its own.
DiskResult VhdFoldChain(const char* childPath, const char* parentPath, ReplaceEntry* entry);
// Puts the working copy in place of the image (the image goes to its name +
// "_QVT_DEL" first, then is deleted, to the recycle bin when asked).
// DISK_E_CREATE for a failed step; nothing to do for an empty entry.
DiskResult VhdCommitFold(ReplaceEntry* entry, bool toRecycleBin);
DiskResult VhdDiscardFold(ReplaceEntry* entry);

// The resolved parent path of the image (empty for a dynamic image); the
// image and its whole chain must open.
DiskResult VhdParentOf(const char* path, PathBuffer* parentPath);

}  // namespace qvt

#endif
