// Block arithmetic and the pieces of block I/O that reads, writes and folds
// share: where a block's bitmap and sectors lie, the bitmap cache, zero
// runs, and the trailing footer that follows every append.
#ifndef QVT_ENGINE_VHD_VHDBLOCKS_H
#define QVT_ENGINE_VHD_VHDBLOCKS_H

#include <cstdint>

#include "VhdImage.h"

namespace qvt {

// Disk sectors in block `block` (the last block may be cut short by the
// disk's end).
std::uint32_t VhdBlockSectors(const VhdImage& m, std::uint32_t block);
// File offset of the block's bitmap and of its first data sector.
inline std::uint64_t VhdBlockStart(const VhdImage& m, std::uint32_t block) {
  return static_cast<std::uint64_t>(m.bat[block]) * kSectorSize;
}
inline std::uint64_t VhdBlockData(const VhdImage& m, std::uint32_t block) {
  return VhdBlockStart(m, block) + m.bitmapBytes;
}

inline bool VhdBitIsSet(const std::uint8_t* bitmap, std::uint32_t sector) {
  return (bitmap[sector / 8] & (0x80u >> (sector % 8))) != 0;
}
inline void VhdSetBit(std::uint8_t* bitmap, std::uint32_t sector) {
  bitmap[sector / 8] = static_cast<std::uint8_t>(bitmap[sector / 8] | (0x80u >> (sector % 8)));
}
// Sectors from `from` (below `end`) whose bits equal that of `from`.
std::uint32_t VhdBitRun(const std::uint8_t* bitmap, std::uint32_t from, std::uint32_t end);

// Makes the bitmap of allocated block `block` the cached one (DISK_E_READ).
DiskResult VhdCacheBitmap(VhdImage* m, std::uint32_t block);
DiskResult VhdWriteBitmap(VhdImage* m, std::uint32_t block);
// Writes `bytes` zero bytes at `offset`.
bool VhdWriteZeros(FileStream* file, std::uint64_t offset, std::uint64_t bytes);
// Writes the footer at the next free offset with the image's footer length.
bool VhdWriteTrailingFooter(VhdImage* m);
// The block's BAT entry, on disk.
bool VhdWriteBatEntry(VhdImage* m, std::uint32_t block);
// The whole BAT, on disk.
DiskResult VhdWriteBat(VhdImage* m);

bool VhdIsZero(const std::uint8_t* bytes, std::uint32_t length);

}  // namespace qvt

#endif
