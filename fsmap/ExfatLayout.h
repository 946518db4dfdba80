// Where the exFAT reader finds what it reads: the main boot sector, the FAT
// entries, and the allocation bitmap entry of the root directory. Every
// field is little-endian and is read through ByteOrder.h at these offsets.
#ifndef QVT_FSMAP_EXFATLAYOUT_H
#define QVT_FSMAP_EXFATLAYOUT_H

#include <cstdint>

namespace qvt::exfat {

// Main boot sector.
constexpr std::uint32_t kBootName = 3;  // 8 bytes, "EXFAT   "
constexpr std::uint32_t kBootZeroArea = 11;  // 53 bytes, all zero
constexpr std::uint32_t kBootZeroAreaSize = 53;
constexpr std::uint32_t kBootFatOffset = 80;  // 4 bytes, sectors
constexpr std::uint32_t kBootFatLength = 84;  // 4 bytes, sectors
constexpr std::uint32_t kBootHeapOffset = 88;  // 4 bytes, sectors
constexpr std::uint32_t kBootClusterCount = 92;  // 4 bytes
constexpr std::uint32_t kBootRootCluster = 96;  // 4 bytes
constexpr std::uint32_t kBootVolumeFlags = 106;  // 2 bytes
constexpr std::uint32_t kBootBytesPerSectorShift = 108;  // 1 byte
constexpr std::uint32_t kBootSectorsPerClusterShift = 109;  // 1 byte
constexpr std::uint32_t kBootNumberOfFats = 110;  // 1 byte
constexpr std::uint32_t kBootSignature = 510;  // 2 bytes, 0xAA55

constexpr std::uint16_t kVolumeDirty = 0x0002;

// Directory entries.
constexpr std::uint32_t kEntrySize = 32;
constexpr std::uint32_t kEntryType = 0;  // 1 byte
constexpr std::uint32_t kEntryFirstCluster = 20;  // 4 bytes
constexpr std::uint32_t kEntryDataLength = 24;  // 8 bytes
constexpr std::uint8_t kTypeEndOfDirectory = 0x00;
constexpr std::uint8_t kTypeAllocationBitmap = 0x81;

// FAT entries: 4 bytes each, indexed by cluster.
constexpr std::uint32_t kFatEntrySize = 4;
constexpr std::uint32_t kFatEndOfChain = 0xFFFFFFFFu;
constexpr std::uint32_t kFirstCluster = 2;  // cluster 2 is the heap's first

}  // namespace qvt::exfat

#endif
