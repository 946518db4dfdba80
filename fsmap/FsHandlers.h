// The table of filesystem readers, indexed by segment kind. Each reader
// recognises its filesystem in a volume, loads the filesystem's allocation
// data once, and answers for sectors of the volume from memory.
#ifndef QVT_FSMAP_FSHANDLERS_H
#define QVT_FSMAP_FSHANDLERS_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

constexpr std::int32_t kFsNtfs = 0;
constexpr std::int32_t kFsExt = 1;
constexpr std::int32_t kFsFat = 2;
constexpr std::int32_t kFsXfs = 3;
constexpr std::int32_t kFsExfat = 4;
constexpr std::int32_t kFsVmfs = 5;
constexpr std::int32_t kFsHfsPlus = 6;
constexpr std::int32_t kFsBtrfs = 7;
constexpr std::int32_t kFsHandlerCount = 8;

struct FsHandler {
  const char* name;  // for tools and logs: "NTFS", "ext2/3/4", ...
  // 0 with *state set when the volume [first, first + count) holds this
  // filesystem and its allocation data is loaded; DISK_E_FS_UNKNOWN when it
  // does not (or in a layout the reader does not support), DISK_E_FS_BITMAP
  // when it does but the allocation data cannot be found, read and memory
  // codes as they come. On failure *state is null and nothing is kept.
  DiskResult (*open)(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count);
  // Sets bits firstBit .. firstBit + count - 1 of `bits` (least significant
  // bit first), one per sector first .. first + count - 1 of the volume
  // (relative to its start): 1 in use, 0 free. Other bits are left alone.
  DiskResult (*query)(const void* state, std::uint32_t first, std::uint32_t count,
                      std::uint8_t* bits, std::uint32_t firstBit);
  void (*close)(void* state);
};

// The handler of `kind` (0 to kFsHandlerCount - 1).
const FsHandler& FsHandlerOf(std::int32_t kind);

// The kind an MBR partition type suggests, or -1 for none.
std::int32_t SuggestedFsKind(std::uint8_t partitionType);

// Sets bits firstBit .. firstBit + count - 1 of `bits` to `value`.
void SetBitRange(std::uint8_t* bits, std::uint32_t firstBit, std::uint32_t count, bool value);

}  // namespace qvt

#endif
