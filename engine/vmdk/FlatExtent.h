// Flat extents: a plain run of the disk's sectors in a file, at an offset;
// and flat extraction, which copies a range of an image into a new flat file.
#ifndef QVT_ENGINE_VMDK_FLATEXTENT_H
#define QVT_ENGINE_VMDK_FLATEXTENT_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "FileStream.h"
#include "Progress.h"
#include "SparseExtent.h"
#include "SparseSource.h"

namespace qvt {

// A closed extent is all zero; FlatOpen fills it and FlatClose empties it.
struct FlatExtent {
  FileStream stream{};
  std::uint64_t fileOffset = 0;  // bytes: the descriptor's sector offset × 512
  std::uint64_t sectors = 0;
  std::uint64_t firstSector = 0;  // within the whole disk
  bool readOnly = true;
  PathBuffer path;

  FlatExtent() = default;
  FlatExtent(const FlatExtent&) = delete;
  FlatExtent& operator=(const FlatExtent&) = delete;
};

// Opens the file through `open` (1 from it: DISK_CANCELLED; other failures
// DISK_E_OPEN). DISK_E_SIZE when the file's size is unknown, DISK_E_FORMAT
// when the file ends before fileOffset + sectors × 512. On failure the
// extent is left closed.
DiskResult FlatOpen(FlatExtent* extent, ExtentOpenFn open, void* openContext, const char* path,
                    bool readOnly, std::uint64_t fileOffset, std::uint64_t firstSector,
                    std::uint64_t sectors);
void FlatClose(FlatExtent* extent);

// Bytes at `offset` within the extent; a range beyond it is DISK_E_LIMIT.
DiskResult FlatRead(FlatExtent* extent, std::uint64_t offset, std::uint32_t length, void* buffer);
// DISK_E_LIMIT also for a read-only extent.
DiskResult FlatWrite(FlatExtent* extent, std::uint64_t offset, std::uint32_t length,
                     const void* data);
// True when every sector of [first, first + count) (within the extent) reads
// as all zero; allocation maps are not consulted.
DiskResult FlatIsEmpty(FlatExtent* extent, std::uint64_t first, std::uint32_t count, bool* empty);

// Creates the flat file `path` and copies sectors [firstSourceSector,
// firstSourceSector + sectors) of the source into it in chunks of 4096
// sectors, reporting (first sector of the chunk, progressTotal) before each;
// a false answer stops with DISK_CANCELLED. Read failures are passed on,
// write failures are DISK_E_WRITE.
DiskResult FlatExtract(const char* path, ImageHandle* source, std::uint32_t firstSourceSector,
                       std::uint32_t sectors, ProgressFn progress, void* progressContext,
                       std::uint32_t progressTotal);
DiskResult FlatExtractFrom(const char* path, const ExtentSource& source,
                           std::uint32_t firstSourceSector, std::uint32_t sectors,
                           ProgressFn progress, void* progressContext, std::uint32_t progressTotal);

}  // namespace qvt

#endif
