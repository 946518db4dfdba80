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

// The VMDK operations that move grains between the disks of a chain. Each
// writes temporary copies beside the live files and then puts them in place,
// or leaves them for a look (keepTemp); a failure or a stop removes them.
enum class ChainVerbKind { kReparent, kMergeMiddle, kConsolidate, kCommit };
struct ChainVerbOptions {
  bool absolute = false;         // the child's new parent hint (reparent, merge-middle)
  bool preventFragment = false;  // copies made at their final size first
  bool keepTemp = false;
  bool recycle = false;          // the replaced files go to the recycle bin
};
// `other`: the middle disk (reparent, merge-middle), the top of the chain
// the child takes in (consolidate), or the parent (commit).
int ChainVerb(Console& console, ChainVerbKind kind, const ToolPath& child, const ToolPath& other,
              const ChainVerbOptions& options);

// How a copy lays out its new disk: derived from a VMDK source, or one of
// the fixed layouts.
enum class CopyLayoutKind { kFromSource, kSingle, kSplit, kFlat, kStream };
constexpr std::uint32_t kCopyValueUnset = 0xFFFFFFFFu;
struct CopyOptions {
  bool trim = false;
  CopyLayoutKind layout = CopyLayoutKind::kFromSource;
  std::uint32_t mode = kCopyValueUnset;            // 0..4; unset: chosen from the source
  std::uint32_t adapter = kCopyValueUnset;         // kVmdkAdapter*
  std::uint32_t hwVersionIndex = kCopyValueUnset;  // index of the hardware-version table
};
int CopyVerb(Console& console, const ToolPath& source, const ToolPath& target,
             const CopyOptions& options);

// Prints the failure ("stopped" for a cancellation); the exit status.
int EngineFailure(Console& console, const std::string& what, DiskResult result);
// ImageOpen, and when no kind accepts the disk, the reason the VMDK opener
// gives for it on stderr.
DiskResult OpenDisk(Console& console, const ToolPath& disk, bool readOnly,
                    std::uint32_t parentMode, ImageHandle* image);

}  // namespace qvt::qvtdisk

#endif
