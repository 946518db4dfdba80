#include "Lvm2Crc.h"

namespace qvt {

namespace {

constexpr std::uint32_t kLvm2CrcInitial = 0xF597A6CF;

// The reflected polynomial 0xEDB88320 applied to each 4-bit value; a nibble
// at a time keeps the table small enough to write out.
constexpr std::uint32_t kNibbleTable[16] = {
    0x00000000, 0x1DB71064, 0x3B6E20C8, 0x26D930AC, 0x76DC4190, 0x6B6B51F4, 0x4DB26158, 0x5005713C,
    0xEDB88320, 0xF00F9344, 0xD6D6A3E8, 0xCB61B38C, 0x9B64C2B0, 0x86D3D2D4, 0xA00AE278, 0xBDBDF21C,
};

}  // namespace

std::uint32_t Lvm2Crc(const std::uint8_t* data, std::uint32_t length) {
  std::uint32_t crc = kLvm2CrcInitial;
  for (std::uint32_t i = 0; i < length; ++i) {
    crc ^= data[i];
    crc = (crc >> 4) ^ kNibbleTable[crc & 0xF];
    crc = (crc >> 4) ^ kNibbleTable[crc & 0xF];
  }
  return crc;
}

}  // namespace qvt
