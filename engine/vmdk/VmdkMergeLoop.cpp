// The merge loop: each extent of the child copied to its temporary name and
// given, grain by grain, what it lacks and the source holds.
#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "FileLayer.h"
#include "Heap.h"
#include "SparseCommon.h"
#include "SparseLayout.h"
#include "SparseTables.h"
#include "VmdkImagePath.h"
#include "VmdkMergeWork.h"

namespace qvt {
namespace {

struct LoopState {
  ImageHandle* source;
  MergePresenceFn presence;
  ProgressFn progress;
  void* context;
  std::uint32_t position;  // disk sector reached
  std::uint32_t total;
  std::uint8_t* grain;  // one grain, taken per extent
};

bool Report(const LoopState& s) { return ReportProgress(s.progress, s.context, s.position, s.total); }

// Sectors GT `index` covers within an extent of `sectors` sectors.
std::uint64_t GtSectors(const SparseExtent& e, std::uint32_t index) {
  const std::uint64_t span = static_cast<std::uint64_t>(e.grainSectors) * kGtesPerGt;
  const std::uint64_t first = span * index;
  return first >= e.sectors ? 0 : std::min(span, e.sectors - first);
}

DiskResult WriteGtBack(SparseExtent* e, std::uint32_t index) {
  std::uint8_t bytes[kGtBytes];
  for (std::uint32_t j = 0; j < kGtesPerGt; ++j) WriteLE32(bytes + 4 * j, e->gt[j]);
  if (!StreamWrite(&e->stream, e->gd[index] * kSectorBytes, kGtBytes, bytes)) return DISK_E_READ;
  if (e->rgd != nullptr) {
    for (std::uint32_t j = 0; j < kGtesPerGt; ++j) e->rgt[j] = e->gt[j];
    if (!StreamWrite(&e->stream, e->rgd[index] * kSectorBytes, kGtBytes, bytes)) return DISK_E_READ;
  }
  return DISK_OK;
}

// One grain the source holds: appended at the extent's end, entered in the
// GT in memory.
DiskResult TakeGrain(SparseExtent* e, LoopState* s, std::uint32_t entry, std::uint32_t n) {
  const std::uint64_t grainBytes = SparseGrainBytes(*e);
  QVT_DISK_TRY(ImageRead(s->source, static_cast<std::uint64_t>(s->position) * kSectorBytes,
                         n * static_cast<std::uint32_t>(kSectorBytes), s->grain));
  std::memset(s->grain + n * kSectorBytes, 0,
              static_cast<std::size_t>(grainBytes - n * kSectorBytes));
  if (e->nextFree > UINT32_MAX) return DISK_E_LIMIT;
  if (!StreamWrite(&e->stream, e->nextFree * kSectorBytes, static_cast<std::uint32_t>(grainBytes),
                   s->grain)) {
    return DISK_E_WRITE;
  }
  e->gt[entry] = static_cast<std::uint32_t>(e->nextFree);
  e->nextFree += e->grainSectors;
  e->fileSectors = e->nextFree;
  return DISK_OK;
}

DiskResult MergeGt(SparseExtent* e, std::uint32_t index, LoopState* s) {
  const std::uint64_t sectors = GtSectors(*e, index);
  bool any = false;
  QVT_DISK_TRY(s->presence(s->source, s->position, static_cast<std::uint32_t>(sectors), &any));
  if (!any) {
    s->position += static_cast<std::uint32_t>(sectors);
    return DISK_OK;
  }
  // A GT the extent lacks could only be appended behind the grains, which
  // the layout forbids; such extents are not merged into.
  if (e->gd[index] == 0) return DISK_E_UNSUPPORTED;
  QVT_DISK_TRY(SparseLoadGt(e, index));
  bool changed = false;
  std::uint64_t left = sectors;
  for (std::uint32_t j = 0; j < kGtesPerGt && left > 0; ++j) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, e->grainSectors));
    bool present = false;
    if (e->gt[j] == 0) QVT_DISK_TRY(s->presence(s->source, s->position, n, &present));
    if (present) {
      QVT_DISK_TRY(TakeGrain(e, s, j, n));
      changed = true;
      s->position += n;
      if (!Report(*s)) return DISK_CANCELLED;
    } else {
      s->position += n;
    }
    left -= n;
  }
  return changed ? WriteGtBack(e, index) : DISK_OK;
}

