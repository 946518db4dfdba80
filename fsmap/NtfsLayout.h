// Where the NTFS reader finds what it reads: the boot sector, an MFT record
// with its update sequence, and the headers of its attributes. Every field
// is little-endian and is read through ByteOrder.h at the offsets below.
#ifndef QVT_FSMAP_NTFSLAYOUT_H
#define QVT_FSMAP_NTFSLAYOUT_H

#include <cstdint>

namespace qvt::ntfs {

// Boot sector.
constexpr std::uint32_t kBootOem = 3;  // 8 bytes, "NTFS    "
constexpr std::uint32_t kBootBytesPerSector = 11;  // 2 bytes, 512 here
constexpr std::uint32_t kBootSectorsPerCluster = 13;  // 1 byte
constexpr std::uint32_t kBootTotalSectors = 40;  // 8 bytes
constexpr std::uint32_t kBootMftCluster = 48;  // 8 bytes
constexpr std::uint32_t kBootRecordSizeCode = 64;  // 1 byte, signed
constexpr std::uint32_t kBootSignature = 510;  // 2 bytes, 0xAA55

// MFT record header.
constexpr std::uint32_t kRecordMagic = 0;  // "FILE"
constexpr std::uint32_t kRecordUsaOffset = 4;  // 2 bytes
constexpr std::uint32_t kRecordUsaCount = 6;  // 2 bytes: sequence number + one per sector
constexpr std::uint32_t kRecordFirstAttribute = 20;  // 2 bytes
constexpr std::uint32_t kUsaStride = 512;  // one update-sequence entry per 512 bytes

// Attribute header (common part).
constexpr std::uint32_t kAttrType = 0;  // 4 bytes
constexpr std::uint32_t kAttrLength = 4;  // 4 bytes
constexpr std::uint32_t kAttrNonResident = 8;  // 1 byte
constexpr std::uint32_t kAttrNameLength = 9;  // 1 byte, UTF-16 units
constexpr std::uint32_t kAttrHeaderSize = 16;
// Resident part.
constexpr std::uint32_t kAttrValueLength = 16;  // 4 bytes
constexpr std::uint32_t kAttrValueOffset = 20;  // 2 bytes
constexpr std::uint32_t kResidentHeaderSize = 24;
// Non-resident part.
constexpr std::uint32_t kAttrFirstVcn = 16;  // 8 bytes
constexpr std::uint32_t kAttrPairsOffset = 32;  // 2 bytes
constexpr std::uint32_t kAttrDataSize = 48;  // 8 bytes
constexpr std::uint32_t kNonResidentHeaderSize = 64;

constexpr std::uint32_t kTypeStandardInformation = 0x10;
constexpr std::uint32_t kTypeFileName = 0x30;
constexpr std::uint32_t kTypeData = 0x80;

// File name attribute value.
constexpr std::uint32_t kFileNameLength = 64;  // 1 byte, UTF-16 units
constexpr std::uint32_t kFileNameChars = 66;  // UTF-16LE

constexpr std::uint32_t kMftRecordOfMft = 0;
constexpr std::uint32_t kMftRecordOfBitmap = 6;

}  // namespace qvt::ntfs

#endif
