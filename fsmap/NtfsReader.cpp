// The NTFS reader: the cluster bitmap of a volume, taken from the content of
// $Bitmap, found through MFT records 0 and 6. Only volumes whose two records
// are laid out the simple way are read; every other volume is kept in use.
//
// The bitmap is read as it stands on the volume, whether or not the volume
// was shut down cleanly (a dirty or hibernated volume is read as any other:
// its $LogFile or hibernation file may still hold allocations the bitmap
// does not show yet, which only a replay by Windows would bring in).
#include <cstring>

#include "ByteOrder.h"
#include "ClusterBitmap.h"
#include "FsHandlerTable.h"
#include "Heap.h"
#include "NtfsLayout.h"
#include "NtfsRecord.h"
#include "NtfsRunList.h"

namespace qvt {
namespace {

using namespace ntfs;

// Run fields are 32-bit: a larger volume cannot be described by them.
constexpr std::uint64_t kMaxClusters = std::uint64_t{1} << 31;
constexpr std::uint32_t kMaxRecordSize = 65536;
constexpr std::uint32_t kMaxClusterShift = 12;  // 2 MiB clusters of 512-byte sectors

struct Volume {
  ImageHandle* image;
  std::uint32_t first;   // sector of the boot sector on the disk
  std::uint32_t sectorsPerCluster;
  std::uint64_t clusterBytes;
  std::uint64_t clusters;
  std::uint64_t mftCluster;
  std::uint32_t recordSize;
};

std::uint64_t ClusterOffset(const Volume& v, std::uint64_t cluster) {
  return static_cast<std::uint64_t>(v.first) * 512 + cluster * v.clusterBytes;
}

// 1 to 128 as it stands; 0xF4 and above are negative powers of two for the
// clusters of 128 KiB and more. Anything else is damage.
bool SectorsPerCluster(std::uint8_t code, std::uint32_t* sectors) {
  if (code >= 1 && code <= 128 && (code & (code - 1)) == 0) {
    *sectors = code;
    return true;
  }
  const std::uint32_t shift = 256u - code;
  if (code > 128 && shift <= kMaxClusterShift) {
    *sectors = 1u << shift;
    return true;
  }
  return false;
}

// Negative n: 2^-n bytes; positive n: n clusters.
bool RecordSize(std::int8_t code, std::uint64_t clusterBytes, std::uint32_t* size) {
  std::uint64_t bytes = 0;
  if (code < 0 && code >= -16) bytes = std::uint64_t{1} << -code;
  if (code > 0) bytes = static_cast<std::uint64_t>(code) * clusterBytes;
  if (bytes < 512 || bytes > kMaxRecordSize || bytes % 512 != 0) return false;
  *size = static_cast<std::uint32_t>(bytes);
  return true;
}

DiskResult ReadBoot(ImageHandle* image, std::uint32_t first, std::uint32_t count, Volume* v) {
  std::uint8_t boot[512];
  const DiskResult r = ImageRead(image, static_cast<std::uint64_t>(first) * 512, sizeof boot, boot);
  if (r != DISK_OK) return r;
  if (std::memcmp(boot + kBootOem, "NTFS    ", 8) != 0 || ReadLE16(boot + kBootBytesPerSector) != 512 ||
      ReadLE16(boot + kBootSignature) != 0xAA55) {
    return DISK_E_FS_UNKNOWN;
  }
  *v = Volume{image, first, 0, 0, 0, ReadLE64(boot + kBootMftCluster), 0};
  if (!SectorsPerCluster(boot[kBootSectorsPerCluster], &v->sectorsPerCluster)) return DISK_E_FS_BITMAP;
  v->clusterBytes = std::uint64_t{512} * v->sectorsPerCluster;
  const std::uint64_t total = ReadLE64(boot + kBootTotalSectors);
  v->clusters = total / v->sectorsPerCluster;
  // A volume larger than its partition, or too large for the run fields,
  // is not one this reader may answer for.
  if (total > count || v->clusters == 0 || v->clusters > kMaxClusters) return DISK_E_FS_BITMAP;
  if (!RecordSize(static_cast<std::int8_t>(boot[kBootRecordSizeCode]), v->clusterBytes, &v->recordSize)) {
    return DISK_E_FS_BITMAP;
  }
  if (v->mftCluster >= v->clusters) return DISK_E_FS_BITMAP;
  return DISK_OK;
}

// The runs of a data attribute, each checked to lie inside the volume.
struct Runs {
  NtfsRun* runs = nullptr;
  std::uint32_t count = 0;
  ~Runs() { EngineFree(runs); }
};

DiskResult DecodeRuns(const Volume& v, const NtfsDataAttribute& data, Runs* out) {
  std::uint32_t count = 0;
  DiskResult r = DecodeNtfsRunList(data.pairs, data.pairsSize, nullptr, 0, &count);
  if (r != DISK_OK) return r;
  if (count == 0) return DISK_E_FS_BITMAP;
  out->runs = static_cast<NtfsRun*>(EngineAlloc(sizeof(NtfsRun) * count));
  if (out->runs == nullptr) return DISK_E_NOMEM;
  r = DecodeNtfsRunList(data.pairs, data.pairsSize, out->runs, count, &out->count);
  if (r != DISK_OK) return r;
  for (std::uint32_t i = 0; i < out->count; ++i) {
    const NtfsRun& run = out->runs[i];
    if (static_cast<std::uint64_t>(run.firstCluster) + run.length > v.clusters) return DISK_E_FS_BITMAP;
  }
  return DISK_OK;
}

// `length` bytes at byte `offset` of the attribute the runs describe.
DiskResult ReadThroughRuns(const Volume& v, const Runs& runs, std::uint64_t offset, std::uint32_t length,
                           std::uint8_t* out) {
  for (std::uint32_t i = 0; i < runs.count && length > 0; ++i) {
    const std::uint64_t runBytes = runs.runs[i].length * v.clusterBytes;
    if (offset >= runBytes) {
      offset -= runBytes;
      continue;
    }
    const std::uint64_t left = runBytes - offset;
    const auto piece = static_cast<std::uint32_t>(left < length ? left : length);
    const DiskResult r =
        ImageRead(v.image, ClusterOffset(v, static_cast<std::uint64_t>(runs.runs[i].firstCluster)) + offset,
                  piece, out);
    if (r != DISK_OK) return r;
    out += piece;
    length -= piece;
    offset = 0;
  }
  return length == 0 ? DISK_OK : DISK_E_LIMIT;
}

// Reads, repairs and parses one metadata record; its data runs.
DiskResult LoadRecordRuns(const Volume& v, std::uint8_t* record, const char* name, Runs* runs,
                          std::uint64_t* dataSize) {
  DiskResult r = RepairNtfsRecord(record, v.recordSize);
  if (r != DISK_OK) return r;
  NtfsDataAttribute data{};
  r = FindNtfsDataAttribute(record, v.recordSize, name, &data);
  if (r != DISK_OK) return r;
  *dataSize = data.dataSize;
  return DecodeRuns(v, data, runs);
}

DiskResult LoadMetadataRuns(const Volume& v, Runs* mft, Runs* bitmap, std::uint64_t* bitmapSize) {
  HeapBlock record(v.recordSize);
  if (!record) return DISK_E_NOMEM;
  auto* bytes = static_cast<std::uint8_t*>(record.get());
  DiskResult r = ImageRead(v.image, ClusterOffset(v, v.mftCluster), v.recordSize, bytes);
  if (r != DISK_OK) return r;
  std::uint64_t mftSize = 0;
  r = LoadRecordRuns(v, bytes, "$MFT", mft, &mftSize);
  if (r != DISK_OK) return r;
  r = ReadThroughRuns(v, *mft, std::uint64_t{kMftRecordOfBitmap} * v.recordSize, v.recordSize, bytes);
  if (r != DISK_OK) return r;
  return LoadRecordRuns(v, bytes, "$Bitmap", bitmap, bitmapSize);
}

bool ClusterUsed(const ClusterBitmap& map, std::uint64_t cluster) {
  return cluster / 8 < map.bitmapBytes && ((map.bits[cluster / 8] >> (cluster % 8)) & 1) != 0;
}

bool RunsUsed(const ClusterBitmap& map, const Runs& runs) {
  for (std::uint32_t i = 0; i < runs.count; ++i) {
    for (std::uint32_t c = 0; c < runs.runs[i].length; ++c) {
      if (!ClusterUsed(map, static_cast<std::uint64_t>(runs.runs[i].firstCluster) + c)) return false;
    }
  }
  return true;
}

// A bitmap that calls the boot cluster, the MFT or itself free was not read
// from the real $Bitmap (or the volume is damaged): it cannot be trusted.
bool BitmapIsPlausible(const ClusterBitmap& map, const Runs& mft, const Runs& bitmap) {
  return ClusterUsed(map, 0) && RunsUsed(map, mft) && RunsUsed(map, bitmap);
}

DiskResult OpenNtfs(void** state, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  *state = nullptr;
  Volume v{};
  DiskResult r = ReadBoot(image, first, count, &v);
  if (r != DISK_OK) return r;
  Runs mft, bitmapRuns;
  std::uint64_t dataSize = 0;
  r = LoadMetadataRuns(v, &mft, &bitmapRuns, &dataSize);
  if (r != DISK_OK) return r;
  // Only the bytes that describe clusters of the volume are kept; clusters
  // the bitmap does not reach stay in use.
  std::uint64_t bytes = (v.clusters + 7) / 8;
  if (dataSize < bytes) bytes = dataSize;
  if (bytes == 0) return DISK_E_FS_BITMAP;
  ClusterBitmap* map = NewClusterBitmap(first, v.sectorsPerCluster, static_cast<std::uint32_t>(v.clusters),
                                        static_cast<std::size_t>(bytes));
  if (map == nullptr) return DISK_E_NOMEM;
  r = ReadThroughRuns(v, bitmapRuns, 0, static_cast<std::uint32_t>(bytes), map->bits);
  if (r == DISK_OK && !BitmapIsPlausible(*map, mft, bitmapRuns)) r = DISK_E_FS_BITMAP;
  if (r != DISK_OK) {
    FreeClusterBitmap(map);
    return r;
  }
  *state = map;
  return DISK_OK;
}

}  // namespace

const FsHandler kNtfsHandler{"NTFS", &OpenNtfs, &ClusterBitmapQuery, &FreeClusterBitmap};

}  // namespace qvt
