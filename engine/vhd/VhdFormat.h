// The on-disk structures of a VHD image: the hard disk footer, the dynamic
// disk header with its parent locator entries, and the block allocation
// table. Every integer is big-endian on disk; structures stay in their
// on-disk bytes and every field is read and written through the accessors
// here, so byte order is settled once, at the field.
#ifndef QVT_ENGINE_VHD_VHDFORMAT_H
#define QVT_ENGINE_VHD_VHDFORMAT_H

#include <cstdint>

#include "ByteOrder.h"

namespace qvt {

constexpr std::uint32_t kVhdFooterBytes = 512;
constexpr std::uint32_t kVhdShortFooterBytes = 511;  // older images end one byte short
constexpr std::uint32_t kVhdHeaderBytes = 1024;
constexpr std::uint32_t kVhdLocatorCount = 8;
constexpr std::uint32_t kVhdLocatorBytes = 24;
constexpr std::uint32_t kVhdUnusedBlock = 0xFFFFFFFFu;
constexpr std::uint64_t kVhdNoOffset = 0xFFFFFFFFFFFFFFFFull;
constexpr std::uint32_t kVhdVersion = 0x00010000u;
// Locator data larger than this is never read or rewritten: no tool writes
// paths anywhere near it, and it bounds what a hostile entry can make us take.
constexpr std::uint32_t kVhdMaxLocatorData = 65536;

enum VhdDiskType : std::uint32_t {
  VHD_FIXED = 2,
  VHD_DYNAMIC = 3,
  VHD_DIFFERENCING = 4,
};

enum VhdPlatformCode : std::uint32_t {
  VHD_PLATFORM_NONE = 0,
  VHD_PLATFORM_WI2R = 0x57693272u,  // relative, multibyte code page
  VHD_PLATFORM_WI2K = 0x5769326Bu,  // absolute, multibyte code page
  VHD_PLATFORM_W2RU = 0x57327275u,  // relative, UTF-16LE
  VHD_PLATFORM_W2KU = 0x57326B75u,  // absolute, UTF-16LE
  VHD_PLATFORM_MAC = 0x4D616320u,
  VHD_PLATFORM_MACX = 0x4D616358u,
};

// Footer field offsets.
namespace vhd_footer {
constexpr std::uint32_t kCookie = 0;
constexpr std::uint32_t kFeatures = 8;
constexpr std::uint32_t kFormatVersion = 12;
constexpr std::uint32_t kDataOffset = 16;
constexpr std::uint32_t kTimeStamp = 24;
constexpr std::uint32_t kCreatorApp = 28;
constexpr std::uint32_t kCreatorVersion = 32;
constexpr std::uint32_t kCreatorHostOs = 36;
constexpr std::uint32_t kOriginalSize = 40;
constexpr std::uint32_t kCurrentSize = 48;
constexpr std::uint32_t kCylinders = 56;
constexpr std::uint32_t kHeads = 58;
constexpr std::uint32_t kSectorsPerTrack = 59;
constexpr std::uint32_t kDiskType = 60;
constexpr std::uint32_t kChecksum = 64;
constexpr std::uint32_t kUniqueId = 68;
constexpr std::uint32_t kSavedState = 84;
constexpr std::uint32_t kReserved = 85;
constexpr std::uint32_t kReservedBytes = 427;
constexpr std::uint32_t kComparedBytes = 64;  // the two copies must agree this far
}  // namespace vhd_footer

// Dynamic disk header field offsets.
namespace vhd_header {
constexpr std::uint32_t kCookie = 0;
constexpr std::uint32_t kDataOffset = 8;
constexpr std::uint32_t kTableOffset = 16;
constexpr std::uint32_t kHeaderVersion = 24;
constexpr std::uint32_t kMaxTableEntries = 28;
constexpr std::uint32_t kBlockSize = 32;
constexpr std::uint32_t kChecksum = 36;
constexpr std::uint32_t kParentUniqueId = 40;
constexpr std::uint32_t kParentTimeStamp = 56;
constexpr std::uint32_t kReserved1 = 60;
constexpr std::uint32_t kParentName = 64;
constexpr std::uint32_t kParentNameBytes = 512;
constexpr std::uint32_t kLocators = 576;
constexpr std::uint32_t kReserved2 = 768;
constexpr std::uint32_t kReserved2Bytes = 256;
}  // namespace vhd_header

// Parent locator entry field offsets (within its 24 bytes).
namespace vhd_locator {
constexpr std::uint32_t kCode = 0;
constexpr std::uint32_t kDataSpace = 4;
constexpr std::uint32_t kDataLength = 8;
constexpr std::uint32_t kReserved = 12;
constexpr std::uint32_t kDataOffset = 16;
}  // namespace vhd_locator

static_assert(vhd_footer::kReserved + vhd_footer::kReservedBytes == kVhdFooterBytes,
              "the footer's fields cover its 512 bytes");
static_assert(vhd_header::kLocators + kVhdLocatorCount * kVhdLocatorBytes == vhd_header::kReserved2,
              "the locator entries end where the second reserved area starts");
static_assert(vhd_header::kReserved2 + vhd_header::kReserved2Bytes == kVhdHeaderBytes,
              "the header's fields cover its 1024 bytes");

struct VhdFooter {
  std::uint8_t bytes[kVhdFooterBytes];
};

struct VhdHeader {
  std::uint8_t bytes[kVhdHeaderBytes];
};

// One locator entry, in host order.
struct VhdLocator {
  std::uint32_t code;
  std::uint32_t dataSpace;
  std::uint32_t dataLength;
  std::uint32_t reserved;
  std::uint64_t dataOffset;
};

// The ones' complement of the byte sum of `length` bytes, with the four
// bytes at `checksumAt` counted as zero.
std::uint32_t VhdChecksum(const std::uint8_t* bytes, std::uint32_t length,
                          std::uint32_t checksumAt);
// Recomputes and stores the checksum over the footer's on-disk length.
void VhdFooterSeal(VhdFooter* footer, std::uint32_t length);
void VhdHeaderSeal(VhdHeader* header);

VhdLocator VhdHeaderLocator(const VhdHeader& header, std::uint32_t index);
void VhdHeaderSetLocator(VhdHeader* header, std::uint32_t index, const VhdLocator& locator);
bool VhdIsKnownPlatform(std::uint32_t code);

inline std::uint32_t VhdGet32(const std::uint8_t* structure, std::uint32_t at) {
  return ReadBE32(structure + at);
}
inline std::uint64_t VhdGet64(const std::uint8_t* structure, std::uint32_t at) {
  return ReadBE64(structure + at);
}
inline void VhdPut32(std::uint8_t* structure, std::uint32_t at, std::uint32_t v) {
  WriteBE32(structure + at, v);
}
inline void VhdPut64(std::uint8_t* structure, std::uint32_t at, std::uint64_t v) {
  WriteBE64(structure + at, v);
}

}  // namespace qvt

#endif
