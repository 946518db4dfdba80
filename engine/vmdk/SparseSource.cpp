#include "SparseSource.h"

namespace qvt {
namespace {

DiskResult ImageSourceRead(void* context, std::uint64_t offset, std::uint32_t length,
                           void* buffer) {
  return ImageRead(static_cast<ImageHandle*>(context), offset, length, buffer);
}

DiskResult ImageSourceIsEmpty(void* context, const AllocationMap* map, std::uint32_t first,
                              std::uint32_t count, bool* empty) {
  return ImageIsRangeEmpty(static_cast<ImageHandle*>(context), map, first, count, empty);
}

DiskResult ImageSourceIsAbsent(void* context, std::uint32_t first, std::uint32_t count,
                               bool* absent) {
  return ImageIsRangeAbsent(static_cast<ImageHandle*>(context), first, count, absent);
}

}  // namespace

ExtentSource ImageExtentSource(ImageHandle* image) {
  return ExtentSource{image, &ImageSourceRead, &ImageSourceIsEmpty, &ImageSourceIsAbsent};
}

}  // namespace qvt
