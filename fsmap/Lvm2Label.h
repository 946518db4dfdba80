// The binary part of an LVM2 physical volume: the label in one of its first
// four sectors, the PV header behind it, and the metadata area header that
// says where the volume group's text lies. Parsers over byte spans only; the
// reads are the caller's.
#ifndef QVT_FSMAP_LVM2LABEL_H
#define QVT_FSMAP_LVM2LABEL_H

#include <cstdint>

namespace qvt {

// pvcreate writes the label into sector 1, but LVM2 looks in sectors 0 to 3.
constexpr std::uint32_t kLvm2LabelSectors = 4;
constexpr std::uint32_t kLvm2LabelScanBytes = kLvm2LabelSectors * 512;
constexpr std::uint32_t kLvm2PvIdLength = 32;
constexpr std::uint32_t kLvm2MetadataHeaderBytes = 512;
// The text is held in one fixed buffer; LVM2 writes a few hundred bytes per
// logical volume, so this suits the one-PV, few-LV layouts the reader takes.
constexpr std::uint32_t kLvm2MaxMetadataBytes = 2048;

// What the label and PV header say. Offsets and sizes are bytes from the
// PV's first sector.
struct Lvm2Label {
  std::uint8_t pvId[kLvm2PvIdLength];  // without the hyphens of the text form
  std::uint64_t deviceSize;
  std::uint64_t metadataOffset;
  std::uint64_t metadataSize;
};

// Where the newest metadata text lies, in bytes from the metadata area start.
struct Lvm2RawLocation {
  std::uint64_t offset;
  std::uint64_t size;
};

// Finds the first of the four sectors in `sectors` (kLvm2LabelScanBytes
// bytes) holding a sound LVM2 label, and reads its PV header: exactly one
// data area and exactly one metadata area, non-empty and inside the device.
bool ParseLvm2Label(const std::uint8_t* sectors, Lvm2Label* label);

// Checks the metadata area header (kLvm2MetadataHeaderBytes bytes) against
// the label and takes its first raw location, which must lie wholly inside
// the area and hold at most kLvm2MaxMetadataBytes.
bool ParseLvm2MetadataHeader(const std::uint8_t* header, const Lvm2Label& label,
                             Lvm2RawLocation* location);

}  // namespace qvt

#endif
