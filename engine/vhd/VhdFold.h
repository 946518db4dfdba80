// What the two folds share: the working copy beside the image, the block
// buffer, and the guard that keeps a locator rewrite out of the image's
// structures.
#ifndef QVT_ENGINE_VHD_VHDFOLD_H
#define QVT_ENGINE_VHD_VHDFOLD_H

#include <cstdint>

#include "ReplaceSet.h"
#include "VhdImage.h"

namespace qvt {

// Copies `imagePath` to its name + "_QVT_TEMP" (over an existing one) and
// fills `entry`, which stays empty when the copy fails (DISK_E_CREATE,
// DISK_E_LIMIT for a name that does not fit).
DiskResult VhdMakeWorkingCopy(const char* imagePath, ReplaceEntry* entry);

// True when the locator's data area lies clear of the footer copy, the
// header and the BAT, and before the first block: only then may a fold
// write into it.
bool VhdLocatorAreaIsClear(const VhdImage& m, const VhdLocator& l);

// One block's bitmap and data, taken once per fold.
struct VhdBlockBuffer {
  std::uint8_t* bitmap = nullptr;
  std::uint8_t* data = nullptr;
  ~VhdBlockBuffer();
};
DiskResult VhdBlockBufferInit(VhdBlockBuffer* b, const VhdImage& m);

// Writes a new block (the buffer's bitmap and `sectors` data sectors) at
// the next free offset, enters it in the BAT in memory and moves the next
// free offset past it.
DiskResult VhdAppendFoldedBlock(VhdImage* m, std::uint32_t block, std::uint32_t sectors,
                                const VhdBlockBuffer& b);

}  // namespace qvt

#endif
