#include "FsHandlers.h"

#include "FsHandlerTable.h"

namespace qvt {

const FsHandler& FsHandlerOf(std::int32_t kind) {
  static const FsHandler* const kTable[kFsHandlerCount] = {
      &kNtfsHandler,  &kExtHandler,  &kFatHandler,     &kXfsHandler,
      &kExfatHandler, &kVmfsHandler, &kHfsPlusHandler, &kBtrfsHandler};
  return *kTable[kind];
}

std::int32_t SuggestedFsKind(std::uint8_t partitionType) {
  switch (partitionType) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E:
      return kFsFat;
    case 0x07:
      return kFsNtfs;
    case 0x83:
      return kFsExt;
    case 0xFB:
      return kFsVmfs;
    default:
      return -1;
  }
}

void SetBitRange(std::uint8_t* bits, std::uint32_t firstBit, std::uint32_t count, bool value) {
  std::uint64_t bit = firstBit;
  const std::uint64_t end = bit + count;
  for (; bit < end && bit % 8 != 0; ++bit) {
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    bits[bit / 8] = value ? (bits[bit / 8] | mask) : (bits[bit / 8] & ~mask);
  }
  for (; bit + 8 <= end; bit += 8) bits[bit / 8] = value ? 0xFF : 0x00;
  for (; bit < end; ++bit) {
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    bits[bit / 8] = value ? (bits[bit / 8] | mask) : (bits[bit / 8] & ~mask);
  }
}

}  // namespace qvt