DiskResult MergeOneExtent(SparseExtent* e, LoopState* s) {
  HeapBlock grain(SparseGrainBytes(*e));
  if (!grain) return DISK_E_NOMEM;
  s->grain = static_cast<std::uint8_t*>(grain.get());
  for (std::uint32_t i = 0; i < e->numGts && GtSectors(*e, i) > 0; ++i) {
    if (!Report(*s)) return DISK_CANCELLED;
    QVT_DISK_TRY(MergeGt(e, i, s));
  }
  return Report(*s) ? DISK_OK : DISK_CANCELLED;
}

DiskResult NameExtent(const MergeDisk& child, std::uint32_t i, ReplaceEntry* entry) {
  PathBuffer live;
  const VmdkExtent& x = child.descriptor->extents[i];
  QVT_DISK_TRY(VmdkResolveName(child.path, x.fileName, child.Encoding(), &live));
  return ReplaceEntrySet(entry, live.CString()) == DISK_OK ? DISK_OK : DISK_E_FORMAT;
}

DiskResult MergeExtent(const MergeDisk& child, std::uint32_t i, bool preventFragment,
                       ReplaceSet* set, LoopState* s) {
  const VmdkDescriptor& d = *child.descriptor;
  const VmdkExtent& x = d.extents[i];
  if (x.kind != kVmdkExtentSparse) return DISK_E_FORMAT;
  ReplaceEntry* entry = &set->extents[i];
  QVT_DISK_TRY(NameExtent(child, i, entry));
  const bool split = !child.embedded;
  std::uint64_t extra = 0;
  if (preventFragment) {
    SparseExtent live;
    ExtentCloser closeLive{&live};
    QVT_DISK_TRY(SparseOpen(&live, &ExtentOpenPlain, nullptr, entry->live.CString(), true, split,
                            nullptr, s->position, x.sectors, nullptr, nullptr));
    QVT_DISK_TRY(CountMissingGrains(&live, s->position, s->source, s->presence, &extra));
  }
  std::uint64_t copied = 0;
  bool partialLeft = false;
  const DiskResult c = MergeCopyFile(entry->live.CString(), entry->temp.CString(), preventFragment,
                                     extra, s->progress, s->context, &copied, &partialLeft);
  if (c == DISK_OK || partialLeft) ++set->extentCount;
  if (c != DISK_OK) return c;

  const char* tempPath = entry->temp.CString();
  PreallocatedFiles files{1, &tempPath, &copied};
  SparseExtent work;
  ExtentCloser closeWork{&work};
  QVT_DISK_TRY(SparseOpen(&work, preventFragment ? &PreallocatedOpen : &ExtentOpenPlain,
                          preventFragment ? &files : nullptr, tempPath, false, split, nullptr,
                          s->position, x.sectors, nullptr, nullptr));
  if (work.nextFree == 0) return DISK_E_UNSUPPORTED;  // compressed: no room for plain grains
  return MergeOneExtent(&work, s);
}

}  // namespace

DiskResult CountMissingGrains(SparseExtent* e, std::uint32_t firstSector, ImageHandle* source,
                              MergePresenceFn presence, std::uint64_t* extraBytes) {
  *extraBytes = 0;
  std::uint64_t position = firstSector;
  for (std::uint32_t i = 0; i < e->numGts && GtSectors(*e, i) > 0; ++i) {
    std::uint64_t left = GtSectors(*e, i);
    if (e->gd[i] != 0) QVT_DISK_TRY(SparseLoadGt(e, i));
    for (std::uint32_t j = 0; j < kGtesPerGt && left > 0; ++j) {
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, e->grainSectors));
      if (e->gd[i] == 0 || e->gt[j] == 0) {
        bool present = false;
        QVT_DISK_TRY(presence(source, static_cast<std::uint32_t>(position), n, &present));
        if (present) *extraBytes += SparseGrainBytes(*e);
      }
      position += n;
      left -= n;
    }
  }
  return DISK_OK;
}

DiskResult MergeExtents(const MergeDisk& child, ImageHandle* source, MergePresenceFn presence,
                        bool preventFragment, ReplaceSet* set, ProgressFn progress,
                        void* context) {
  const VmdkDescriptor& d = *child.descriptor;
  ImageGeometry g{};
  QVT_DISK_TRY(ImageGetSize(source, &g));
  if (MergeTotalSectors(d) != g.sectors) return DISK_E_FORMAT;
  LoopState s{source, presence, progress, context, 0, g.sectors, nullptr};
  if (!Report(s)) return DISK_CANCELLED;
  QVT_DISK_TRY(ReplaceSetAllocExtents(set, d.extentCount));
  set->extentCount = 0;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    QVT_DISK_TRY(MergeExtent(child, i, preventFragment, set, &s));
  }
  return DISK_OK;
}

}  // namespace qvt
