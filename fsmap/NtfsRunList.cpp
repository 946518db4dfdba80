#include "NtfsRunList.h"

namespace qvt {
namespace {

constexpr std::uint32_t kMaxFieldBytes = 4;  // the run fields are 32-bit
constexpr std::int64_t kClusterLimit = std::int64_t{1} << 31;

std::uint32_t UnsignedField(const std::uint8_t* p, std::uint32_t bytes) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < bytes; ++i) value |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return value;
}

// Sign-extended from the top bit of the field's last byte.
std::int64_t SignedField(const std::uint8_t* p, std::uint32_t bytes) {
  std::int64_t value = UnsignedField(p, bytes);
  const std::int64_t top = std::int64_t{1} << (8 * bytes - 1);
  if ((value & top) != 0) value -= top * 2;
  return value;
}

}  // namespace

DiskResult DecodeNtfsRunList(const std::uint8_t* pairs, std::size_t size, NtfsRun* runs,
                             std::uint32_t capacity, std::uint32_t* count) {
  *count = 0;
  std::int64_t lcn = 0;
  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t header = pairs[at];
    if (header == 0) return DISK_OK;
    const std::uint32_t lengthBytes = header & 0x0Fu;
    const std::uint32_t offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > kMaxFieldBytes || offsetBytes == 0 ||
        offsetBytes > kMaxFieldBytes || size - at - 1 < lengthBytes + offsetBytes) {
      return DISK_E_FS_BITMAP;
    }
    const std::uint32_t length = UnsignedField(pairs + at + 1, lengthBytes);
    lcn += SignedField(pairs + at + 1 + lengthBytes, offsetBytes);
    if (length == 0 || lcn < 0 || lcn >= kClusterLimit) return DISK_E_FS_BITMAP;
    if (runs != nullptr) {
      if (*count >= capacity) return DISK_E_FS_BITMAP;
      runs[*count] = NtfsRun{lcn, length};
    }
    ++*count;
    at += 1 + lengthBytes + offsetBytes;
  }
  return DISK_E_FS_BITMAP;  // no closing 0 before the end of the attribute
}

}  // namespace qvt
