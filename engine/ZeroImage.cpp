#include "ZeroImage.h"

#include <cstring>

#include "Heap.h"

namespace qvt {

DiskResult ZeroImageOpen(ImageHandle* image, std::uint32_t sectors, std::uint32_t heads,
                         std::uint32_t sectorsPerTrack) {
  *image = NoImage();
  auto* geometry = static_cast<ImageGeometry*>(EngineAlloc(sizeof(ImageGeometry)));
  if (geometry == nullptr) return DISK_E_NOMEM;
  *geometry = ImageGeometry{sectors, heads, sectorsPerTrack, kSectorSize};
  image->kind = IMAGE_ZERO;
  image->impl = geometry;
  return DISK_OK;
}

DiskResult ZeroImageGetSize(const void* impl, ImageGeometry* geometry) {
  *geometry = *static_cast<const ImageGeometry*>(impl);
  return DISK_OK;
}

DiskResult ZeroImageRead(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!ImageRangeFits(offset, length, static_cast<const ImageGeometry*>(impl)->sectors)) {
    return DISK_E_LIMIT;
  }
  std::memset(buffer, 0, length);
  return DISK_OK;
}

void ZeroImageClose(void* impl) { EngineFree(impl); }

}  // namespace qvt
