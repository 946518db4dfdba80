// The partition-table structures the volume walk reads: the MBR and the
// extended boot records (four 16-byte entries at byte 446 and the 0x55 0xAA
// signature), and the GPT header and entries. All little-endian.
#ifndef QVT_FSMAP_MBRLAYOUT_H
#define QVT_FSMAP_MBRLAYOUT_H

#include <cstdint>

namespace qvt::mbr {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kEntriesOffset = 446;
constexpr std::uint32_t kEntrySize = 16;
constexpr std::uint32_t kEntryCount = 4;
constexpr std::uint32_t kEntryType = 4;
constexpr std::uint32_t kEntryFirstSector = 8;
constexpr std::uint32_t kEntrySectorCount = 12;

constexpr std::uint8_t kTypeEmpty = 0x00;
constexpr std::uint8_t kTypeGptProtective = 0xEE;
constexpr std::uint8_t kTypeLvm = 0x8E;

inline bool HasBootSignature(const std::uint8_t* sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}
inline bool IsExtendedType(std::uint8_t type) {
  return type == 0x05 || type == 0x0F || type == 0x85;
}

}  // namespace qvt::mbr

namespace qvt::gpt {

constexpr std::uint64_t kHeaderOffset = 512;
constexpr char kSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr std::uint32_t kRevision = 0x00010000;
constexpr std::uint32_t kHeaderSize = 92;
constexpr std::uint32_t kMaxEntries = 1024;
constexpr std::uint32_t kEntrySize = 128;
// Header fields.
constexpr std::uint32_t kRevisionAt = 8;
constexpr std::uint32_t kHeaderSizeAt = 12;
constexpr std::uint32_t kMyLbaAt = 24;
constexpr std::uint32_t kEntriesLbaAt = 72;
constexpr std::uint32_t kEntryCountAt = 80;
constexpr std::uint32_t kEntrySizeAt = 84;
// Entry fields.
constexpr std::uint32_t kTypeGuidAt = 0;
constexpr std::uint32_t kFirstLbaAt = 32;
constexpr std::uint32_t kLastLbaAt = 40;

// E6D6D379-F507-44C2-A23C-238F2A3DF928 as it is stored (the first three
// groups little-endian).
constexpr std::uint8_t kLinuxLvmType[16] = {0x79, 0xD3, 0xD6, 0xE6, 0x07, 0xF5, 0xC2, 0x44,
                                            0xA2, 0x3C, 0x23, 0x8F, 0x2A, 0x3D, 0xF9, 0x28};

}  // namespace qvt::gpt

#endif
