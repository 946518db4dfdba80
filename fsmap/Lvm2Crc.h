// The checksum LVM2 keeps in its label and metadata area headers.
#ifndef QVT_FSMAP_LVM2CRC_H
#define QVT_FSMAP_LVM2CRC_H

#include <cstdint>

namespace qvt {

// CRC-32 over the reflected polynomial 0xEDB88320, started at 0xF597A6CF
// and not inverted at the end: LVM2's own variant, so a plain CRC-32 routine
// would not match what pvcreate writes.
std::uint32_t Lvm2Crc(const std::uint8_t* data, std::uint32_t length);

}  // namespace qvt

#endif
