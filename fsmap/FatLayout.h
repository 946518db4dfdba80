// FAT12/16/32 and Human68k boot records: where the fields the allocation
// reader uses lie, and the volume geometry derived from them.
#ifndef QVT_FSMAP_FATLAYOUT_H
#define QVT_FSMAP_FATLAYOUT_H

#include <cstddef>
#include <cstdint>

#include "DiskResult.h"

namespace qvt {

// BIOS parameter block of a standard boot sector (little-endian).
namespace fatbpb {
constexpr std::size_t kBytesPerSector = 11;    // 2
constexpr std::size_t kSectorsPerCluster = 13;  // 1
constexpr std::size_t kReservedSectors = 14;   // 2
constexpr std::size_t kFatCount = 16;          // 1
constexpr std::size_t kRootEntries = 17;       // 2
constexpr std::size_t kTotalSectors16 = 19;    // 2
constexpr std::size_t kMedia = 21;             // 1
constexpr std::size_t kFatSectors16 = 22;      // 2
constexpr std::size_t kTotalSectors32 = 32;    // 4
constexpr std::size_t kFatSectors32 = 36;      // 4
constexpr std::size_t kSize = 90;
}  // namespace fatbpb

// Human68k boot record (big-endian).
namespace human68k {
constexpr std::size_t kIdentification = 2;  // 12
constexpr std::size_t kIdentificationSize = 12;
constexpr std::size_t kBytesPerSector = 18;     // 2
constexpr std::size_t kSectorsPerCluster = 20;  // 1
constexpr std::size_t kFatCount = 21;           // 1
constexpr std::size_t kReservedSectors = 22;    // 2
constexpr std::size_t kRootEntries = 24;        // 2
constexpr std::size_t kTotalSectors16 = 26;     // 2
constexpr std::size_t kFatSectors = 29;         // 1
constexpr std::size_t kTotalSectors32 = 30;     // 4
constexpr std::size_t kSize = 34;
}  // namespace human68k

enum FatType : std::int32_t { FAT_12 = 12, FAT_16 = 16, FAT_32 = 32 };

constexpr std::uint32_t kFat12MaxClusters = 4084;
constexpr std::uint32_t kFat16MaxClusters = 65524;

struct FatGeometry {
  bool human68k;
  FatType type;
  std::uint32_t bytesPerSector;
  std::uint32_t sectorsPerCluster;
  std::uint32_t fatCount;
  std::uint64_t fatOffset;     // first FAT, bytes from the volume start
  std::uint64_t fatBytes;      // one FAT
  std::uint64_t dataOffset;    // bytes from the volume start
  std::uint32_t clusterCount;  // K
  std::uint32_t bytesPerCluster;
};

// Reads the boot record in `boot` (at least fatbpb::kSize bytes) of a volume
// of `volumeSectors` 512-byte sectors. DISK_E_FS_UNKNOWN when it is neither
// a valid parameter block nor a Human68k record, or when its metadata would
// not fit in the volume.
DiskResult ParseFatBootRecord(const std::uint8_t* boot, std::uint32_t volumeSectors, FatGeometry* out);

}  // namespace qvt

#endif
