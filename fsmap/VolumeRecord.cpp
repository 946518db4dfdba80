#include "VolumeRecord.h"

#include <cstring>

#include "ByteOrder.h"

namespace qvt {

std::uint8_t VolumeType(const VolumeRecord& record) { return record.bytes[4]; }
std::uint32_t VolumeFirstSector(const VolumeRecord& record) { return ReadLE32(record.bytes + 8); }
std::uint32_t VolumeSectorCount(const VolumeRecord& record) { return ReadLE32(record.bytes + 12); }

VolumeRecord MakeVolumeRecord(std::uint32_t first, std::uint32_t count) {
  VolumeRecord record;
  std::memset(record.bytes, 0, sizeof record.bytes);
  WriteLE32(record.bytes + 8, first);
  WriteLE32(record.bytes + 12, count);
  return record;
}

bool AppendVolume(VolumeList* list, const VolumeRecord& record) {
  if (VolumeListFull(*list)) return false;
  if (list->records != nullptr) list->records[list->count] = record;
  ++list->count;
  return true;
}

}  // namespace qvt
