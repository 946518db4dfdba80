// The exFAT reader: the allocation bitmap of a volume, found through the
// root directory's bitmap entry. Sectors before the cluster heap (boot
// region, FAT) and after its last cluster are always in use.
//
// Everything is kept in 512-byte disk sectors: a volume whose own sectors
// are larger has its heap offset and cluster size converted, never compared
// with disk sectors as they stand.
//
// Volumes this reader cannot trust are kept whole: a bitmap whose clusters
// the FAT does not chain one after another (it would have to be gathered
// from elsewhere), a volume with two FATs (the second bitmap may be the
// live one), and a volume marked dirty (its bitmap may lag behind the
// directories that were being written).
#include <cstring>
#include <new>

#include "ByteOrder.h"
#include "ClusterBitmap.h"
#include "ExfatLayout.h"
#include "FsHandlerTable.h"
#include "Heap.h"

namespace qvt {
namespace {

using namespace exfat;

constexpr std::uint32_t kMinSectorShift = 9;
constexpr std::uint32_t kMaxSectorShift = 13;
constexpr std::uint32_t kMaxClusterShift = 25;  // bytes per cluster at most 32 MiB

struct Volume {
  ImageHandle* image;
  std::uint64_t base;          // byte offset of the volume on the disk
  std::uint32_t count;         // disk sectors of the volume
  std::uint32_t sectorShift;   // the filesystem's bytes per sector, as a shift
  std::uint32_t clusterShift;  // bytes per cluster, as a shift
  std::uint32_t fatOffset, fatLength, heapOffset;  // filesystem sectors
  std::uint32_t clusters, rootCluster;
};

std::uint64_t ClusterPosition(const Volume& v, std::uint32_t cluster) {
  return v.base + (static_cast<std::uint64_t>(v.heapOffset) << v.sectorShift) +
         (static_cast<std::uint64_t>(cluster - kFirstCluster) << v.clusterShift);
}

bool ClusterInHeap(const Volume& v, std::uint32_t cluster) {
  return cluster >= kFirstCluster && cluster - kFirstCluster < v.clusters;
}

bool ZeroArea(const std::uint8_t* boot) {
  for (std::uint32_t i = 0; i < kBootZeroAreaSize; ++i) {
    if (boot[kBootZeroArea + i] != 0) return false;
  }
  return true;
}

DiskResult ReadBoot(ImageHandle* image, std::uint32_t first, std::uint32_t count, Volume* v) {
  std::uint8_t boot[512];
  const std::uint64_t base = static_cast<std::uint64_t>(first) * 512;
  const DiskResult r = ImageRead(image, base, sizeof boot, boot);
  if (r != DISK_OK) return r;
  const std::uint32_t sectorShift = boot[kBootBytesPerSectorShift];
  const std::uint32_t clusterShift = sectorShift + boot[kBootSectorsPerClusterShift];
  if (std::memcmp(boot + kBootName, "EXFAT   ", 8) != 0 || !ZeroArea(boot) ||
      sectorShift < kMinSectorShift || sectorShift > kMaxSectorShift ||
      boot[kBootSectorsPerClusterShift] > kMaxClusterShift || clusterShift > kMaxClusterShift ||
      ReadLE16(boot + kBootSignature) != 0xAA55) {
    return DISK_E_FS_UNKNOWN;
  }
  *v = Volume{image, base, count, sectorShift, clusterShift, ReadLE32(boot + kBootFatOffset),
              ReadLE32(boot + kBootFatLength), ReadLE32(boot + kBootHeapOffset),
              ReadLE32(boot + kBootClusterCount), ReadLE32(boot + kBootRootCluster)};
  if (boot[kBootNumberOfFats] != 1 || (ReadLE16(boot + kBootVolumeFlags) & kVolumeDirty) != 0) {
    return DISK_E_FS_BITMAP;
  }
  // The FAT and the heap must lie inside the volume, the heap after the FAT.
  const std::uint64_t sectorsIn512 = std::uint64_t{1} << (sectorShift - 9);
  const std::uint64_t heapEnd = static_cast<std::uint64_t>(v->heapOffset) * sectorsIn512 +
                                (static_cast<std::uint64_t>(v->clusters) << (clusterShift - 9));
  const std::uint64_t fatEnd = (static_cast<std::uint64_t>(v->fatOffset) + v->fatLength) * sectorsIn512;
  if (v->clusters == 0 || v->fatOffset == 0 || heapEnd > count ||
      fatEnd > static_cast<std::uint64_t>(v->heapOffset) * sectorsIn512 ||
      (static_cast<std::uint64_t>(v->clusters) + kFirstCluster) * kFatEntrySize >
          (static_cast<std::uint64_t>(v->fatLength) << sectorShift) ||
      !ClusterInHeap(*v, v->rootCluster)) {
    return DISK_E_FS_BITMAP;
  }
  return DISK_OK;
}

struct BitmapEntry {
  std::uint32_t firstCluster;
  std::uint64_t length;  // bytes
};

// The first allocation bitmap entry of the root directory's first cluster.
DiskResult FindBitmapEntry(const Volume& v, BitmapEntry* entry) {
  const std::uint32_t clusterBytes = 1u << v.clusterShift;
  HeapBlock block(clusterBytes);
  if (!block) return DISK_E_NOMEM;
  auto* dir = static_cast<std::uint8_t*>(block.get());
  const DiskResult r = ImageRead(v.image, ClusterPosition(v, v.rootCluster), clusterBytes, dir);
  if (r != DISK_OK) return r;
  for (std::uint32_t at = 0; at + kEntrySize <= clusterBytes; at += kEntrySize) {
    const std::uint8_t type = dir[at + kEntryType];
    if (type == kTypeEndOfDirectory) break;
    if (type == kTypeAllocationBitmap) {
      *entry = BitmapEntry{ReadLE32(dir + at + kEntryFirstCluster), ReadLE64(dir + at + kEntryDataLength)};
      return DISK_OK;
    }
  }
  return DISK_E_FS_UNKNOWN;
}

// True when the FAT chains `n` clusters from `first` one after another and
// ends there: only then is the bitmap where a plain read finds it.
DiskResult BitmapIsContiguous(const Volume& v, std::uint32_t first, std::uint32_t n, bool* contiguous) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(n) * kFatEntrySize;
  HeapBlock block(bytes);
  if (!block) return DISK_E_NOMEM;
  auto* fat = static_cast<std::uint8_t*>(block.get());
  const std::uint64_t at = v.base + (static_cast<std::uint64_t>(v.fatOffset) << v.sectorShift) +
                           static_cast<std::uint64_t>(first) * kFatEntrySize;
  const DiskResult r = ImageRead(v.image, at, static_cast<std::uint32_t>(bytes), fat);
  if (r != DISK_OK) return r;
  *contiguous = true;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t next = ReadLE32(fat + i * kFatEntrySize);
    if (next != (i + 1 == n ? kFatEndOfChain : first + i + 1)) *contiguous = false;
  }
  return DISK_OK;
}

