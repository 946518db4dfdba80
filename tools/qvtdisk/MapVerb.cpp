// qvtdisk map: the trim map of a disk, segment by segment, or the bits of a
// range of it.
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FsHandlers.h"
#include "ToolText.h"
#include "Verbs.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {
namespace {

constexpr std::uint32_t kChunkSectors = 1u << 20;  // bits asked at once

// The disk, open through its chain, and its map; both released on every path.
class MappedDisk {
 public:
  ~MappedDisk() {
    FreeAllocationMap(map_);
    ImageClose(&image_);
  }
  // A failure is printed; its exit status, or kExitOk.
  int Open(Console& console, const ToolPath& disk) {
    DiskResult r = OpenDisk(console, disk, true, VMDK_PARENT_OPEN, &image_);
    if (r != DISK_OK) return EngineFailure(console, "cannot open " + disk.native, r);
    r = ImageGetSize(&image_, &geometry_);
    if (r != DISK_OK) return EngineFailure(console, "cannot size " + disk.native, r);
    r = BuildAllocationMap(&image_, &map_);
    if (r != DISK_OK) return EngineFailure(console, "cannot map the volumes of " + disk.native, r);
    return kExitOk;
  }
  const AllocationMap* Map() const { return map_; }
  std::uint32_t Sectors() const { return geometry_.sectors; }

 private:
  ImageHandle image_ = NoImage();
  ImageGeometry geometry_{};
  AllocationMap* map_ = nullptr;
};

int PopCount(std::uint8_t byte) {
  int n = 0;
  for (; byte != 0; byte &= static_cast<std::uint8_t>(byte - 1)) ++n;
  return n;
}

// Sectors in use in [first, first + count), counted chunk by chunk.
DiskResult CountInUse(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                      std::vector<std::uint8_t>* buffer, std::uint64_t* used, ProgressBar* bar,
                      std::uint64_t* reported, std::uint32_t total) {
  *used = 0;
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t part = std::min(kChunkSectors, count - done);
    DiskResult r = AllocationMapGetBits(map, first + done, part, buffer->data());
    if (r != DISK_OK) return r;
    for (std::uint32_t b = 0; b < part / 8; ++b) *used += PopCount((*buffer)[b]);
    for (std::uint32_t k = part / 8 * 8; k < part; ++k) *used += ((*buffer)[k / 8] >> (k % 8)) & 1;
    done += part;
    *reported += part;
    if (!ProgressBar::Report(static_cast<std::uint32_t>(*reported >> 11), total, bar)) {
      return DISK_CANCELLED;
    }
  }
  return DISK_OK;
}

std::string KindName(std::int32_t kind) {
  if (kind == kSegmentUnrecognised) return "unrecognised";
  if (kind == kSegmentNoVolume) return "no volume";
  return FsHandlerOf(kind).name;
}

std::string Column(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

int MapVerb(Console& console, const ToolPath& disk) {
  MappedDisk mapped;
  if (const int status = mapped.Open(console, disk); status != kExitOk) return status;
  const AllocationMap* map = mapped.Map();
  console.Out(NativeFromEngine(disk.engine.c_str()) + ": " + std::to_string(mapped.Sectors()) +
              " sectors of " + std::to_string(map->sectorSize) + " bytes, " +
              std::to_string(map->segmentCount) + " segments\n");
  console.Out(Column("first", 12) + Column("count", 12) + Column("kind", 5) +
              Column("filesystem", 14) + Column("in use", 12) + "free\n");
  std::vector<std::uint8_t> buffer(kChunkSectors / 8);
  std::uint64_t usedTotal = 0;
  std::uint64_t reported = 0;
  const auto total = static_cast<std::uint32_t>((static_cast<std::uint64_t>(mapped.Sectors()) + 2047) >> 11);
  ProgressBar bar(console, console.ErrIsTerminal());
  std::string lines;
  std::uint32_t first = 0;
  for (std::uint32_t i = 0; i < map->segmentCount; ++i) {
    const AllocationSegment& s = map->segments[i];
    std::uint64_t used = 0;
    const DiskResult r = CountInUse(map, first, s.sectorCount, &buffer, &used, &bar, &reported, total);
    if (r != DISK_OK) {
      bar.Finish();
      console.Out(lines);
      return EngineFailure(console, "cannot ask the map of " + disk.native, r);
    }
    usedTotal += used;
    lines += Column(std::to_string(s.firstSector), 12) + Column(std::to_string(s.sectorCount), 12) +
             Column(std::to_string(s.kind), 5) + Column(KindName(s.kind), 14) +
             Column(std::to_string(used), 12) + std::to_string(s.sectorCount - used) + "\n";
    first += s.sectorCount;
  }
  bar.Finish();
  lines += Column("total", 12) + Column(std::to_string(mapped.Sectors()), 12) + Column("", 5) +
           Column("", 14) + Column(std::to_string(usedTotal), 12) +
           std::to_string(mapped.Sectors() - usedTotal) + "\n";
  console.Out(lines);
  return kExitOk;
}

int MapBitsVerb(Console& console, const ToolPath& disk, std::uint32_t first, std::uint32_t count) {
  MappedDisk mapped;
  if (const int status = mapped.Open(console, disk); status != kExitOk) return status;
  if (static_cast<std::uint64_t>(first) + count > mapped.Sectors()) {
    return EngineFailure(console, "sectors " + std::to_string(first) + " + " +
                                      std::to_string(count) + " of " + disk.native,
                         DISK_E_LIMIT);
  }
  std::vector<std::uint8_t> buffer(kChunkSectors / 8);
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t part = std::min(kChunkSectors, count - done);
    const DiskResult r = AllocationMapGetBits(mapped.Map(), first + done, part, buffer.data());
    if (r != DISK_OK) return EngineFailure(console, "cannot ask the map of " + disk.native, r);
    std::string text(part, '0');
    for (std::uint32_t k = 0; k < part; ++k) {
      if ((buffer[k / 8] >> (k % 8)) & 1) text[k] = '1';
    }
    console.Out(text);
    done += part;
    if (console.CancelRequested()) return EngineFailure(console, "", DISK_CANCELLED);
  }
  console.Out("\n");
  return kExitOk;
}

}  // namespace qvt::qvtdisk
