// Consolidation: the child takes in everything its chain holds and becomes
// a base disk with the chain base's descriptor around its own extents.
#include <cstring>

#include "Heap.h"
#include "ImageOpen.h"
#include "SparseCommon.h"
#include "VmdkImage.h"
#include "TextCompare.h"
#include "VmdkMerge.h"
#include "VmdkMergeWork.h"

namespace qvt {
namespace {

struct BaseText {
  ByteBuffer text{};
  VmdkDescriptor* descriptor = static_cast<VmdkDescriptor*>(EngineAlloc(sizeof(VmdkDescriptor)));
  ~BaseText() {
    VmdkFreeDescriptorText(&text);
    EngineFree(descriptor);
  }
};

// A flat or stream-optimized base would lend the child a type its hosted
// sparse files are not; the child's own type and sparse extent lines are
// kept instead.
bool BaseTypeMisleads(const VmdkDescriptor& base) {
  const auto e = static_cast<TextEncoding>(base.textEncoding);
  return base.flat != 0 || TextEqualsAscii(base.createType, e, "streamOptimized", true) ||
         TextEqualsAscii(base.createType, e, "vmfs", true);
}

DiskResult BuildChange(const MergeDisk& x, const VmdkDescriptor& base,
                       _VMWARE_VMDK_CHANGE_PARAM* change) {
  const VmdkDescriptor& d = *x.descriptor;
  const bool keepOwnType = BaseTypeMisleads(base);
  change->setCid = 1;
  change->cid = d.cid;
  if (keepOwnType) {
    change->setCreateType = 1;
    change->createType = d.createType;
  }
  change->extentCount = d.extentCount;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    const VmdkExtent& e = d.extents[i];
    if (!VmdkChangeSetExtent(change, i, static_cast<std::uint32_t>(e.sectors), e.fileName.data,
                             e.fileName.length, keepOwnType)) {
      return DISK_E_FORMAT;
    }
  }
  return DISK_OK;
}

}  // namespace

DiskResult VmdkConsolidate(const char* childPath, const char* topPath, bool preventFragment,
                           ReplaceSet* set, ProgressFn progress, void* context) {
  MergeDisk x;
  QVT_DISK_TRY(MergeStart(childPath, set, &x));
  {
    ImageHandle source = NoImage();
    ImageCloser closer{&source};
    QVT_DISK_TRY(ImageOpen(&source, topPath, true, VMDK_PARENT_OPEN, nullptr, nullptr));
    QVT_DISK_TRY(MergeExtents(x, &source, &PresentInChain, preventFragment, set, progress,
                              context));
  }
  BaseText base;
  if (base.descriptor == nullptr) return DISK_E_NOMEM;
  QVT_DISK_TRY(VmdkFindBaseDescriptor(topPath, &base.text, base.descriptor));
  ChangeHolder holder;
  if (holder.change == nullptr) return DISK_E_NOMEM;
  QVT_DISK_TRY(BuildChange(x, *base.descriptor, holder.change));
  DescriptorArea area;
  QVT_DISK_TRY(DescriptorAreaTake(&area));
  QVT_DISK_TRY(MergeRewrite(BufferView(base.text),
                            static_cast<TextEncoding>(base.descriptor->textEncoding), x.Encoding(),
                            *holder.change, x.Encoding(), x.Encoding(), false, &area));
  return MergeWriteDescriptor(x, set, area);
}

}  // namespace qvt
