// One NTFS metadata record of the kind the reader relies on: its update
// sequence checked and undone, and its unnamed non-resident data attribute
// found where a simple $MFT or $Bitmap record keeps it.
#ifndef QVT_FSMAP_NTFSRECORD_H
#define QVT_FSMAP_NTFSRECORD_H

#include <cstddef>
#include <cstdint>

#include "DiskResult.h"

namespace qvt {

// Checks the "FILE" magic and that every 512-byte stride of the record ends
// with the sequence number, then puts the saved end bytes back. A torn or
// damaged record is DISK_E_FS_BITMAP and is left as it was.
DiskResult RepairNtfsRecord(std::uint8_t* record, std::uint32_t size);

struct NtfsDataAttribute {
  const std::uint8_t* pairs;  // mapping pairs, inside the record
  std::size_t pairsSize;      // up to the end of the attribute
  std::uint64_t dataSize;     // bytes of the attribute's value
};

// The record must hold, in this order, a resident standard information
// attribute, a resident file name attribute named `name` (ASCII), and an
// unnamed non-resident data attribute starting at VCN 0; anything else
// (an attribute list, a name that differs, a field outside the record) is
// DISK_E_FS_BITMAP.
DiskResult FindNtfsDataAttribute(const std::uint8_t* record, std::uint32_t size, const char* name,
                                 NtfsDataAttribute* data);

}  // namespace qvt

#endif
