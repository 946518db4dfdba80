#include "ExtChecksum.h"

#include <cstring>

#include "ByteOrder.h"
#include "ExtLayout.h"

namespace qvt {
namespace {

constexpr std::uint32_t kSbUuid = 104;          // 16 bytes
constexpr std::uint32_t kSbChecksumSeed = 624;  // LE32, with csum_seed
constexpr std::uint32_t kIncompatCsumSeed = 0x2000;
constexpr std::uint32_t kGdChecksum = 30;       // LE16

// CRC-16/ARC (reflected 0x8005), continued from `crc`, no final inversion.
std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ p[i]);
    for (int k = 0; k < 8; ++k) crc = static_cast<std::uint16_t>((crc >> 1) ^ ((crc & 1) != 0 ? 0xA001 : 0));
  }
  return crc;
}

// CRC-32C (reflected 0x1EDC6F41), continued from `crc`, no final inversion.
std::uint32_t Crc32c(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0x82F63B78u : 0u);
  }
  return crc;
}

}  // namespace

bool ExtChecksumKindOf(const std::uint8_t* sb, ExtChecksumKind* kind) {
  const std::uint32_t roCompat = ReadLE32(sb + ext::kSbFeatureRoCompat);
  std::memcpy(kind->uuid, sb + kSbUuid, sizeof kind->uuid);
  kind->crc32c = (roCompat & ext::kRoCompatMetadataCsum) != 0;
  if (kind->crc32c) {
    const bool ownSeed = (ReadLE32(sb + ext::kSbFeatureIncompat) & kIncompatCsumSeed) != 0;
    kind->seed = ownSeed ? ReadLE32(sb + kSbChecksumSeed) : Crc32c(~0u, kind->uuid, sizeof kind->uuid);
    return true;
  }
  kind->seed = 0;
  return (roCompat & ext::kRoCompatGdtCsum) != 0;
}

bool ExtSuperblockChecksumHolds(const std::uint8_t* sb) {
  if ((ReadLE32(sb + ext::kSbFeatureRoCompat) & ext::kRoCompatMetadataCsum) == 0) return true;
  return Crc32c(~0u, sb, 1020) == ReadLE32(sb + 1020);
}

bool ExtDescriptorChecksumHolds(const ExtChecksumKind& kind, std::uint32_t group, const std::uint8_t* desc,
                                std::uint32_t size) {
  std::uint8_t le[4];
  WriteLE32(le, group);
  const std::uint8_t zero[2] = {0, 0};
  const std::uint32_t after = kGdChecksum + 2;
  std::uint16_t sum = 0;
  if (kind.crc32c) {
    std::uint32_t c = Crc32c(kind.seed, le, 4);
    c = Crc32c(c, desc, kGdChecksum);
    c = Crc32c(c, zero, 2);
    if (size > after) c = Crc32c(c, desc + after, size - after);
    sum = static_cast<std::uint16_t>(c & 0xFFFF);
  } else {
    std::uint16_t c = Crc16(0xFFFF, kind.uuid, sizeof kind.uuid);
    c = Crc16(c, le, 4);
    c = Crc16(c, desc, kGdChecksum);
    if (size > after) c = Crc16(c, desc + after, size - after);
    sum = c;
  }
  return sum == ReadLE16(desc + kGdChecksum);
}

}  // namespace qvt
