// The standalone copy: the layout, the names, the descriptor, then the data,
// extent by extent (sparse writer or flat extraction) or as one sparse file
// with the descriptor embedded.
#include "VmdkCopy.h"

#include <algorithm>
#include <cstring>

#include "EnginePath.h"
#include "FileLayer.h"
#include "FlatExtent.h"
#include "Heap.h"
#include "SparseCommon.h"
#include "SparseExtent.h"
#include "VmdkCopyWork.h"

namespace qvt {
namespace {

// The embedded descriptor area of a single-file copy, as every single-file
// disk the engine makes has it.
constexpr std::uint32_t kEmbeddedDescriptorSectors = 20;
// Room per extent line in the descriptor buffer, and its least size (the
// embedded area).
constexpr std::uint32_t kDescriptorBytesPerExtent = 584;
constexpr std::uint32_t kDescriptorLeastBytes = kEmbeddedDescriptorSectors * 512;

DiskResult TakeDescriptorBuffer(VmdkCopyWork* work) {
  // extentCount is at most kVmdkMaxExtents here.
  work->textBytes =
      std::max(kDescriptorBytesPerExtent * work->layout.extentCount, kDescriptorLeastBytes);
  work->text = static_cast<std::uint8_t*>(EngineAlloc(work->textBytes));
  if (work->text == nullptr) return DISK_E_NOMEM;
  std::memset(work->text, 0, work->textBytes);
  return DISK_OK;
}

DiskResult WriteDescriptorFile(const char* targetPath, TextView text) {
  FileStream file{};
  if (!FsCreate(targetPath, &file)) return DISK_E_CREATE;
  StreamGuard guard(&file);
  return StreamWrite(&file, 0, text.length, text.data) ? DISK_OK : DISK_E_WRITE;
}

struct CopyCall {
  const char* targetPath;
  ImageHandle* source;
  const AllocationMap* map;
  ProgressFn progress;
  void* context;
  std::uint32_t capacity;
};

DiskResult ExtentPath(const CopyCall& call, const VmdkLayoutExtent& e, PathBuffer* path) {
  const TextView target =
      MakeView(call.targetPath, static_cast<std::uint32_t>(std::strlen(call.targetPath)));
  TextView directory, base, extension;
  PathSplit(target, ENC_SHIFT_JIS, &directory, &base, &extension);
  ByteBuffer* b = &path->buffer;
  const TextView name = MakeView(e.fileName, static_cast<std::uint32_t>(std::strlen(e.fileName)));
  if (!BufferAppendView(b, directory) || !BufferAppendView(b, name) ||
      !BufferTerminate(b, ENC_SHIFT_JIS)) {
    return DISK_E_LIMIT;
  }
  return DISK_OK;
}

SparseWriteRequest RequestFor(const CopyCall& call, const VmdkLayout& layout) {
  SparseWriteRequest r;
  r.map = call.map;
  r.hwVersionIndex = layout.hwVersionIndex;
  r.compressed = layout.compressed != 0;
  r.progress = call.progress;
  r.progressContext = call.context;
  r.progressTotal = call.capacity;
  return r;
}

// One file per extent, at a running source sector.
DiskResult WriteExtentFiles(const CopyCall& call, const VmdkLayout& layout) {
  std::uint32_t first = 0;
  for (std::uint32_t i = 0; i < layout.extentCount; ++i) {
    const VmdkLayoutExtent& e = layout.entries[i];
    PathBuffer path;
    QVT_DISK_TRY(ExtentPath(call, e, &path));
    if (layout.kind != kVmdkLayoutSparse) {
      QVT_DISK_TRY(FlatExtract(path.CString(), call.source, first, e.sectors, call.progress,
                               call.context, call.capacity));
    } else {
      SparseWriteRequest r = RequestFor(call, layout);
      r.firstSourceSector = first;
      r.sectors = e.sectors;
      QVT_DISK_TRY(SparseWriteExtent(path.CString(), call.source, r));
    }
    first += e.sectors;
  }
  return DISK_OK;
}

DiskResult WriteSingleFile(const CopyCall& call, const VmdkLayout& layout, TextView text) {
  SparseWriteRequest r = RequestFor(call, layout);
  r.descriptor = &text;
  r.descriptorSectors = kEmbeddedDescriptorSectors;
  r.firstSourceSector = 0;
  r.sectors = call.capacity;
  // Stream-optimized grains are always compressed; a derived layout says
  // "not compressed" and leaves that to the stream flag.
  r.streamOptimized = layout.streamOptimized != 0;
  r.compressed = r.compressed || r.streamOptimized;
  return SparseWriteExtent(call.targetPath, call.source, r);
}

}  // namespace

VmdkCopyWork::~VmdkCopyWork() {
  VmdkFreeChange(change);
  EngineFree(layout.entries);
  EngineFree(text);
}

DiskResult VmdkCopyImage(const char* targetPath, ImageHandle* source, const AllocationMap* map,
                         ProgressFn progress, void* context, const VmdkLayout& layout) {
  if (targetPath == nullptr || source == nullptr) return DISK_E_LIMIT;
  VmdkCopyWork work;
  work.change = VmdkAllocChange();
  if (work.change == nullptr) return DISK_E_NOMEM;
  QVT_DISK_TRY(VmdkCopyChooseLayout(source, layout, &work));
  QVT_DISK_TRY(VmdkCopyNameExtents(targetPath, &work.layout));
  QVT_DISK_TRY(TakeDescriptorBuffer(&work));
  ImageGeometry geometry{};
  QVT_DISK_TRY(ImageGetSize(source, &geometry));

  ByteBuffer text{};
  QVT_DISK_TRY(VmdkCopyMakeDescriptor(&work, geometry, &text));
  if (VmdkCopyHasDescriptorFile(work.layout)) {
    QVT_DISK_TRY(WriteDescriptorFile(targetPath, BufferView(text)));
  }
  if (!ReportProgress(progress, context, 0, geometry.sectors)) return DISK_CANCELLED;

  const CopyCall call{targetPath, source, map, progress, context, geometry.sectors};
  if (VmdkCopyHasDescriptorFile(work.layout)) return WriteExtentFiles(call, work.layout);
  return WriteSingleFile(call, work.layout, BufferView(text));
}

}  // namespace qvt