bool ClusterUsed(const ClusterBitmap& map, std::uint32_t cluster) {
  const std::uint32_t k = cluster - kFirstCluster;
  return k / 8 < map.bitmapBytes && ((map.bits[k / 8] >> (k % 8)) & 1) != 0;
}

// A bitmap that calls itself or the root directory free is not the
// volume's bitmap (or the volume is damaged).
bool BitmapIsPlausible(const ClusterBitmap& map, const Volume& v, std::uint32_t first, std::uint32_t n) {
  if (!ClusterUsed(map, v.rootCluster)) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (!ClusterUsed(map, first + i)) return false;
  }
  return true;
}

struct ExfatState {
  std::uint32_t heapFirst;  // disk sectors before the heap, from the volume start
  ClusterBitmap* clusters;  // relative to the heap
};

DiskResult LoadBitmap(const Volume& v, const BitmapEntry& entry, ClusterBitmap** out) {
  const std::uint64_t needed = (static_cast<std::uint64_t>(v.clusters) + 7) / 8;
  if (entry.length == 0 || !ClusterInHeap(v, entry.firstCluster)) return DISK_E_FS_BITMAP;
  const std::uint64_t bytes = entry.length < needed ? entry.length : needed;
  const std::uint64_t spanned = ((bytes - 1) >> v.clusterShift) + 1;
  if (spanned > v.clusters - (entry.firstCluster - kFirstCluster)) return DISK_E_FS_BITMAP;
  const auto n = static_cast<std::uint32_t>(spanned);
  bool contiguous = false;
  DiskResult r = BitmapIsContiguous(v, entry.firstCluster, n, &contiguous);
  if (r != DISK_OK) return r;
  if (!contiguous) return DISK_E_FS_BITMAP;
  ClusterBitmap* map = NewClusterBitmap(static_cast<std::uint32_t>(v.base / 512), 1u << (v.clusterShift - 9),
                                        v.clusters, static_cast<std::size_t>(bytes));
  if (map == nullptr) return DISK_E_NOMEM;
  r = ImageRead(v.image, ClusterPosition(v, entry.firstCluster), static_cast<std::uint32_t>(bytes), map->bits);
  if (r == DISK_OK && !BitmapIsPlausible(*map, v, entry.firstCluster, n)) r = DISK_E_FS_BITMAP;
  if (r != DISK_OK) {
    FreeClusterBitmap(map);
    return r;
  }
  *out = map;
  return DISK_OK;
}

DiskResult OpenExfat(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  *state = nullptr;
  Volume v{};
  DiskResult r = ReadBoot(image, first, count, &v);
  if (r != DISK_OK) return r;
  BitmapEntry entry{};
  r = FindBitmapEntry(v, &entry);
  if (r != DISK_OK) return r;
  ClusterBitmap* clusters = nullptr;
  r = LoadBitmap(v, entry, &clusters);
  if (r != DISK_OK) return r;
  void* place = EngineAlloc(sizeof(ExfatState));
  if (place == nullptr) {
    FreeClusterBitmap(clusters);
    return DISK_E_NOMEM;
  }
  const auto heapFirst = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v.heapOffset)
                                                    << (v.sectorShift - 9));
  *state = new (place) ExfatState{heapFirst, clusters};
  return DISK_OK;
}

DiskResult QueryExfat(const void* state, std::uint32_t first, std::uint32_t count, std::uint8_t* bits,
                      std::uint32_t firstBit) {
  const auto* s = static_cast<const ExfatState*>(state);
  std::uint32_t before = 0;
  if (first < s->heapFirst) {
    before = s->heapFirst - first < count ? s->heapFirst - first : count;
    SetBitRange(bits, firstBit, before, true);
  }
  if (before == count) return DISK_OK;
  return ClusterBitmapQuery(s->clusters, first + before - s->heapFirst, count - before, bits, firstBit + before);
}

void CloseExfat(void* state) {
  auto* s = static_cast<ExfatState*>(state);
  if (s == nullptr) return;
  FreeClusterBitmap(s->clusters);
  EngineFree(s);
}

}  // namespace

const FsHandler kExfatHandler{"exFAT", &OpenExfat, &QueryExfat, &CloseExfat};

}  // namespace qvt
