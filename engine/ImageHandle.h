// The generic image handle: one kind of image behind six operations.
#ifndef QVT_ENGINE_IMAGEHANDLE_H
#define QVT_ENGINE_IMAGEHANDLE_H

#include <cstdint>

#include "DiskResult.h"

namespace qvt {

// The trim map of a guest disk, built by the filesystem readers.
struct AllocationMap;

enum ImageKind : std::int32_t {
  IMAGE_VMDK = 0,
  IMAGE_VHD = 10,
  IMAGE_RAW_NDI = -1,
  IMAGE_ZERO = -6,
  IMAGE_PARENT_VIEW = -7,  // a VMDK child's parent seen at the child's capacity
  IMAGE_NONE = 29,  // nothing is open
};

struct ImageHandle {
  std::int32_t kind;
  void* impl;
};

struct ImageGeometry {
  std::uint32_t sectors;  // capacity
  std::uint32_t heads;
  std::uint32_t sectorsPerTrack;
  std::uint32_t sectorSize;  // 512
};

constexpr std::uint32_t kSectorSize = 512;

inline ImageHandle NoImage() { return ImageHandle{IMAGE_NONE, nullptr}; }

DiskResult ImageGetSize(const ImageHandle* image, ImageGeometry* geometry);
// A range beyond the capacity is DISK_E_LIMIT.
DiskResult ImageRead(ImageHandle* image, std::uint64_t offset, std::uint32_t length, void* buffer);
DiskResult ImageWrite(ImageHandle* image, std::uint64_t offset, std::uint32_t length,
                      const void* data);
// True when no sector of the range holds data a copy would have to carry. A
// kind without an emptiness query answers "not empty".
DiskResult ImageIsRangeEmpty(ImageHandle* image, const AllocationMap* map, std::uint32_t first,
                             std::uint32_t count, bool* empty);
// True when no sector of the range is held in this image's own files (parents
// are not asked). Kinds without the notion answer DISK_E_LIMIT.
DiskResult ImageIsRangeAbsent(ImageHandle* image, std::uint32_t first, std::uint32_t count,
                              bool* absent);
// Closes the image and frees it; the handle then holds nothing (IMAGE_NONE),
// so a second close does nothing.
void ImageClose(ImageHandle* image);

// True when [offset, offset + length) lies within `sectors` sectors.
bool ImageRangeFits(std::uint64_t offset, std::uint32_t length, std::uint32_t sectors);

}  // namespace qvt

#endif
