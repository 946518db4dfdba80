#include "ReplaceSet.h"

#include <cstring>
#include <new>

#include "FileLayer.h"
#include "Heap.h"

namespace qvt {
namespace {

void FreeExtents(ReplaceSet* set) {
  for (std::uint32_t i = 0; i < set->extentCount; ++i) set->extents[i].~ReplaceEntry();
  EngineFree(set->extents);
  set->extents = nullptr;
  set->extentCount = 0;
}

void Empty(ReplaceSet* set) {
  FreeExtents(set);
  set->created = 0;
  set->main = ReplaceEntry();
}

bool Concat(PathBuffer* out, const char* a, const char* b) {
  ByteBuffer* buffer = &out->buffer;
  BufferReset(buffer);
  const bool ok = BufferAppend(buffer, a, static_cast<std::uint32_t>(std::strlen(a))) &&
                  BufferAppend(buffer, b, static_cast<std::uint32_t>(std::strlen(b))) &&
                  BufferTerminate(buffer, ENC_SHIFT_JIS);
  if (!ok) BufferReset(buffer);
  return ok;
}

DiskResult CommitEntry(const ReplaceEntry& entry, const char* suffix, bool toRecycleBin) {
  if (entry.live.IsEmpty()) return DISK_OK;
  PathBuffer backup;
  if (!Concat(&backup, entry.live.CString(), suffix)) return DISK_E_LIMIT;

  const char* live = entry.live.CString();
  const bool liveExisted = FsExists(live);
  if (liveExisted && !FsMoveReplacing(live, backup.CString())) return DISK_E_CREATE;
  if (!entry.temp.IsEmpty() && !FsMove(entry.temp.CString(), live)) {
    // Put the live file back under its own name: a commit that cannot finish
    // must not leave the disk missing.
    if (liveExisted) FsMove(backup.CString(), live);
    return DISK_E_CREATE;
  }
  if (liveExisted) {
    const char* name = backup.CString();
    if (!(toRecycleBin ? FsRecycle(name) : FsDelete(name))) return DISK_E_CREATE;
  }
  return DISK_OK;
}

DiskResult RollbackEntry(const ReplaceEntry& entry) {
  // A copy that is already gone is as good as deleted.
  if (entry.temp.IsEmpty() || !FsExists(entry.temp.CString())) return DISK_OK;
  return FsDelete(entry.temp.CString()) ? DISK_OK : DISK_E_CREATE;
}

}  // namespace

void ReplaceSetInit(ReplaceSet* set) {
  set->created = 0;
  set->main = ReplaceEntry();
  set->extentCount = 0;
  set->extents = nullptr;
}

DiskResult ReplaceEntrySet(ReplaceEntry* entry, const char* livePath) {
  *entry = ReplaceEntry();
  if (!PathAssign(&entry->live, livePath, ENC_SHIFT_JIS) ||
      !Concat(&entry->temp, livePath, kTempSuffix)) {
    *entry = ReplaceEntry();
    return DISK_E_LIMIT;
  }
  return DISK_OK;
}

DiskResult ReplaceSetAllocExtents(ReplaceSet* set, std::uint32_t count) {
  FreeExtents(set);
  if (count == 0) return DISK_OK;
  if (count > UINT32_MAX / sizeof(ReplaceEntry)) return DISK_E_NOMEM;
  void* block = EngineAlloc(sizeof(ReplaceEntry) * count);
  if (block == nullptr) return DISK_E_NOMEM;
  set->extents = static_cast<ReplaceEntry*>(block);
  for (std::uint32_t i = 0; i < count; ++i) new (&set->extents[i]) ReplaceEntry();
  set->extentCount = count;
  return DISK_OK;
}

DiskResult ReplaceSetCommit(ReplaceSet* set, const char* suffix, bool toRecycleBin) {
  DiskResult result = DISK_OK;
  if (set->created) result = CommitEntry(set->main, suffix, toRecycleBin);
  for (std::uint32_t i = 0; result == DISK_OK && i < set->extentCount; ++i) {
    result = CommitEntry(set->extents[i], suffix, toRecycleBin);
  }
  Empty(set);
  return result;
}

DiskResult ReplaceSetRollback(ReplaceSet* set) {
  DiskResult result = DISK_OK;
  if (set->created) result = RollbackEntry(set->main);
  for (std::uint32_t i = 0; result == DISK_OK && i < set->extentCount; ++i) {
    result = RollbackEntry(set->extents[i]);
  }
  Empty(set);
  return result;
}

}  // namespace qvt
