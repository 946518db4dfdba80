// Where the extent writers (the sparse writer and flat extraction) take their
// sectors from: an image through its handle, or anything else that can read
// sectors and answer the two emptiness questions.
#ifndef QVT_ENGINE_VMDK_SPARSESOURCE_H
#define QVT_ENGINE_VMDK_SPARSESOURCE_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

// Offsets and sectors are those of the whole source disk.
struct ExtentSource {
  void* context;
  DiskResult (*read)(void* context, std::uint64_t offset, std::uint32_t length, void* buffer);
  // As ImageIsRangeEmpty.
  DiskResult (*isEmpty)(void* context, const AllocationMap* map, std::uint32_t first,
                        std::uint32_t count, bool* empty);
  // As ImageIsRangeAbsent.
  DiskResult (*isAbsent)(void* context, std::uint32_t first, std::uint32_t count, bool* absent);
};

// A source that asks the image through ImageRead, ImageIsRangeEmpty and
// ImageIsRangeAbsent. The image must outlive the source.
ExtentSource ImageExtentSource(ImageHandle* image);

}  // namespace qvt

#endif
