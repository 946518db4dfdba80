#include "FlatExtent.h"

#include <algorithm>

#include "FileLayer.h"
#include "Heap.h"
#include "SparseCommon.h"

namespace qvt {
namespace {

constexpr std::uint32_t kExtractChunkSectors = 4096;  // 2 MiB
// The emptiness test reads this much at a time.
constexpr std::uint32_t kScanBytes = 64 * 1024;

bool BytesFit(const FlatExtent& e, std::uint64_t offset, std::uint64_t length) {
  const std::uint64_t end = e.sectors * kSectorBytes;
  return offset <= end && length <= end - offset;
}

DiskResult OpenInto(FlatExtent* e, ExtentOpenFn open, void* openContext, const char* path,
                    bool readOnly) {
  const int opened = open(openContext, path, readOnly, &e->stream);
  if (opened == 1) return DISK_CANCELLED;
  if (opened != 0 || !StreamIsOpen(e->stream)) return DISK_E_OPEN;
  std::uint64_t size = 0;
  if (!StreamSize(&e->stream, &size)) return DISK_E_SIZE;
  const std::uint64_t bytes = e->sectors * kSectorBytes;
  if (e->fileOffset > UINT64_MAX - bytes || size < e->fileOffset + bytes) return DISK_E_FORMAT;
  if (!PathAssign(&e->path, path, ENC_SHIFT_JIS)) return DISK_E_LIMIT;
  return DISK_OK;
}

}  // namespace

DiskResult FlatOpen(FlatExtent* extent, ExtentOpenFn open, void* openContext, const char* path,
                    bool readOnly, std::uint64_t fileOffset, std::uint64_t firstSector,
                    std::uint64_t sectors) {
  FlatClose(extent);
  if (sectors > UINT32_MAX || firstSector > UINT32_MAX - sectors) return DISK_E_LIMIT;
  extent->fileOffset = fileOffset;
  extent->sectors = sectors;
  extent->firstSector = firstSector;
  extent->readOnly = readOnly;
  const DiskResult result = OpenInto(extent, open, openContext, path, readOnly);
  if (result != DISK_OK) FlatClose(extent);
  return result;
}

void FlatClose(FlatExtent* extent) {
  StreamClose(&extent->stream);
  extent->fileOffset = 0;
  extent->sectors = 0;
  extent->firstSector = 0;
  extent->readOnly = true;
  extent->path = PathBuffer();
}

DiskResult FlatRead(FlatExtent* extent, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!BytesFit(*extent, offset, length)) return DISK_E_LIMIT;
  if (length == 0) return DISK_OK;
  return StreamRead(&extent->stream, extent->fileOffset + offset, length, buffer) ? DISK_OK
                                                                                  : DISK_E_READ;
}

DiskResult FlatWrite(FlatExtent* extent, std::uint64_t offset, std::uint32_t length,
                     const void* data) {
  if (extent->readOnly || !BytesFit(*extent, offset, length)) return DISK_E_LIMIT;
  if (length == 0) return DISK_OK;
  return StreamWrite(&extent->stream, extent->fileOffset + offset, length, data) ? DISK_OK
                                                                                 : DISK_E_WRITE;
}

DiskResult FlatIsEmpty(FlatExtent* extent, std::uint64_t first, std::uint32_t count, bool* empty) {
  *empty = true;
  if (first > extent->sectors || count > extent->sectors - first) return DISK_E_LIMIT;
  HeapBlock scan(kScanBytes);
  if (!scan) return DISK_E_NOMEM;
  auto* bytes = static_cast<std::uint8_t*>(scan.get());
  std::uint64_t offset = first * kSectorBytes;
  const std::uint64_t end = (first + count) * kSectorBytes;
  while (offset < end) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kScanBytes, end - offset));
    const DiskResult r = FlatRead(extent, offset, n, bytes);
    if (r != DISK_OK) return r;
    if (!BytesAreZero(bytes, n)) {
      *empty = false;
      return DISK_OK;
    }
    offset += n;
  }
  return DISK_OK;
}

DiskResult FlatExtractFrom(const char* path, const ExtentSource& source,
                           std::uint32_t firstSourceSector, std::uint32_t sectors,
                           ProgressFn progress, void* progressContext,
                           std::uint32_t progressTotal) {
  if (sectors > UINT32_MAX - firstSourceSector) return DISK_E_LIMIT;
  // The buffer first, so that a refused allocation leaves no file behind.
  HeapBlock chunk(static_cast<std::size_t>(kExtractChunkSectors) * kSectorBytes);
  if (!chunk) return DISK_E_NOMEM;
  FileStream target{};
  StreamGuard closeTarget(&target);
  if (!FsCreate(path, &target)) return DISK_E_CREATE;
  for (std::uint64_t done = 0; done < sectors;) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kExtractChunkSectors, sectors - done));
    if (!ReportProgress(progress, progressContext,
                        static_cast<std::uint32_t>(firstSourceSector + done), progressTotal)) {
      return DISK_CANCELLED;
    }
    const DiskResult r = source.read(source.context, (firstSourceSector + done) * kSectorBytes,
                                     n * 512, chunk.get());
    if (r != DISK_OK) return r;
    if (!StreamWrite(&target, done * kSectorBytes, n * 512, chunk.get())) return DISK_E_WRITE;
    done += n;
  }
  return DISK_OK;
}

DiskResult FlatExtract(const char* path, ImageHandle* source, std::uint32_t firstSourceSector,
                       std::uint32_t sectors, ProgressFn progress, void* progressContext,
                       std::uint32_t progressTotal) {
  return FlatExtractFrom(path, ImageExtentSource(source), firstSourceSector, sectors, progress,
                         progressContext, progressTotal);
}

}  // namespace qvt
