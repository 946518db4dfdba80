// The volumes found on a guest disk, each in the shape of an MBR partition
// entry, collected by the partition-table walks and the LVM2 reader.
#ifndef QVT_FSMAP_VOLUMERECORD_H
#define QVT_FSMAP_VOLUMERECORD_H

#include <cstdint>

#include "DiskResult.h"
#include "ImageHandle.h"

namespace qvt {

constexpr std::uint32_t kMaxVolumes = 256;

// 16 bytes as an MBR entry holds them: byte 4 the partition type (0 when the
// volume did not come from an MBR entry), bytes 8-11 the first sector
// (absolute on the disk), bytes 12-15 the sector count, both little-endian.
struct VolumeRecord {
  std::uint8_t bytes[16];
};

std::uint8_t VolumeType(const VolumeRecord& record);
std::uint32_t VolumeFirstSector(const VolumeRecord& record);
std::uint32_t VolumeSectorCount(const VolumeRecord& record);
// A record of type 0 for [first, first + count).
VolumeRecord MakeVolumeRecord(std::uint32_t first, std::uint32_t count);

// Where a walk puts what it finds. The walks run twice: with `records` null
// to count, then into an array of the counted size. `count` goes up for
// every volume found until `capacity`; records beyond it are dropped.
struct VolumeList {
  VolumeRecord* records;  // null while counting
  std::uint32_t capacity;
  std::uint32_t count;
};

// Appends one record; false (and nothing kept) when the list is full.
bool AppendVolume(VolumeList* list, const VolumeRecord& record);
inline bool VolumeListFull(const VolumeList& list) { return list.count >= list.capacity; }

// Reads the partition tables of the disk (MBR, extended boot records, GPT,
// LVM2 physical volumes) into `list`. `diskSectors` is the disk's capacity.
DiskResult DiscoverVolumes(ImageHandle* image, std::uint32_t diskSectors, VolumeList* list);

// Adds the logical volumes of the LVM2 physical volume that starts at
// `firstSector`. DISK_E_FS_UNKNOWN when it is not one this reader can use.
DiskResult ReadLvm2PhysicalVolume(ImageHandle* image, std::uint32_t firstSector, VolumeList* list);

}  // namespace qvt

#endif
