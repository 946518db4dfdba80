// The zero image: memory only, every sector reads as zeros, every range is
// empty and every write fails. The empty source when new disks are written.
#ifndef QVT_ENGINE_ZEROIMAGE_H
#define QVT_ENGINE_ZEROIMAGE_H

#include <cstdint>

#include "ImageHandle.h"

namespace qvt {

DiskResult ZeroImageOpen(ImageHandle* image, std::uint32_t sectors, std::uint32_t heads,
                         std::uint32_t sectorsPerTrack);

// The kind's operations, for ImageHandle's dispatch.
DiskResult ZeroImageGetSize(const void* impl, ImageGeometry* geometry);
DiskResult ZeroImageRead(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer);
void ZeroImageClose(void* impl);

}  // namespace qvt

#endif
