// The descriptor side of the merges: reading the disks involved, checking
// and writing the child's new descriptor as its temporary file.
#include <algorithm>
#include <cstring>

#include "FileLayer.h"
#include "Heap.h"
#include "SparseCommon.h"
#include "SparseHeader.h"
#include "VmdkMergeWork.h"

namespace qvt {
namespace {

// The largest embedded area the engine writes: more than any writer makes,
// and it bounds a header's sector count before it sizes a write.
constexpr std::uint64_t kMaxEmbeddedBytes = 32768;

DiskResult WriteEmbedded(const char* tempPath, const DescriptorArea& area) {
  FileStream file{};
  StreamGuard closer(&file);
  if (!FsOpen(tempPath, false, &file)) return DISK_E_OPEN;
  std::uint8_t head[512];
  SparseHeader header{};
  if (!StreamRead(&file, 0, sizeof(head), head) ||
      !DecodeSparseHeader(head, sizeof(head), &header)) {
    return DISK_E_READ;
  }
  if (header.descriptorOffset == 0 || header.descriptorSize == 0) return DISK_E_FORMAT;
  const std::uint64_t room = std::min(header.descriptorSize * 512, kMaxEmbeddedBytes);
  // A longer text would run into the grain directory; the copy is refused
  // rather than cut, and the caller rolls the temporary copy back.
  if (area.text.length > room) return DISK_E_LIMIT;
  if (!StreamWrite(&file, header.descriptorOffset * 512, static_cast<std::uint32_t>(room),
                   area.storage)) {
    return DISK_E_WRITE;
  }
  return DISK_OK;
}

}  // namespace

MergeDisk::~MergeDisk() {
  EngineFree(descriptor);
  VmdkFreeDescriptorText(&text);
}

DiskResult MergeReadDisk(const char* path, MergeDisk* disk) {
  if (!PathAssign(&disk->path, path, ENC_SHIFT_JIS)) return DISK_E_FORMAT;
  disk->descriptor = static_cast<VmdkDescriptor*>(EngineAlloc(sizeof(VmdkDescriptor)));
  if (disk->descriptor == nullptr) return DISK_E_NOMEM;
  FileStream file{};
  StreamGuard closer(&file);
  if (!FsOpen(disk->path.CString(), true, &file)) return DISK_E_OPEN;
  return VmdkReadDescriptorFromStream(&file, disk->descriptor, &disk->text, &disk->embedded);
}

DiskResult MergeStart(const char* childPath, ReplaceSet* set, MergeDisk* child) {
  static_cast<void>(ReplaceSetAllocExtents(set, 0));  // a count of 0 only frees
  set->created = 0;
  if (ReplaceEntrySet(&set->main, childPath) != DISK_OK) return DISK_E_FORMAT;
  const DiskResult r = MergeReadDisk(childPath, child);
  if (r != DISK_OK) return r;
  return child->descriptor->isChild ? DISK_OK : DISK_E_FORMAT;
}

std::uint64_t MergeTotalSectors(const VmdkDescriptor& d) {
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) total += d.extents[i].sectors;
  return total;
}

DescriptorArea::~DescriptorArea() { EngineFree(storage); }

DiskResult DescriptorAreaTake(DescriptorArea* area) {
  area->storage = static_cast<std::uint8_t*>(EngineAlloc(kMergeDescriptorBytes));
  if (area->storage == nullptr) return DISK_E_NOMEM;
  std::memset(area->storage, 0, kMergeDescriptorBytes);
  BufferInit(&area->text, area->storage, kMergeDescriptorBytes);
  return DISK_OK;
}

DiskResult MergeRewrite(TextView source, TextEncoding sourceEnc, TextEncoding targetEnc,
                        const _VMWARE_VMDK_CHANGE_PARAM& change, TextEncoding valueEnc,
                        TextEncoding nameEnc, bool asChild, DescriptorArea* area) {
  if (!VmdkRewriteDescriptor(source, sourceEnc, &area->text, targetEnc, change, valueEnc,
                             nameEnc)) {
    return DISK_E_FORMAT;
  }
  // A text the next open would refuse must never replace a working disk.
  HeapBlock checkArea(sizeof(VmdkDescriptor));
  if (!checkArea) return DISK_E_NOMEM;
  auto* check = static_cast<VmdkDescriptor*>(checkArea.get());
  if (!VmdkParseDescriptor(BufferView(area->text), check)) return DISK_E_FORMAT;
  return (check->isChild != 0) == asChild ? DISK_OK : DISK_E_FORMAT;
}

DiskResult MergeWriteDescriptor(const MergeDisk& child, ReplaceSet* set,
                                const DescriptorArea& area) {
  const char* temp = set->main.temp.CString();
  if (child.embedded) {
    // The single file's copy is the main temporary file; it is registered
    // as such before the extent list that held it is dropped.
    set->created = 1;
    static_cast<void>(ReplaceSetAllocExtents(set, 0));  // a count of 0 only frees
    return WriteEmbedded(temp, area);
  }
  FileStream file{};
  if (!FsCreate(temp, &file)) return DISK_E_CREATE;
  set->created = 1;
  const bool written = StreamWrite(&file, 0, area.text.length, area.storage);
  StreamClose(&file);
  return written ? DISK_OK : DISK_E_WRITE;
}

}  // namespace qvt
