// Raw images described by an ".ndi" side file: a plain run of sectors at a
// byte offset in a file, with the geometry written beside it.
#ifndef QVT_ENGINE_VMDK_RAWIMAGE_H
#define QVT_ENGINE_VMDK_RAWIMAGE_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

// The side file holds at most this many bytes.
constexpr std::uint32_t kNdiMaxBytes = 256;

// What the side file says.
struct NdiLayout {
  std::uint64_t dataOffset;  // bytes
  std::uint32_t sectors;
  std::uint32_t heads;
  std::uint32_t sectorsPerTrack;
  std::uint32_t bytesPerSector;
};

// Parses a side file's text: "NDI" and five decimal numbers (data offset,
// sector count, heads, sectors per track, bytes per sector), separated and
// followed by blanks, tabs or line breaks only. The four geometry numbers
// must not be 0. False otherwise.
bool ParseNdi(const std::uint8_t* text, std::uint32_t length, NdiLayout* layout);

// Opens the raw image `path` (encoding 0) by its side file: the path with
// its extension replaced by ".ndi" (appended when it has none). The side
// file missing, too long or malformed is DISK_E_FORMAT; a sector size other
// than 512 (the engine's sector) is DISK_E_UNSUPPORTED; the image file that
// cannot be opened DISK_E_OPEN, whose size is unknown DISK_E_SIZE, and that
// ends before offset + sectors x bytes per sector DISK_E_FORMAT. The handle
// gets kind IMAGE_RAW_NDI.
DiskResult RawImageOpen(ImageHandle* image, const char* path, bool readOnly);

// The kind's operations, for ImageHandle's dispatch.
DiskResult RawImageGetSize(const void* impl, ImageGeometry* geometry);
DiskResult RawImageRead(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer);
// DISK_E_LIMIT also for an image opened read-only.
DiskResult RawImageWrite(void* impl, std::uint64_t offset, std::uint32_t length,
                         const void* data);
void RawImageClose(void* impl);

}  // namespace qvt

#endif
