// Reads the logical volumes of an LVM2 physical volume into the volume list:
// label, metadata area header, then the newest metadata text, each checked
// before the next read depends on it.
#include <new>

#include "Heap.h"
#include "Lvm2Label.h"
#include "Lvm2Metadata.h"
#include "Lvm2Placement.h"
#include "TextConvert.h"
#include "VolumeRecord.h"

namespace qvt {

namespace {

// Everything one read of a PV holds, taken from the engine's heap at once:
// the parsed record is some kilobytes and its text values point into `text`.
struct Lvm2Work {
  std::uint8_t label[kLvm2LabelScanBytes];
  std::uint8_t header[kLvm2MetadataHeaderBytes];
  std::uint8_t text[kLvm2MaxMetadataBytes];
  Lvm2Metadata metadata;
  Lvm2Placement placement;
};

bool FitsWithin(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

// The text runs to its first NUL (LVM2 pads the location with one) and has
// to be text of the system's code page there.
bool MetadataText(const std::uint8_t* bytes, std::uint32_t size, TextView* text) {
  std::uint32_t at = 0;
  while (at < size && bytes[at] != 0) {
    const std::uint32_t n = CharLength(ENC_SHIFT_JIS, bytes + at, size - at);
    std::uint32_t codePoint = 0;
    if (n == 0 || !DecodeCodePoint(ENC_SHIFT_JIS, bytes + at, n, &codePoint)) return false;
    at += n;
  }
  *text = TextView{bytes, at};
  return true;
}

// The metadata area must lie on the disk as well as inside the PV the label
// describes, before anything is read from it.
DiskResult ReadMetadataHeader(ImageHandle* image, std::uint64_t pvStart, const Lvm2Label& label,
                              Lvm2Work* work, Lvm2RawLocation* location) {
  ImageGeometry geometry{};
  const DiskResult sized = ImageGetSize(image, &geometry);
  if (sized != DISK_OK) return sized;
  const std::uint64_t diskBytes = static_cast<std::uint64_t>(geometry.sectors) * kSectorSize;
  if (pvStart > diskBytes ||
      !FitsWithin(label.metadataOffset, label.metadataSize, diskBytes - pvStart)) {
    return DISK_E_FS_UNKNOWN;
  }
  const DiskResult read =
      ImageRead(image, pvStart + label.metadataOffset, kLvm2MetadataHeaderBytes, work->header);
  if (read != DISK_OK) return read;
  return ParseLvm2MetadataHeader(work->header, label, location) ? DISK_OK : DISK_E_FS_UNKNOWN;
}

DiskResult PlaceVolumes(ImageHandle* image, std::uint32_t firstSector, Lvm2Work* work) {
  const std::uint64_t pvStart = static_cast<std::uint64_t>(firstSector) * kSectorSize;
  DiskResult r = ImageRead(image, pvStart, kLvm2LabelScanBytes, work->label);
  if (r != DISK_OK) return r;
  Lvm2Label label{};
  if (!ParseLvm2Label(work->label, &label)) return DISK_E_FS_UNKNOWN;

  Lvm2RawLocation location{};
  r = ReadMetadataHeader(image, pvStart, label, work, &location);
  if (r != DISK_OK) return r;
  // The header parse bounded the location to the area and to the buffer.
  const auto size = static_cast<std::uint32_t>(location.size);
  r = ImageRead(image, pvStart + label.metadataOffset + location.offset, size, work->text);
  if (r != DISK_OK) return r;

  TextView text{};
  if (!MetadataText(work->text, size, &text) || !ParseLvm2Metadata(text, &work->metadata) ||
      !PlaceLvm2Volumes(work->metadata, label, firstSector, &work->placement)) {
    return DISK_E_FS_UNKNOWN;
  }
  return DISK_OK;
}

}  // namespace

DiskResult ReadLvm2PhysicalVolume(ImageHandle* image, std::uint32_t firstSector, VolumeList* list) {
  HeapBlock block(sizeof(Lvm2Work));
  if (!block) return DISK_E_NOMEM;
  auto* work = new (block.get()) Lvm2Work;
  const DiskResult r = PlaceVolumes(image, firstSector, work);
  if (r != DISK_OK) return r;
  for (std::uint32_t i = 0; i < work->placement.count; ++i) {
    const Lvm2VolumeExtent& v = work->placement.volumes[i];
    if (!AppendVolume(list, MakeVolumeRecord(v.firstSector, v.sectorCount))) break;
  }
  return DISK_OK;
}

}  // namespace qvt
