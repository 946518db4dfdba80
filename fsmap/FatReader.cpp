// The FAT reader: FAT12, FAT16, FAT32 and Human68k volumes. It walks the
// first file allocation table once, checks it against the other copies,
// and keeps one bit per cluster: a cluster with any entry but 0 (in a chain,
// end of chain, bad) is in use.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteOrder.h"
#include "FatLayout.h"
#include "FsHandlerTable.h"
#include "Heap.h"

namespace qvt {
namespace {

struct FatState {
  std::uint64_t dataOffset;       // bytes from the volume start
  std::uint32_t bytesPerCluster;
  std::uint32_t knownClusters;    // clusters whose entry was read; the rest are in use
  std::uint8_t* used;             // one bit per cluster, least significant bit first
};

// A multiple of 3 (whole FAT12 entry pairs) and of 4 (whole FAT32 entries),
// so that no entry straddles two reads.
constexpr std::uint32_t kChunk = 48 * 1024;

std::uint64_t EntriesIn(FatType type, std::uint64_t bytes) {
  switch (type) {
    case FAT_12: return bytes * 2 / 3;
    case FAT_16: return bytes / 2;
    default: return bytes / 4;
  }
}

std::uint32_t EntryAt(const FatGeometry& g, const std::uint8_t* chunk, std::uint64_t chunkStart,
                      std::uint64_t entry) {
  if (g.type == FAT_12) {
    const std::uint8_t* p = chunk + (entry * 3 / 2 - chunkStart);
    const std::uint32_t pair = ReadLE16(p);
    return (entry & 1) != 0 ? pair >> 4 : pair & 0xFFF;
  }
  if (g.type == FAT_16) {
    const std::uint8_t* p = chunk + (entry * 2 - chunkStart);
    return g.human68k ? ReadBE16(p) : ReadLE16(p);
  }
  return ReadLE32(chunk + (entry * 4 - chunkStart)) & 0x0FFFFFFF;
}

void MarkChunk(const FatGeometry& g, const std::uint8_t* chunk, std::uint64_t start, std::uint64_t length,
               FatState* state) {
  const std::uint64_t firstEntry = std::max<std::uint64_t>(EntriesIn(g.type, start), 2);
  const std::uint64_t endEntry =
      std::min<std::uint64_t>(EntriesIn(g.type, start + length), state->knownClusters + 2ull);
  for (std::uint64_t e = firstEntry; e < endEntry; ++e) {
    if (EntryAt(g, chunk, start, e) == 0) continue;
    const std::uint64_t cluster = e - 2;
    state->used[cluster / 8] = static_cast<std::uint8_t>(state->used[cluster / 8] | (1u << (cluster % 8)));
  }
}

// Walks the first FAT chunk by chunk; on PC volumes every further copy must
// match it byte for byte, since a volume whose copies disagree has no single
// answer to which clusters are free.
DiskResult LoadTable(ImageHandle* image, std::uint64_t volumeOffset, const FatGeometry& g, FatState* state) {
  HeapBlock first(kChunk);
  HeapBlock copy(kChunk);
  if (!first || !copy) return DISK_E_NOMEM;
  auto* a = static_cast<std::uint8_t*>(first.get());
  auto* b = static_cast<std::uint8_t*>(copy.get());
  const std::uint32_t copies = g.human68k ? 1 : g.fatCount;
  for (std::uint64_t at = 0; at < g.fatBytes; at += kChunk) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, g.fatBytes - at));
    DiskResult r = ImageRead(image, volumeOffset + g.fatOffset + at, n, a);
    if (r != DISK_OK) return r;
    for (std::uint32_t c = 1; c < copies; ++c) {
      r = ImageRead(image, volumeOffset + g.fatOffset + c * g.fatBytes + at, n, b);
      if (r != DISK_OK) return r;
      if (std::memcmp(a, b, n) != 0) return DISK_E_FS_UNKNOWN;
    }
    MarkChunk(g, a, at, n, state);
  }
  return DISK_OK;
}

// Clusters the map can answer for: those the cluster count names, whose
// entry the FAT holds, and that begin inside the volume.
std::uint32_t KnownClusters(const FatGeometry& g, std::uint32_t volumeSectors) {
  const std::uint64_t entries = EntriesIn(g.type, g.fatBytes);
  const std::uint64_t inTable = entries > 2 ? entries - 2 : 0;
  const std::uint64_t volumeBytes = static_cast<std::uint64_t>(volumeSectors) * 512;
  const std::uint64_t inVolume = (volumeBytes - g.dataOffset + g.bytesPerCluster - 1) / g.bytesPerCluster;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>({g.clusterCount, inTable, inVolume}));
}

void CloseFat(void* state) {
  auto* s = static_cast<FatState*>(state);
  if (s == nullptr) return;
  EngineFree(s->used);
  EngineFree(s);
}

DiskResult OpenFat(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  *state = nullptr;
  if (count == 0) return DISK_E_FS_UNKNOWN;
  std::uint8_t boot[512];
  const std::uint64_t volumeOffset = static_cast<std::uint64_t>(first) * 512;
  DiskResult r = ImageRead(image, volumeOffset, sizeof boot, boot);
  if (r != DISK_OK) return r;
  FatGeometry g{};
  r = ParseFatBootRecord(boot, count, &g);
  if (r != DISK_OK) return r;

  void* place = EngineAlloc(sizeof(FatState));
  if (place == nullptr) return DISK_E_NOMEM;
  auto* s = new (place) FatState{g.dataOffset, g.bytesPerCluster, KnownClusters(g, count), nullptr};
  const std::size_t bytes = (static_cast<std::size_t>(s->knownClusters) + 7) / 8;
  s->used = static_cast<std::uint8_t*>(EngineAlloc(bytes == 0 ? 1 : bytes));
  r = s->used == nullptr ? DISK_E_NOMEM : DISK_OK;
  if (r == DISK_OK) {
    std::memset(s->used, 0, bytes);
    r = LoadTable(image, volumeOffset, g, s);
  }
  if (r != DISK_OK) {
    CloseFat(s);
    return r;
  }
  *state = s;
  return DISK_OK;
}

bool SectorUsed(const FatState& s, std::uint64_t sector) {
  const std::uint64_t start = sector * 512;
  if (start < s.dataOffset) return true;  // boot area, FATs, FAT12/16 root directory
  const std::uint64_t last = (start + 511 - s.dataOffset) / s.bytesPerCluster;
  for (std::uint64_t c = (start - s.dataOffset) / s.bytesPerCluster; c <= last; ++c) {
    if (c >= s.knownClusters || ((s.used[c / 8] >> (c % 8)) & 1) != 0) return true;
  }
  return false;
}

DiskResult QueryFat(const void* state, std::uint32_t first, std::uint32_t count, std::uint8_t* bits,
                    std::uint32_t firstBit) {
  const auto& s = *static_cast<const FatState*>(state);
  for (std::uint32_t i = 0; i < count; ++i) {
    SetBitRange(bits, firstBit + i, 1, SectorUsed(s, static_cast<std::uint64_t>(first) + i));
  }
  return DISK_OK;
}

}  // namespace

const FsHandler kFatHandler{"FAT", &OpenFat, &QueryFat, &CloseFat};

}  // namespace qvt
