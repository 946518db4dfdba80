#include "Lvm2Label.h"

#include <cstring>

#include "ByteOrder.h"
#include "Lvm2Crc.h"

namespace qvt {

namespace {

// Label sector: identifier at 0, sector number at 8, CRC of bytes 20-511
// at 16, PV header offset at 20, type at 24.
constexpr std::uint32_t kLabelCrcFrom = 20;
constexpr std::uint32_t kLabelFieldsEnd = 32;
// PV header: identifier (32), device size (8), then {offset, size} pairs
// of 8 bytes each: one data area and its terminator, one metadata area and
// its terminator. Further areas would follow a non-zero pair.
constexpr std::uint32_t kPvHeaderDeviceSize = 32;
constexpr std::uint32_t kPvHeaderDataAreas = 40;
constexpr std::uint32_t kAreaPairBytes = 16;
constexpr std::uint32_t kPvHeaderMetadataAreas = kPvHeaderDataAreas + 2 * kAreaPairBytes;
constexpr std::uint32_t kPvHeaderBytes = kPvHeaderMetadataAreas + 2 * kAreaPairBytes;

// Metadata area header: CRC of bytes 4-511 at 0, magic at 4, version at 20,
// start at 24, size at 32, first raw location {offset, size, checksum,
// flags} at 40.
constexpr char kMetadataMagic[] = " LVM2 x[5A%r0N*>";
constexpr std::uint32_t kMetadataMagicLength = 16;

bool FitsWithin(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

bool IsLabelAt(const std::uint8_t* sector, std::uint32_t index) {
  return std::memcmp(sector, "LABELONE", 8) == 0 && ReadLE64(sector + 8) == index &&
         ReadLE32(sector + 16) == Lvm2Crc(sector + kLabelCrcFrom, 512 - kLabelCrcFrom) &&
         std::memcmp(sector + 24, "LVM2 001", 8) == 0;
}

// The PV header lies behind the label's own fields and inside its sector,
// which is all the label's CRC vouches for.
bool ParsePvHeader(const std::uint8_t* sector, Lvm2Label* label) {
  const std::uint32_t at = ReadLE32(sector + 20);
  if (at < kLabelFieldsEnd || at > 512 - kPvHeaderBytes) return false;
  const std::uint8_t* pv = sector + at;
  const std::uint8_t* data = pv + kPvHeaderDataAreas;
  const std::uint8_t* meta = pv + kPvHeaderMetadataAreas;
  if (ReadLE64(data) == 0 || ReadLE64(data + kAreaPairBytes) != 0) return false;
  if (ReadLE64(meta) == 0 || ReadLE64(meta + 8) == 0 || ReadLE64(meta + kAreaPairBytes) != 0) {
    return false;
  }
  std::memcpy(label->pvId, pv, kLvm2PvIdLength);
  label->deviceSize = ReadLE64(pv + kPvHeaderDeviceSize);
  label->metadataOffset = ReadLE64(meta);
  label->metadataSize = ReadLE64(meta + 8);
  // The area has to hold its own header and lie on the device it describes.
  return label->metadataSize >= kLvm2MetadataHeaderBytes &&
         FitsWithin(label->metadataOffset, label->metadataSize, label->deviceSize);
}

}  // namespace

bool ParseLvm2Label(const std::uint8_t* sectors, Lvm2Label* label) {
  for (std::uint32_t i = 0; i < kLvm2LabelSectors; ++i) {
    const std::uint8_t* sector = sectors + 512 * i;
    if (IsLabelAt(sector, i)) return ParsePvHeader(sector, label);
  }
  return false;
}

bool ParseLvm2MetadataHeader(const std::uint8_t* header, const Lvm2Label& label,
                             Lvm2RawLocation* location) {
  if (ReadLE32(header) != Lvm2Crc(header + 4, kLvm2MetadataHeaderBytes - 4)) return false;
  if (std::memcmp(header + 4, kMetadataMagic, kMetadataMagicLength) != 0) return false;
  if (ReadLE32(header + 20) != 1) return false;
  if (ReadLE64(header + 24) != label.metadataOffset ||
      ReadLE64(header + 32) != label.metadataSize) {
    return false;
  }
  location->offset = ReadLE64(header + 40);
  location->size = ReadLE64(header + 48);
  if (location->offset == 0 || location->size == 0 || location->size > kLvm2MaxMetadataBytes) {
    return false;
  }
  // A location that wraps past the area's end would continue at its start;
  // read as one piece it would run outside the area, so it is refused here.
  return FitsWithin(location->offset, location->size, label.metadataSize);
}

}  // namespace qvt
