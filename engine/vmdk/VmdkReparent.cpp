// Re-pointing a child past its parent, and the merge of the middle disk's
// own grains into the child that comes before the same re-pointing.
#include <cstring>

#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpen.h"
#include "SparseCommon.h"
#include "VmdkImage.h"
#include "VmdkImagePath.h"
#include "VmdkMerge.h"
#include "VmdkMergeWork.h"

namespace qvt {
namespace {

TextView PathView(const PathBuffer& p) { return BufferView(p.buffer); }

}  // namespace

DiskResult MergeRepointText(const MergeDisk& child, const MergeDisk& middle, bool absolute,
                            DescriptorArea* area) {
  const VmdkDescriptor& m = *middle.descriptor;
  if (!m.isChild) return DISK_E_FORMAT;
  PathBuffer grandparent;
  QVT_DISK_TRY(
      VmdkResolveName(middle.path, m.parentFileNameHint, middle.Encoding(), &grandparent));
  PathBuffer hint;
  if (VmdkMakeParentHint(PathView(child.path), PathView(grandparent), ENC_SHIFT_JIS, absolute,
                         &hint, ENC_SHIFT_JIS) != DISK_OK) {
    return DISK_E_NOMEM;
  }
  ChangeHolder holder;
  _VMWARE_VMDK_CHANGE_PARAM* change = holder.change;
  if (change == nullptr) return DISK_E_NOMEM;
  change->setParentCid = 1;
  change->parentCid = m.parentCid;
  change->setParentFileNameHint = 1;
  change->parentFileNameHint = BufferView(hint.buffer);
  change->extentCount = child.descriptor->extentCount;
  QVT_DISK_TRY(DescriptorAreaTake(area));
  return MergeRewrite(BufferView(child.text), child.Encoding(), child.Encoding(), *change,
                      child.Encoding(), ENC_SHIFT_JIS, true, area);
}

DiskResult VmdkReparent(const char* childPath, const char* middlePath, bool absolute,
                        ReplaceSet* set, ProgressFn progress, void* context) {
  MergeDisk child;
  QVT_DISK_TRY(MergeStart(childPath, set, &child));
  MergeDisk middle;
  QVT_DISK_TRY(MergeReadDisk(middlePath, &middle));
  DescriptorArea area;
  QVT_DISK_TRY(MergeRepointText(child, middle, absolute, &area));
  if (child.embedded) {
    const int r = FsCopyWithProgress(child.path.CString(), set->main.temp.CString(), progress,
                                     context);
    if (r == kFsCopyStopped) return DISK_CANCELLED;
    if (r != kFsCopyDone) return DISK_E_CREATE;
  }
  return MergeWriteDescriptor(child, set, area);
}

DiskResult VmdkMergeMiddleIntoChild(const char* childPath, const char* middlePath, bool absolute,
                                    bool preventFragment, ReplaceSet* set, ProgressFn progress,
                                    void* context) {
  MergeDisk child;
  QVT_DISK_TRY(MergeStart(childPath, set, &child));
  {
    ImageHandle source = NoImage();
    ImageCloser closer{&source};
    QVT_DISK_TRY(ImageOpen(&source, middlePath, true, VMDK_PARENT_OPEN, nullptr, nullptr));
    if (source.kind != IMAGE_VMDK) return DISK_E_FORMAT;
    QVT_DISK_TRY(MergeExtents(child, &source, &PresentInOwnFiles, preventFragment, set, progress,
                              context));
  }
  MergeDisk middle;
  QVT_DISK_TRY(MergeReadDisk(middlePath, &middle));
  DescriptorArea area;
  QVT_DISK_TRY(MergeRepointText(child, middle, absolute, &area));
  return MergeWriteDescriptor(child, set, area);
}

}  // namespace qvt
