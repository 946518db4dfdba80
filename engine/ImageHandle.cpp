#include "ImageHandle.h"

#include "RawImage.h"
#include "VhdImage.h"
#include "VmdkImage.h"
#include "ZeroImage.h"

namespace qvt {

bool ImageRangeFits(std::uint64_t offset, std::uint32_t length, std::uint32_t sectors) {
  const std::uint64_t end = static_cast<std::uint64_t>(sectors) * kSectorSize;
  return offset <= end && length <= end - offset;
}

namespace {

VmdkImage* Vmdk(const ImageHandle* image) { return static_cast<VmdkImage*>(image->impl); }
// A VHD handle without its image (as a caller may build one by hand) is no
// image the engine serves.
VhdImage* Vhd(const ImageHandle* image) { return static_cast<VhdImage*>(image->impl); }
bool HasVhd(const ImageHandle* image) { return image->kind == IMAGE_VHD && image->impl != nullptr; }

VmdkParentView* View(const ImageHandle* image) {
  return static_cast<VmdkParentView*>(image->impl);
}

}  // namespace

DiskResult ImageGetSize(const ImageHandle* image, ImageGeometry* geometry) {
  if (HasVhd(image)) return VhdImageGetSize(Vhd(image), geometry);
  switch (image->kind) {
    case IMAGE_VMDK:
      return VmdkImageGetSize(Vmdk(image), geometry);
    case IMAGE_RAW_NDI:
      return RawImageGetSize(image->impl, geometry);
    case IMAGE_ZERO:
      return ZeroImageGetSize(image->impl, geometry);
    case IMAGE_PARENT_VIEW:
      return VmdkParentViewGetSize(View(image), geometry);
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageRead(ImageHandle* image, std::uint64_t offset, std::uint32_t length,
                     void* buffer) {
  if (HasVhd(image)) return VhdImageRead(Vhd(image), offset, length, buffer);
  switch (image->kind) {
    case IMAGE_VMDK:
      return VmdkImageRead(Vmdk(image), offset, length, buffer);
    case IMAGE_RAW_NDI:
      return RawImageRead(image->impl, offset, length, buffer);
    case IMAGE_ZERO:
      return ZeroImageRead(image->impl, offset, length, buffer);
    case IMAGE_PARENT_VIEW:
      return VmdkParentViewRead(View(image), offset, length, buffer);
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageWrite(ImageHandle* image, std::uint64_t offset, std::uint32_t length,
                      const void* data) {
  if (HasVhd(image)) return VhdImageWrite(Vhd(image), offset, length, data);
  switch (image->kind) {
    case IMAGE_VMDK:
      return VmdkImageWrite(Vmdk(image), offset, length, data);
    case IMAGE_RAW_NDI:
      return RawImageWrite(image->impl, offset, length, data);
    case IMAGE_ZERO:
      return DISK_E_WRITE;  // nothing can be written to the zero image
    case IMAGE_PARENT_VIEW:
      return VmdkParentViewWrite(View(image), offset, length, data);
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageIsRangeEmpty(ImageHandle* image, const AllocationMap* map, std::uint32_t first,
                             std::uint32_t count, bool* empty) {
  if (HasVhd(image)) return VhdImageIsRangeEmpty(Vhd(image), map, first, count, empty);
  switch (image->kind) {
    case IMAGE_VMDK:
      return VmdkImageIsRangeEmpty(Vmdk(image), map, first, count, empty);
    case IMAGE_ZERO:
      *empty = true;
      return DISK_OK;
    case IMAGE_RAW_NDI:
      // No emptiness query for raw images: everything must be copied.
      *empty = false;
      return DISK_OK;
    case IMAGE_PARENT_VIEW:
      return VmdkParentViewIsRangeEmpty(View(image), map, first, count, empty);
    default:
      return DISK_E_LIMIT;
  }
}

DiskResult ImageIsRangeAbsent(ImageHandle* image, std::uint32_t first, std::uint32_t count,
                              bool* absent) {
  if (HasVhd(image)) return VhdImageIsRangeAbsent(Vhd(image), first, count, absent);
  switch (image->kind) {
    case IMAGE_VMDK:
      return VmdkImageIsRangeAbsent(Vmdk(image), first, count, absent);
    case IMAGE_PARENT_VIEW:
      return VmdkParentViewIsRangeAbsent(View(image), first, count, absent);
    default:
      return DISK_E_LIMIT;
  }
}

void ImageClose(ImageHandle* image) {
  switch (image->kind) {
    case IMAGE_VHD:
      VhdImageClose(Vhd(image));
      break;
    case IMAGE_VMDK:
      VmdkImageClose(Vmdk(image));
      break;
    case IMAGE_RAW_NDI:
      RawImageClose(image->impl);
      break;
    case IMAGE_ZERO:
      ZeroImageClose(image->impl);
      break;
    default:
      // A parent view belongs to the VMDK child that made it.
      break;
  }
  *image = NoImage();
}

}  // namespace qvt
