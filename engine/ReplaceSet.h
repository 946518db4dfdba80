// The temporary-file transaction of operations that change existing disks:
// the engine writes temporary copies and registers them here; the caller
// commits them (live file to a backup name, copy into place, backup removed)
// or rolls them back (copies deleted). The engine never commits by itself.
#ifndef QVT_ENGINE_REPLACESET_H
#define QVT_ENGINE_REPLACESET_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"

namespace qvt {

// Names of one replacement, in encoding 0: the live file, and its temporary
// copy (the live name followed by "_QVT_TEMP"; empty when there is none).
struct ReplaceEntry {
  PathBuffer live;
  PathBuffer temp;
};

constexpr char kTempSuffix[] = "_QVT_TEMP";

// Owned by the caller and handed to the engine empty.
struct ReplaceSet {
  std::uint8_t created;  // the main temporary file has been created
  ReplaceEntry main;     // the descriptor or the single-file disk
  std::uint32_t extentCount;
  ReplaceEntry* extents;  // from the engine's heap; freed by commit or rollback
};

void ReplaceSetInit(ReplaceSet* set);

// Sets live = `livePath` and temp = livePath + "_QVT_TEMP" (both encoding 0).
// DISK_E_LIMIT when a name does not fit its 520 bytes.
DiskResult ReplaceEntrySet(ReplaceEntry* entry, const char* livePath);

// Gives the set an extent list of `count` empty entries (any earlier list is
// freed). DISK_E_NOMEM when the heap refuses.
DiskResult ReplaceSetAllocExtents(ReplaceSet* set, std::uint32_t count);

// Commits the main entry (when created) and then each extent entry, in order,
// stopping at the first failure: the live file goes to live + suffix, the
// temporary file to the live name, and the backup is deleted (to the recycle
// bin when asked). A failure is DISK_E_CREATE (DISK_E_LIMIT for a backup name
// that does not fit); the entry that failed is put back as it was. The list
// is freed and the set emptied whatever the outcome.
DiskResult ReplaceSetCommit(ReplaceSet* set, const char* suffix, bool toRecycleBin);

// Deletes every registered temporary file; a failed delete is DISK_E_CREATE and
// stops there. The list is freed and the set emptied.
DiskResult ReplaceSetRollback(ReplaceSet* set);

}  // namespace qvt

#endif
