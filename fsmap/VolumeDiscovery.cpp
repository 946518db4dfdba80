// The walk over a guest disk's partition tables: the MBR, the chains of
// extended boot records, the GPT, and LVM2 physical volumes found in either.
#include <cstring>

#include "ByteOrder.h"
#include "Heap.h"
#include "MbrLayout.h"
#include "VolumeRecord.h"

namespace qvt {
namespace {

// Extended boot records read per disk at most. Real chains hold one EBR per
// logical partition, far fewer than this.
constexpr std::uint32_t kMaxExtendedRecords = 1024;

struct Walk {
  ImageHandle* image;
  std::uint32_t diskSectors;
  VolumeList* list;
  std::uint64_t* visited;  // the extended records read so far
  std::uint32_t extendedRecords;
};

// A record read a second time means the chain points back into itself;
// it would otherwise be walked until the bounds stop it, repeating its
// partitions on the way.
DiskResult VisitExtended(Walk* walk, std::uint64_t sector) {
  for (std::uint32_t i = 0; i < walk->extendedRecords; ++i) {
    if (walk->visited[i] == sector) return DISK_E_FORMAT;
  }
  if (walk->extendedRecords == kMaxExtendedRecords) return DISK_E_FORMAT;
  walk->visited[walk->extendedRecords++] = sector;
  return DISK_OK;
}

DiskResult ReadSector(Walk* walk, std::uint64_t sector, std::uint8_t* buffer) {
  return ImageRead(walk->image, sector * mbr::kSector, mbr::kSector, buffer);
}

// A partition placed at base + relative; a place that does not fit 32 bits
// lies beyond every disk the map can describe.
DiskResult AddPartition(Walk* walk, std::uint64_t first, std::uint32_t count, std::uint8_t type,
                        const std::uint8_t* entry) {
  if (first > UINT32_MAX) return DISK_E_FS_UNKNOWN;
  if (type == mbr::kTypeLvm) {
    return ReadLvm2PhysicalVolume(walk->image, static_cast<std::uint32_t>(first), walk->list);
  }
  VolumeRecord record;
  std::memcpy(record.bytes, entry, sizeof record.bytes);
  WriteLE32(record.bytes + mbr::kEntryFirstSector, static_cast<std::uint32_t>(first));
  WriteLE32(record.bytes + mbr::kEntrySectorCount, count);
  AppendVolume(walk->list, record);
  return DISK_OK;
}

DiskResult WalkExtended(Walk* walk, std::uint64_t sector, std::uint32_t base) {
  if (sector >= walk->diskSectors) return DISK_E_FORMAT;
  DiskResult r = VisitExtended(walk, sector);
  if (r != DISK_OK) return r;
  // On the heap: a chain recurses once per link, up to the bound above.
  HeapBlock block(mbr::kSector);
  if (!block) return DISK_E_NOMEM;
  auto* ebr = static_cast<std::uint8_t*>(block.get());
  r = ReadSector(walk, sector, ebr);
  if (r != DISK_OK) return r;
  if (!mbr::HasBootSignature(ebr)) return DISK_E_FORMAT;
  for (std::uint32_t i = 0; i < mbr::kEntryCount && !VolumeListFull(*walk->list); ++i) {
    const std::uint8_t* entry = ebr + mbr::kEntriesOffset + i * mbr::kEntrySize;
    const std::uint8_t type = entry[mbr::kEntryType];
    const std::uint32_t first = ReadLE32(entry + mbr::kEntryFirstSector);
    const std::uint32_t count = ReadLE32(entry + mbr::kEntrySectorCount);
    if (type == mbr::kTypeEmpty) continue;
    if (mbr::IsExtendedType(type)) {
      r = WalkExtended(walk, static_cast<std::uint64_t>(base) + first, base);
    } else {
      r = AddPartition(walk, sector + first, count, type, entry);
    }
    if (r != DISK_OK) return r;
  }
  return DISK_OK;
}

DiskResult AddGptEntry(Walk* walk, const std::uint8_t* entry) {
  static const std::uint8_t kUnused[16] = {};
  const std::uint8_t* type = entry + gpt::kTypeGuidAt;
  if (std::memcmp(type, kUnused, 16) == 0) return DISK_OK;
  const std::uint64_t first = ReadLE64(entry + gpt::kFirstLbaAt);
  const std::uint64_t last = ReadLE64(entry + gpt::kLastLbaAt);
  // An entry that ends before it starts or lies past 2^32 sectors cannot
  // be placed on any disk the map describes.
  if (last < first || last > UINT32_MAX) return DISK_E_FS_UNKNOWN;
  if (std::memcmp(type, gpt::kLinuxLvmType, 16) == 0) {
    return ReadLvm2PhysicalVolume(walk->image, static_cast<std::uint32_t>(first), walk->list);
  }
  AppendVolume(walk->list, MakeVolumeRecord(static_cast<std::uint32_t>(first),
                                            static_cast<std::uint32_t>(last - first + 1)));
  return DISK_OK;
}

bool GptHeaderValid(const std::uint8_t* h) {
  return std::memcmp(h, gpt::kSignature, sizeof gpt::kSignature) == 0 &&
         ReadLE32(h + gpt::kRevisionAt) == gpt::kRevision &&
         ReadLE32(h + gpt::kHeaderSizeAt) == gpt::kHeaderSize &&
         ReadLE64(h + gpt::kMyLbaAt) == 1 &&
         ReadLE32(h + gpt::kEntryCountAt) <= gpt::kMaxEntries &&
         ReadLE32(h + gpt::kEntrySizeAt) == gpt::kEntrySize;
}

DiskResult WalkGpt(Walk* walk) {
  std::uint8_t header[mbr::kSector];
  DiskResult r = ReadSector(walk, gpt::kHeaderOffset / mbr::kSector, header);
  if (r != DISK_OK) return r;
  if (!GptHeaderValid(header)) return DISK_E_FORMAT;
  const std::uint64_t entriesLba = ReadLE64(header + gpt::kEntriesLbaAt);
  const std::uint32_t entries = ReadLE32(header + gpt::kEntryCountAt);
  constexpr std::uint32_t kPerSector = mbr::kSector / gpt::kEntrySize;
  // The whole entry array must lie on the disk before any of it is read.
  const std::uint64_t arraySectors = (static_cast<std::uint64_t>(entries) + kPerSector - 1) / kPerSector;
  if (entriesLba >= walk->diskSectors || arraySectors > walk->diskSectors - entriesLba) {
    return DISK_E_FORMAT;
  }
  std::uint8_t sector[mbr::kSector];
  for (std::uint32_t i = 0; i < entries && !VolumeListFull(*walk->list); ++i) {
    if (i % kPerSector == 0) {
      r = ReadSector(walk, entriesLba + i / kPerSector, sector);
      if (r != DISK_OK) return r;
    }
    r = AddGptEntry(walk, sector + (i % kPerSector) * gpt::kEntrySize);
    if (r != DISK_OK) return r;
  }
  return DISK_OK;
}

DiskResult WalkMbr(Walk* walk, const std::uint8_t* mbrSector) {
  for (std::uint32_t i = 0; i < mbr::kEntryCount && !VolumeListFull(*walk->list); ++i) {
    const std::uint8_t* entry = mbrSector + mbr::kEntriesOffset + i * mbr::kEntrySize;
    const std::uint8_t type = entry[mbr::kEntryType];
    const std::uint32_t first = ReadLE32(entry + mbr::kEntryFirstSector);
    const std::uint32_t count = ReadLE32(entry + mbr::kEntrySectorCount);
    DiskResult r = DISK_OK;
    if (i == 0 && type == mbr::kTypeGptProtective && first == 1) return WalkGpt(walk);
    if (type == mbr::kTypeEmpty) continue;
    if (mbr::IsExtendedType(type)) {
      r = WalkExtended(walk, first, first);
    } else {
      r = AddPartition(walk, first, count, type, entry);
    }
    if (r != DISK_OK) return r;
  }
  return DISK_OK;
}

}  // namespace

DiskResult DiscoverVolumes(ImageHandle* image, std::uint32_t diskSectors, VolumeList* list) {
  if (diskSectors == 0) return DISK_OK;  // nothing to walk, nothing in use
  HeapBlock visited(sizeof(std::uint64_t) * kMaxExtendedRecords);
  if (!visited) return DISK_E_NOMEM;
  Walk walk{image, diskSectors, list, static_cast<std::uint64_t*>(visited.get()), 0};
  std::uint8_t sector0[mbr::kSector];
  const DiskResult r = ReadSector(&walk, 0, sector0);
  if (r != DISK_OK) return r;
  if (!mbr::HasBootSignature(sector0)) {
    AppendVolume(list, MakeVolumeRecord(0, diskSectors));
    return DISK_OK;
  }
  return WalkMbr(&walk, sector0);
}

}  // namespace qvt
