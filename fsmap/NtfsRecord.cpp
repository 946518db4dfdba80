#include "NtfsRecord.h"

#include <cstring>

#include "ByteOrder.h"
#include "NtfsLayout.h"

namespace qvt {
namespace {

using namespace ntfs;

constexpr std::uint32_t kUsaLimit = 510;  // the array lives in the first sector

// An attribute of the record: its start and length, both checked to lie
// inside the record.
struct Attribute {
  const std::uint8_t* p;
  std::uint32_t length;
};

bool AttributeAt(const std::uint8_t* record, std::uint32_t size, std::uint32_t at, Attribute* out) {
  if (at > size || size - at < kAttrHeaderSize) return false;
  const std::uint8_t* p = record + at;
  const std::uint32_t length = ReadLE32(p + kAttrLength);
  if (length < kResidentHeaderSize || length > size - at) return false;
  *out = Attribute{p, length};
  return true;
}

// The value of a resident attribute, inside the attribute.
bool ResidentValue(const Attribute& a, const std::uint8_t** value, std::uint32_t* length) {
  if (a.p[kAttrNonResident] != 0) return false;
  const std::uint32_t offset = ReadLE16(a.p + kAttrValueOffset);
  const std::uint32_t size = ReadLE32(a.p + kAttrValueLength);
  if (offset > a.length || size > a.length - offset) return false;
  *value = a.p + offset;
  *length = size;
  return true;
}

bool NameIs(const std::uint8_t* value, std::uint32_t length, const char* name) {
  const std::size_t chars = std::strlen(name);
  if (length < kFileNameChars || value[kFileNameLength] != chars) return false;
  if ((length - kFileNameChars) / 2 < chars) return false;
  for (std::size_t i = 0; i < chars; ++i) {
    if (ReadLE16(value + kFileNameChars + 2 * i) != static_cast<std::uint8_t>(name[i])) return false;
  }
  return true;
}

bool IsFileNamed(const Attribute& a, const char* name) {
  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  return ReadLE32(a.p + kAttrType) == kTypeFileName && ResidentValue(a, &value, &length) &&
         NameIs(value, length, name);
}

bool IsUnnamedNonResidentData(const Attribute& a, NtfsDataAttribute* data) {
  if (ReadLE32(a.p + kAttrType) != kTypeData || a.p[kAttrNonResident] == 0) return false;
  if (a.p[kAttrNameLength] != 0 || a.length < kNonResidentHeaderSize) return false;
  if (ReadLE64(a.p + kAttrFirstVcn) != 0) return false;
  const std::uint32_t pairs = ReadLE16(a.p + kAttrPairsOffset);
  if (pairs < kNonResidentHeaderSize || pairs >= a.length) return false;
  *data = NtfsDataAttribute{a.p + pairs, a.length - pairs, ReadLE64(a.p + kAttrDataSize)};
  return true;
}

}  // namespace

DiskResult RepairNtfsRecord(std::uint8_t* record, std::uint32_t size) {
  if (size < kUsaStride || size % kUsaStride != 0 || std::memcmp(record + kRecordMagic, "FILE", 4) != 0) {
    return DISK_E_FS_BITMAP;
  }
  const std::uint32_t usa = ReadLE16(record + kRecordUsaOffset);
  const std::uint32_t entries = ReadLE16(record + kRecordUsaCount);
  if (usa + entries * 2 > kUsaLimit || entries != size / kUsaStride + 1) return DISK_E_FS_BITMAP;
  const std::uint16_t sequence = ReadLE16(record + usa);
  for (std::uint32_t i = 0; i + 1 < entries; ++i) {
    if (ReadLE16(record + kUsaStride * i + kUsaStride - 2) != sequence) return DISK_E_FS_BITMAP;
  }
  for (std::uint32_t i = 0; i + 1 < entries; ++i) {
    std::memcpy(record + kUsaStride * i + kUsaStride - 2, record + usa + 2 * (i + 1), 2);
  }
  return DISK_OK;
}

DiskResult FindNtfsDataAttribute(const std::uint8_t* record, std::uint32_t size, const char* name,
                                 NtfsDataAttribute* data) {
  Attribute info{}, fileName{}, content{};
  const std::uint32_t first = ReadLE16(record + kRecordFirstAttribute);
  const std::uint8_t* unused = nullptr;
  std::uint32_t unusedLength = 0;
  if (!AttributeAt(record, size, first, &info) || ReadLE32(info.p + kAttrType) != kTypeStandardInformation ||
      !ResidentValue(info, &unused, &unusedLength)) {
    return DISK_E_FS_BITMAP;
  }
  const std::uint32_t second = first + info.length;
  if (!AttributeAt(record, size, second, &fileName) || !IsFileNamed(fileName, name)) return DISK_E_FS_BITMAP;
  const std::uint32_t third = second + fileName.length;
  if (!AttributeAt(record, size, third, &content) || !IsUnnamedNonResidentData(content, data)) {
    return DISK_E_FS_BITMAP;
  }
  return DISK_OK;
}

}  // namespace qvt
