// Commit of a child into its parent: every grain the child holds is written
// into copies of the parent's extent files; the parent's descriptor stays.
#include <algorithm>
#include <new>

#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpen.h"
#include "SparseCommon.h"
#include "SparseLayout.h"
#include "SparseTables.h"
#include "VmdkImage.h"
#include "VmdkImagePath.h"
#include "VmdkMerge.h"
#include "VmdkMergeWork.h"

namespace qvt {
namespace {

// Per parent extent: its copy's name and the bytes the copy reached.
struct CommitFiles {
  const char** paths = nullptr;
  std::uint64_t* copied = nullptr;
  std::uint64_t* extra = nullptr;
  ~CommitFiles() {
    EngineFree(paths);
    EngineFree(copied);
    EngineFree(extra);
  }
};

DiskResult TakeFiles(CommitFiles* f, std::uint32_t count) {
  f->paths = static_cast<const char**>(EngineAlloc(sizeof(char*) * count));
  f->copied = static_cast<std::uint64_t*>(EngineAlloc(sizeof(std::uint64_t) * count));
  f->extra = static_cast<std::uint64_t*>(EngineAlloc(sizeof(std::uint64_t) * count));
  if (f->paths == nullptr || f->copied == nullptr || f->extra == nullptr) return DISK_E_NOMEM;
  for (std::uint32_t i = 0; i < count; ++i) f->copied[i] = f->extra[i] = 0;
  return DISK_OK;
}

// The grains the commit will add to each parent extent: one per unallocated
// entry whose range the child's own files hold.
DiskResult CountExtra(const char* childPath, const char* parentPath, CommitFiles* f) {
  ImageHandle parent = NoImage();
  ImageCloser closeParent{&parent};
  QVT_DISK_TRY(ImageOpen(&parent, parentPath, true, VMDK_PARENT_NONE, nullptr, nullptr));
  VmdkImage* p = VmdkImageFromHandle(&parent);
  if (p == nullptr) return DISK_E_FORMAT;
  VmdkImageCloser child;
  QVT_DISK_TRY(VmdkImageOpen(&child.image, childPath, true, VMDK_PARENT_NONE, nullptr, nullptr));
  ImageHandle source{IMAGE_VMDK, child.image};
  if (p->flat) return DISK_OK;
  for (std::uint32_t i = 0; i < p->extentCount; ++i) {
    SparseExtent* e = &p->sparse[i];
    QVT_DISK_TRY(CountMissingGrains(e, static_cast<std::uint32_t>(e->firstSector), &source,
                                    &PresentInOwnFiles, &f->extra[i]));
  }
  return DISK_OK;
}

DiskResult CopyParentExtents(const MergeDisk& parent, bool preventFragment, ReplaceSetList* list,
                             CommitFiles* f, ProgressFn progress, void* context) {
  const VmdkDescriptor& d = *parent.descriptor;
  void* block = EngineAlloc(sizeof(ReplaceSet) * d.extentCount);
  if (block == nullptr) return DISK_E_NOMEM;
  list->sets = static_cast<ReplaceSet*>(block);
  list->count = 0;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    ReplaceSet* set = new (&list->sets[i]) ReplaceSet();
    ReplaceSetInit(set);
    PathBuffer live;
    QVT_DISK_TRY(VmdkResolveName(parent.path, d.extents[i].fileName, parent.Encoding(), &live));
    if (ReplaceEntrySet(&set->main, live.CString()) != DISK_OK) return DISK_E_FORMAT;
    bool partialLeft = false;
    const DiskResult r =
        MergeCopyFile(live.CString(), set->main.temp.CString(), preventFragment, f->extra[i],
                      progress, context, &f->copied[i], &partialLeft);
    if (r == DISK_OK || partialLeft) {
      set->created = 1;
      ++list->count;
    }
    if (r != DISK_OK) return r;
    f->paths[i] = set->main.temp.CString();
  }
  return DISK_OK;
}

struct CommitState {
  VmdkImage* parent;
  std::uint8_t* grain;
  ProgressFn progress;
  void* context;
  std::uint32_t total;
};

DiskResult CommitExtent(const MergeDisk& child, std::uint32_t index, std::uint32_t first,
                        CommitState* s) {
  const VmdkExtent& x = child.descriptor->extents[index];
  if (x.kind != kVmdkExtentSparse) return DISK_E_FORMAT;
  PathBuffer path;
  QVT_DISK_TRY(VmdkResolveName(child.path, x.fileName, child.Encoding(), &path));
  SparseExtent e;
  ExtentCloser closer{&e};
  QVT_DISK_TRY(SparseOpen(&e, &ExtentOpenPlain, nullptr, path.CString(), true, !child.embedded,
                          nullptr, first, x.sectors, nullptr, nullptr));
  const std::uint64_t span = static_cast<std::uint64_t>(e.grainSectors) * kGtesPerGt;
  for (std::uint32_t i = 0; i < e.numGts && span * i < e.sectors; ++i) {
    if (e.gd[i] == 0) continue;
    if (!ReportProgress(s->progress, s->context, static_cast<std::uint32_t>(first + span * i),
                        s->total)) {
      return DISK_CANCELLED;
    }
    QVT_DISK_TRY(SparseLoadGt(&e, i));
    for (std::uint32_t j = 0; j < kGtesPerGt; ++j) {
      const std::uint64_t at = span * i + static_cast<std::uint64_t>(e.grainSectors) * j;
      if (at >= e.sectors) break;
      if (e.gt[j] == 0) continue;
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(e.sectors - at, e.grainSectors));
      QVT_DISK_TRY(SparseRead(&e, at * kSectorBytes, n * 512, s->grain));
      QVT_DISK_TRY(VmdkImageWrite(s->parent, (first + at) * kSectorBytes, n * 512, s->grain));
      if (!ReportProgress(s->progress, s->context, static_cast<std::uint32_t>(first + at + n),
                          s->total)) {
        return DISK_CANCELLED;
      }
    }
  }
  return DISK_OK;
}

