// Removing a disk from a chain, or folding a child into its parent: the
// operations that move grains between the files of a chain. Each writes
// temporary copies ("_QVT_TEMP") beside the live files and registers them;
// no live file changes until the caller commits what was registered (or
// rolls it back after a failure or a stop).
#ifndef QVT_ENGINE_VMDK_VMDKMERGE_H
#define QVT_ENGINE_VMDK_VMDKMERGE_H

#include <cstdint>

#include "DiskResult.h"
#include "Progress.h"
#include "ReplaceSet.h"

namespace qvt {

// Re-points child `childPath` at the parent of its parent `middlePath`
// (taking the middle disk's parentCID); no grain moves. DISK_E_FORMAT when
// either disk is not a child or a name does not fit.
DiskResult VmdkReparent(const char* childPath, const char* middlePath, bool absolute,
                        ReplaceSet* set, ProgressFn progress, void* context);

// Copies into the child every grain the middle disk holds in its own files
// and the child lacks, then re-points the child at the middle disk's parent.
// `preventFragment`: every temporary copy is created at its final size first.
DiskResult VmdkMergeMiddleIntoChild(const char* childPath, const char* middlePath, bool absolute,
                                    bool preventFragment, ReplaceSet* set, ProgressFn progress,
                                    void* context);

// Copies into the child everything that is not empty through the chain of
// `topPath` and the child lacks, and gives it a base-disk descriptor: the
// child then stands alone.
DiskResult VmdkConsolidate(const char* childPath, const char* topPath, bool preventFragment,
                           ReplaceSet* set, ProgressFn progress, void* context);

// One set per extent of the parent (each with only its main entry: the live
// extent file and its copy). Owned by the caller, handed to the commit empty.
struct ReplaceSetList {
  std::uint32_t count;  // sets in use
  ReplaceSet* sets;     // from the engine's heap
};
void ReplaceSetListInit(ReplaceSetList* list);
// Commits (or rolls back) every set in order, stopping at the first failure
// (the sets after it are rolled back, so no temporary file stays); the list
// is freed and emptied whatever the outcome.
DiskResult ReplaceSetListCommit(ReplaceSetList* list, const char* suffix, bool toRecycleBin);
DiskResult ReplaceSetListRollback(ReplaceSetList* list);

// Writes every grain the child's own extents hold into copies of the parent's
// extent files; the parent's descriptor is not changed. A partial last grain
// is completed from the parent's own parent. DISK_E_FORMAT for a child that
// is not one, or whose size differs from the parent's (before any copy).
DiskResult VmdkCommitIntoParent(const char* childPath, const char* parentPath,
                                bool preventFragment, ReplaceSetList* list, ProgressFn progress,
                                void* context);

}  // namespace qvt

#endif
