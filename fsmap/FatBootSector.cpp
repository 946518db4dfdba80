// Turns a FAT or Human68k boot record into the volume's geometry. Every
// count is checked before it is multiplied, so a hostile record can make the
// volume be rejected but never make the reader look outside it.
#include <cstring>

#include "ByteOrder.h"
#include "FatLayout.h"

namespace qvt {
namespace {

// The raw counts both record forms carry.
struct FatParameters {
  std::uint32_t bytesPerSector;
  std::uint32_t sectorsPerCluster;
  std::uint32_t reservedSectors;
  std::uint32_t fatCount;
  std::uint32_t rootEntries;
  std::uint64_t totalSectors;
  std::uint64_t fatSectors;
};

bool IsPowerOfTwoIn(std::uint32_t v, std::uint32_t low, std::uint32_t high) {
  return v >= low && v <= high && (v & (v - 1)) == 0;
}

bool IsHuman68k(const std::uint8_t* boot) {
  const char* id = reinterpret_cast<const char*>(boot + human68k::kIdentification);
  return std::memcmp(id, "Hudson soft ", human68k::kIdentificationSize) == 0 ||
         std::memcmp(id, "SHARP/KG    ", human68k::kIdentificationSize) == 0;
}

// Human68k records are not held to the PC rules (their media byte and
// sector sizes differ), only to what keeps the geometry meaningful: the X68000
// used 256-byte sectors on SASI disks and 1024-byte ones on floppies.
bool ReadHuman68k(const std::uint8_t* b, FatParameters* p) {
  p->bytesPerSector = ReadBE16(b + human68k::kBytesPerSector);
  p->sectorsPerCluster = b[human68k::kSectorsPerCluster];
  p->fatCount = b[human68k::kFatCount];
  p->reservedSectors = ReadBE16(b + human68k::kReservedSectors);
  p->rootEntries = ReadBE16(b + human68k::kRootEntries);
  p->totalSectors = ReadBE16(b + human68k::kTotalSectors16);
  if (p->totalSectors == 0) p->totalSectors = ReadBE32(b + human68k::kTotalSectors32);
  p->fatSectors = b[human68k::kFatSectors];
  return IsPowerOfTwoIn(p->bytesPerSector, 256, 4096) && p->sectorsPerCluster != 0 &&
         p->bytesPerSector * p->sectorsPerCluster <= 65536 && p->fatCount != 0;
}

bool ReadStandard(const std::uint8_t* b, FatParameters* p) {
  p->bytesPerSector = ReadLE16(b + fatbpb::kBytesPerSector);
  p->sectorsPerCluster = b[fatbpb::kSectorsPerCluster];
  p->reservedSectors = ReadLE16(b + fatbpb::kReservedSectors);
  p->fatCount = b[fatbpb::kFatCount];
  p->rootEntries = ReadLE16(b + fatbpb::kRootEntries);
  p->totalSectors = ReadLE16(b + fatbpb::kTotalSectors16);
  if (p->totalSectors == 0) p->totalSectors = ReadLE32(b + fatbpb::kTotalSectors32);
  p->fatSectors = ReadLE16(b + fatbpb::kFatSectors16);
  if (p->fatSectors == 0) p->fatSectors = ReadLE32(b + fatbpb::kFatSectors32);
  const std::uint8_t media = b[fatbpb::kMedia];
  return IsPowerOfTwoIn(p->bytesPerSector, 512, 4096) &&
         IsPowerOfTwoIn(p->sectorsPerCluster, 1, 128) &&
         p->bytesPerSector * p->sectorsPerCluster <= 32768 && p->reservedSectors != 0 &&
         p->fatCount != 0 && (p->rootEntries * 32u) % p->bytesPerSector == 0 &&
         (media == 0xF0 || media >= 0xF8);
}

FatType TypeOf(std::uint32_t clusters) {
  if (clusters <= kFat12MaxClusters) return FAT_12;
  if (clusters <= kFat16MaxClusters) return FAT_16;
  return FAT_32;
}

}  // namespace

DiskResult ParseFatBootRecord(const std::uint8_t* boot, std::uint32_t volumeSectors, FatGeometry* out) {
  FatParameters p{};
  const bool human = IsHuman68k(boot);
  if (!(human ? ReadHuman68k(boot, &p) : ReadStandard(boot, &p))) return DISK_E_FS_UNKNOWN;
  if (p.fatSectors == 0 || p.totalSectors == 0) return DISK_E_FS_UNKNOWN;

  const std::uint64_t rootSectors = (p.rootEntries * 32ull + p.bytesPerSector - 1) / p.bytesPerSector;
  const std::uint64_t metaSectors = p.reservedSectors + p.fatCount * p.fatSectors + rootSectors;
  if (p.totalSectors < metaSectors) return DISK_E_FS_UNKNOWN;
  const std::uint64_t clusters = (p.totalSectors - metaSectors) / p.sectorsPerCluster;
  // The FATs and the root directory are read or kept from inside the volume
  // only; a record that places them past its end describes another disk.
  const std::uint64_t dataOffset = metaSectors * p.bytesPerSector;
  if (dataOffset > static_cast<std::uint64_t>(volumeSectors) * 512 || clusters > 0xFFFFFFFFull) {
    return DISK_E_FS_UNKNOWN;
  }
  const FatType type = TypeOf(static_cast<std::uint32_t>(clusters));
  // Linux, mtools and dosfstools call a volume FAT32 when its 16-bit FAT
  // size is 0, whatever its cluster count. Where that and the count
  // disagree, the two readings of the table differ and one of them would
  // call used clusters free: the volume is left whole.
  if (!human && (ReadLE16(boot + fatbpb::kFatSectors16) == 0) != (type == FAT_32)) {
    return DISK_E_FS_UNKNOWN;
  }
  out->human68k = human;
  out->type = type;
  out->bytesPerSector = p.bytesPerSector;
  out->sectorsPerCluster = p.sectorsPerCluster;
  out->fatCount = p.fatCount;
  out->fatOffset = static_cast<std::uint64_t>(p.reservedSectors) * p.bytesPerSector;
  out->fatBytes = p.fatSectors * p.bytesPerSector;
  out->dataOffset = dataOffset;
  out->clusterCount = static_cast<std::uint32_t>(clusters);
  out->bytesPerCluster = p.bytesPerSector * p.sectorsPerCluster;
  return DISK_OK;
}

}  // namespace qvt