DiskResult CommitGrains(const MergeDisk& child, const MergeDisk& parent, const CommitFiles& f,
                        bool preventFragment, ProgressFn progress, void* context) {
  const std::uint32_t count = parent.descriptor->extentCount;
  PreallocatedFiles files{count, f.paths, f.copied};
  VmdkOpenOptions options;
  options.extentPaths = f.paths;
  options.extentPathCount = count;
  if (preventFragment) {
    options.open = &PreallocatedOpen;
    options.openContext = &files;
  }
  VmdkImageCloser p;
  QVT_DISK_TRY(VmdkImageOpen(&p.image, parent.path.CString(), false, VMDK_PARENT_OPEN, nullptr,
                             nullptr, &options));
  const std::uint64_t total = MergeTotalSectors(*child.descriptor);
  if (p.image->capacity != total) return DISK_E_FORMAT;
  // A grain is at most 2^16 sectors in any extent the opener accepts; the
  // buffer is sized for the largest the child's extents use.
  HeapBlock grain(static_cast<std::size_t>(kSectorBytes) * 65536);
  if (!grain) return DISK_E_NOMEM;
  CommitState s{p.image, static_cast<std::uint8_t*>(grain.get()), progress, context,
                static_cast<std::uint32_t>(total)};
  if (!ReportProgress(progress, context, 0, s.total)) return DISK_CANCELLED;
  std::uint32_t first = 0;
  for (std::uint32_t i = 0; i < child.descriptor->extentCount; ++i) {
    QVT_DISK_TRY(CommitExtent(child, i, first, &s));
    first += static_cast<std::uint32_t>(child.descriptor->extents[i].sectors);
  }
  return ReportProgress(progress, context, s.total, s.total) ? DISK_OK : DISK_CANCELLED;
}

}  // namespace

void ReplaceSetListInit(ReplaceSetList* list) {
  list->count = 0;
  list->sets = nullptr;
}

namespace {
DiskResult FinishList(ReplaceSetList* list, const char* suffix, bool toRecycleBin, bool commit) {
  DiskResult result = DISK_OK;
  for (std::uint32_t i = 0; i < list->count; ++i) {
    ReplaceSet* set = &list->sets[i];
    const DiskResult r = commit && result == DISK_OK ? ReplaceSetCommit(set, suffix, toRecycleBin)
                                                     : ReplaceSetRollback(set);
    if (result == DISK_OK) result = r;
  }
  EngineFree(list->sets);
  ReplaceSetListInit(list);
  return result;
}
}  // namespace

DiskResult ReplaceSetListCommit(ReplaceSetList* list, const char* suffix, bool toRecycleBin) {
  return FinishList(list, suffix, toRecycleBin, true);
}

DiskResult ReplaceSetListRollback(ReplaceSetList* list) {
  return FinishList(list, nullptr, false, false);
}

DiskResult VmdkCommitIntoParent(const char* childPath, const char* parentPath,
                                bool preventFragment, ReplaceSetList* list, ProgressFn progress,
                                void* context) {
  ReplaceSetListInit(list);
  MergeDisk child;
  QVT_DISK_TRY(MergeReadDisk(childPath, &child));
  if (!child.descriptor->isChild) return DISK_E_FORMAT;
  MergeDisk parent;
  QVT_DISK_TRY(MergeReadDisk(parentPath, &parent));
  // Sizes that disagree are refused before any file is copied.
  if (MergeTotalSectors(*child.descriptor) != MergeTotalSectors(*parent.descriptor)) {
    return DISK_E_FORMAT;
  }
  CommitFiles files;
  QVT_DISK_TRY(TakeFiles(&files, parent.descriptor->extentCount));
  if (preventFragment) QVT_DISK_TRY(CountExtra(childPath, parentPath, &files));
  QVT_DISK_TRY(CopyParentExtents(parent, preventFragment, list, &files, progress, context));
  return CommitGrains(child, parent, files, preventFragment, progress, context);
}

}  // namespace qvt
