// The verbs of qvtdisk, each over the disk engine.
#ifndef QVT_TOOLS_QVTDISK_VERBS_H
#define QVT_TOOLS_QVTDISK_VERBS_H

#include <cstdint>
#include <string>

#include "DiskResult.h"
#include "ImageHandle.h"
#include "QvtDisk.h"

namespace qvt::qvtdisk {

// A path as the user wrote it and as the engine takes it.
struct ToolPath {
  std::string native;
  std::string engine;  // Shift_JIS Windows form
};

int InfoVerb(Console& console, const ToolPath& disk);
int ExportVerb(Console& console, const ToolPath& disk, const ToolPath& raw);
int WriteVerb(Console& console, const ToolPath& disk, std::uint64_t offset, const ToolPath& raw);
int SetParentHintVerb(Console& console, const ToolPath& disk, const std::string& hint);
int ChildVerb(Console& console, const ToolPath& parent, const ToolPath& child, bool absolute);
// Folds a VHD child's parent (or whole chain) into it; `commit` puts the
// result in place, otherwise the working copy is dropped.
int FoldParentVerb(Console& console, const ToolPath& child, bool commit);
int FoldChainVerb(Console& console, const ToolPath& child, bool commit);
int MapVerb(Console& console, const ToolPath& disk);
int MapBitsVerb(Console& console, const ToolPath& disk, std::uint32_t first, std::uint32_t count);

// Prints the failure ("stopped" for a cancellation); the exit status.
int EngineFailure(Console& console, const std::string& what, DiskResult result);
// ImageOpen, and when no kind accepts the disk, the reason the VMDK opener
// gives for it on stderr.
DiskResult OpenDisk(Console& console, const ToolPath& disk, bool readOnly,
                    std::uint32_t parentMode, ImageHandle* image);

}  // namespace qvt::qvtdisk

#endif
