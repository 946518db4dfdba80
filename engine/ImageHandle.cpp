#include "ImageHandle.h"

#include "ZeroImage.h"

namespace qvt {

bool ImageRangeFits(std::uint64_t offset, std::uint32_t length, std::uint32_t sectors) {
  const std::uint64_t end = static_cast<std::uint64_t>(sectors) * kSectorSize;
  return offset <= end && length <= end - offset;
}

DiskResult ImageGetSize(const ImageHandle* image, ImageGeometry* geometry) {
  switch (image->kind) {
    case IMAGE_ZERO:
      return ZeroImageGetSize(image->impl, geometry);
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageRead(ImageHandle* image, std::uint64_t offset, std::uint32_t length,
                     void* buffer) {
  switch (image->kind) {
    case IMAGE_ZERO:
      return ZeroImageRead(image->impl, offset, length, buffer);
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageWrite(ImageHandle* image, std::uint64_t offset, std::uint32_t length,
                      const void* data) {
  (void)offset;
  (void)length;
  (void)data;
  switch (image->kind) {
    case IMAGE_ZERO:
      return DISK_E_WRITE;  // nothing can be written to the zero image
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageIsRangeEmpty(ImageHandle* image, const AllocationMap* map, std::uint32_t first,
                             std::uint32_t count, bool* empty) {
  (void)map;
  (void)first;
  (void)count;
  switch (image->kind) {
    case IMAGE_ZERO:
      *empty = true;
      return DISK_OK;
    case IMAGE_RAW_NDI:
      // No emptiness query for raw images: everything must be copied.
      *empty = false;
      return DISK_OK;
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageIsRangeAbsent(ImageHandle* image, std::uint32_t first, std::uint32_t count,
                              bool* absent) {
  (void)image;
  (void)first;
  (void)count;
  (void)absent;
  return DISK_E_LIMIT;
}

void ImageClose(ImageHandle* image) {
  switch (image->kind) {
    case IMAGE_ZERO:
      ZeroImageClose(image->impl);
      break;
    default:
      break;
  }
  *image = NoImage();
}

}  // namespace qvt
