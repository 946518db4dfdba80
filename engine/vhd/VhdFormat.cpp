#include "VhdFormat.h"

namespace qvt {

std::uint32_t VhdChecksum(const std::uint8_t* bytes, std::uint32_t length,
                          std::uint32_t checksumAt) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (i >= checksumAt && i < checksumAt + 4) continue;
    sum += bytes[i];
  }
  return ~sum;
}

void VhdFooterSeal(VhdFooter* footer, std::uint32_t length) {
  VhdPut32(footer->bytes, vhd_footer::kChecksum,
           VhdChecksum(footer->bytes, length, vhd_footer::kChecksum));
}

void VhdHeaderSeal(VhdHeader* header) {
  VhdPut32(header->bytes, vhd_header::kChecksum,
           VhdChecksum(header->bytes, kVhdHeaderBytes, vhd_header::kChecksum));
}

VhdLocator VhdHeaderLocator(const VhdHeader& header, std::uint32_t index) {
  const std::uint8_t* p = header.bytes + vhd_header::kLocators + index * kVhdLocatorBytes;
  VhdLocator l{};
  l.code = VhdGet32(p, vhd_locator::kCode);
  l.dataSpace = VhdGet32(p, vhd_locator::kDataSpace);
  l.dataLength = VhdGet32(p, vhd_locator::kDataLength);
  l.reserved = VhdGet32(p, vhd_locator::kReserved);
  l.dataOffset = VhdGet64(p, vhd_locator::kDataOffset);
  return l;
}

void VhdHeaderSetLocator(VhdHeader* header, std::uint32_t index, const VhdLocator& l) {
  std::uint8_t* p = header->bytes + vhd_header::kLocators + index * kVhdLocatorBytes;
  VhdPut32(p, vhd_locator::kCode, l.code);
  VhdPut32(p, vhd_locator::kDataSpace, l.dataSpace);
  VhdPut32(p, vhd_locator::kDataLength, l.dataLength);
  VhdPut32(p, vhd_locator::kReserved, l.reserved);
  VhdPut64(p, vhd_locator::kDataOffset, l.dataOffset);
}

bool VhdIsKnownPlatform(std::uint32_t code) {
  switch (code) {
    case VHD_PLATFORM_NONE:
    case VHD_PLATFORM_WI2R:
    case VHD_PLATFORM_WI2K:
    case VHD_PLATFORM_W2RU:
    case VHD_PLATFORM_W2KU:
    case VHD_PLATFORM_MAC:
    case VHD_PLATFORM_MACX:
      return true;
    default:
      return false;
  }
}

}  // namespace qvt
