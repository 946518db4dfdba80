// Group descriptor checksums of ext4 (gdt_csum's CRC-16, metadata_csum's
// CRC-32C). Only a descriptor whose checksum holds may be taken at its word
// that its group's bitmap was never written: the flag alone, in a damaged
// table, would let a reader call the group's used blocks free.
#ifndef QVT_FSMAP_EXTCHECKSUM_H
#define QVT_FSMAP_EXTCHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace qvt {

struct ExtChecksumKind {
  bool crc32c;           // metadata_csum; otherwise gdt_csum
  std::uint32_t seed;    // metadata_csum: the volume's checksum seed
  std::uint8_t uuid[16]; // gdt_csum
};

// From the superblock; false when the volume keeps no descriptor checksums.
bool ExtChecksumKindOf(const std::uint8_t* sb, ExtChecksumKind* kind);

// Whether descriptor `desc` (of `size` bytes) of group `group` carries the
// right checksum (LE16 at byte 30).
bool ExtDescriptorChecksumHolds(const ExtChecksumKind& kind, std::uint32_t group, const std::uint8_t* desc,
                                std::uint32_t size);

// With metadata_csum, whether the superblock's own checksum (LE32 at byte
// 1020) holds; true for volumes without it.
bool ExtSuperblockChecksumHolds(const std::uint8_t* sb);

}  // namespace qvt

#endif
