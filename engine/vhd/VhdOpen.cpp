// Opening a VHD image: every check in its order, the first failure closing
// what was opened. Nothing is written.
#include <cstring>
#include <new>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpenChain.h"
#include "TextCompare.h"
#include "VhdBlocks.h"
#include "VhdImage.h"
#include "VhdLocators.h"

namespace qvt {
namespace {

constexpr std::uint64_t kMinimumLength = 2046;  // footer copy, header, short footer, less one
constexpr std::uint64_t kLargestGeometryBytes = 65535ull * 16 * 255 * 512;
constexpr std::uint32_t kPaddingSectors = 7;

// Frees the image on every failure path.
struct OpenGuard {
  VhdImage* image;
  ~OpenGuard() { VhdImageClose(image); }
};

bool AllZero(const std::uint8_t* p, std::uint32_t n) { return VhdIsZero(p, n); }

DiskResult ReadFooters(VhdImage* m, std::uint64_t length) {
  const std::uint64_t rest = length % kSectorSize;
  if (rest == 0) {
    m->footerLength = kVhdFooterBytes;
  } else if (rest == kVhdShortFooterBytes) {
    m->footerLength = kVhdShortFooterBytes;
  } else {
    return DISK_E_FORMAT;
  }
  VhdFooter copy{};
  if (!StreamRead(&m->file, length - m->footerLength, m->footerLength, m->footer.bytes) ||
      !StreamRead(&m->file, 0, m->footerLength, copy.bytes)) {
    return DISK_E_READ;
  }
  if (std::memcmp(copy.bytes, m->footer.bytes, vhd_footer::kComparedBytes) != 0) {
    return DISK_E_FORMAT;
  }
  const std::uint8_t* f = m->footer.bytes;
  const std::uint32_t stored = VhdGet32(f, vhd_footer::kChecksum);
  const std::uint32_t type = VhdGet32(f, vhd_footer::kDiskType);
  if ((stored != 0 && stored != VhdChecksum(f, m->footerLength, vhd_footer::kChecksum)) ||
      VhdGet32(f, vhd_footer::kFormatVersion) != kVhdVersion ||
      (type != VHD_DYNAMIC && type != VHD_DIFFERENCING) ||
      VhdGet64(f, vhd_footer::kDataOffset) == kVhdNoOffset ||
      !AllZero(f + vhd_footer::kReserved, m->footerLength - vhd_footer::kReserved)) {
    return DISK_E_FORMAT;
  }
  m->differencing = type == VHD_DIFFERENCING;
  m->nextFree = length - m->footerLength;
  return DISK_OK;
}

DiskResult ReadHeader(VhdImage* m) {
  const std::uint64_t at = VhdGet64(m->footer.bytes, vhd_footer::kDataOffset);
  // The header lies between the footer copy and the trailing footer.
  if (at < kVhdFooterBytes || at > m->nextFree || m->nextFree - at < kVhdHeaderBytes) {
    return DISK_E_FORMAT;
  }
  if (!StreamRead(&m->file, at, kVhdHeaderBytes, m->header.bytes)) return DISK_E_READ;
  const std::uint8_t* h = m->header.bytes;
  const std::uint32_t blockSize = VhdGet32(h, vhd_header::kBlockSize);
  if (VhdGet32(h, vhd_header::kChecksum) !=
          VhdChecksum(h, kVhdHeaderBytes, vhd_header::kChecksum) ||
      std::memcmp(h + vhd_header::kCookie, "cxsparse", 8) != 0 ||
      VhdGet64(h, vhd_header::kDataOffset) != kVhdNoOffset ||
      VhdGet32(h, vhd_header::kHeaderVersion) != kVhdVersion || blockSize < kSectorSize ||
      (blockSize & (blockSize - 1)) != 0 || VhdGet32(h, vhd_header::kReserved1) != 0) {
    return DISK_E_FORMAT;
  }
  return DISK_OK;
}

DiskResult CheckLocatorEntries(const VhdImage& m) {
  for (std::uint32_t i = 0; i < kVhdLocatorCount; ++i) {
    const VhdLocator l = VhdHeaderLocator(m.header, i);
    if (!VhdIsKnownPlatform(l.code) || l.reserved != 0) return DISK_E_FORMAT;
  }
  return DISK_OK;
}

DiskResult SizeTheDisk(VhdImage* m) {
  const std::uint8_t* f = m->footer.bytes;
  const std::uint64_t current = VhdGet64(f, vhd_footer::kCurrentSize);
  const std::uint32_t cylinders = ReadBE16(f + vhd_footer::kCylinders);
  m->heads = f[vhd_footer::kHeads];
  m->sectorsPerTrack = f[vhd_footer::kSectorsPerTrack];
  const bool largest = cylinders == 65535 && m->heads == 16 && m->sectorsPerTrack == 255;
  const std::uint64_t sectors = current > kLargestGeometryBytes || largest
                                    ? current / kSectorSize
                                    : static_cast<std::uint64_t>(cylinders) * m->heads *
                                          m->sectorsPerTrack;
  // The image handle counts sectors in 32 bits.
  if (sectors > UINT32_MAX) return DISK_E_FORMAT;
  m->sectors = static_cast<std::uint32_t>(sectors);
  m->blockSize = VhdGet32(m->header.bytes, vhd_header::kBlockSize);
  m->sectorsPerBlock = m->blockSize / kSectorSize;
  m->blocks = static_cast<std::uint32_t>((sectors + m->sectorsPerBlock - 1) / m->sectorsPerBlock);
  m->tableOffset = VhdGet64(m->header.bytes, vhd_header::kTableOffset);
  m->bitmapBytes = (m->sectorsPerBlock + 4095) / 4096 * kSectorSize;
  return DISK_OK;
}

DiskResult ReadBat(VhdImage* m) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(m->blocks) * 4;
  // The table must lie before the trailing footer; that bounds the
  // allocation by the file's own size.
  if (m->tableOffset > m->nextFree || bytes > m->nextFree - m->tableOffset) return DISK_E_FORMAT;
  m->bat = static_cast<std::uint32_t*>(EngineAlloc(bytes == 0 ? 4 : static_cast<std::size_t>(bytes)));
  if (m->bat == nullptr) return DISK_E_NOMEM;
  if (bytes == 0) return DISK_OK;
  HeapBlock area(static_cast<std::size_t>(bytes));
  if (!area) return DISK_E_NOMEM;
  auto* raw = static_cast<std::uint8_t*>(area.get());
  if (!StreamRead(&m->file, m->tableOffset, static_cast<std::uint32_t>(bytes), raw)) {
    return DISK_E_READ;
  }
  for (std::uint32_t i = 0; i < m->blocks; ++i) m->bat[i] = ReadBE32(raw + 4 * static_cast<std::size_t>(i));
  return DISK_OK;
}

std::uint64_t SectorsUp(std::uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

// Where data may start: past the BAT and, in a differencing image, past
// every locator's data area.
DiskResult MetadataEnd(const VhdImage& m, std::uint64_t* end) {
  *end = SectorsUp(m.tableOffset + static_cast<std::uint64_t>(m.blocks) * 4);
  if (!m.differencing) return DISK_OK;
  for (std::uint32_t i = 0; i < kVhdLocatorCount; ++i) {
    const VhdLocator l = VhdHeaderLocator(m.header, i);
    if (l.code == VHD_PLATFORM_NONE) continue;
    if (l.dataOffset > m.nextFree) return DISK_E_FORMAT;
    const std::uint64_t areaEnd = SectorsUp(l.dataOffset + l.dataSpace);
    if (areaEnd > *end) *end = areaEnd;
  }
  return DISK_OK;
}

// Every allocated block must lie wholly between the metadata and the
// trailing footer and clear of the header: a hostile entry must never send
// a read or a write into the structures or past the file.
DiskResult CheckLayout(VhdImage* m) {
  std::uint64_t metadataEnd = 0;
  const DiskResult r = MetadataEnd(*m, &metadataEnd);
  if (r != DISK_OK) return r;
  const std::uint64_t header = VhdGet64(m->footer.bytes, vhd_footer::kDataOffset);
  std::uint64_t firstData = m->nextFree / kSectorSize;
  for (std::uint32_t i = 0; i < m->blocks; ++i) {
    if (m->bat[i] == kVhdUnusedBlock) continue;
    const std::uint64_t start = VhdBlockStart(*m, i);
    const std::uint64_t end = start + m->bitmapBytes +
                              static_cast<std::uint64_t>(VhdBlockSectors(*m, i)) * kSectorSize;
    if (end > m->nextFree || (start < header + kVhdHeaderBytes && end > header)) {
      return DISK_E_FORMAT;
    }
    if (m->bat[i] < firstData) firstData = m->bat[i];
  }
  if (firstData < metadataEnd) return DISK_E_FORMAT;
  m->paddingSectors = firstData - metadataEnd >= kPaddingSectors ? kPaddingSectors : 0;
  return DISK_OK;
}

DiskResult OpenParent(VhdImage* m, std::uint32_t mode, PathBuffer* parentPath,
                      const OpenChain* chain) {
  if (m->path.IsEmpty()) return DISK_E_LIMIT;
  std::uint64_t length = 0;
  if (!StreamSize(&m->file, &length)) return DISK_E_SIZE;
  PathBuffer found;
  DiskResult r = VhdFindParent(&m->file, length, m->header, m->path.CString(), &found);
  if (r != DISK_OK) return r;
  if (parentPath != nullptr) *parentPath = found;
  // A parent link back into the chain, or a chain longer than any
  // hypervisor stacks, would open without end.
  const std::uint32_t links = chain != nullptr ? chain->links + 1 : 1;
  if (TextEquals(BufferView(found.buffer), BufferView(m->normalPath.buffer), ENC_SHIFT_JIS, true) ||
      OpenChainHolds(chain, found) || links > kVmdkMaxChainLinks) {
    return DISK_E_FORMAT;
  }
  const OpenChain link{&m->normalPath, chain, links};
  r = ImageOpenInChain(&m->parent, found.CString(), true, VHD_OPEN_CHAIN, nullptr, nullptr, &link);
  if (r == DISK_OK) {
    ImageGeometry g{};
    r = ImageGetSize(&m->parent, &g);
    // A parent of another size would hand out sectors of another disk.
    if (r == DISK_OK && g.sectors != m->sectors) r = DISK_E_FORMAT;
    if (r != DISK_OK) ImageClose(&m->parent);
  }
  if (r != DISK_OK && mode == VHD_OPEN_TOLERATE) return DISK_OK;
  return r;
}

DiskResult OpenChecked(VhdImage* m, std::uint32_t mode, PathBuffer* parentPath,
                       const OpenChain* chain) {
  std::uint64_t length = 0;
  if (!StreamSize(&m->file, &length)) return DISK_E_SIZE;
  if (length <= kMinimumLength) return DISK_E_FORMAT;
  DiskResult r = ReadFooters(m, length);
  if (r == DISK_OK) r = ReadHeader(m);
  const bool withParent = m->differencing && (mode == VHD_OPEN_CHAIN || mode == VHD_OPEN_TOLERATE);
  if (r == DISK_OK && withParent) r = CheckLocatorEntries(*m);
  if (r == DISK_OK && !AllZero(m->header.bytes + vhd_header::kReserved2, vhd_header::kReserved2Bytes)) {
    r = DISK_E_FORMAT;
  }
  if (r == DISK_OK) r = SizeTheDisk(m);
  if (r == DISK_OK) r = ReadBat(m);
  if (r == DISK_OK) r = CheckLayout(m);
  if (r == DISK_OK && withParent) r = OpenParent(m, mode, parentPath, chain);
  if (r != DISK_OK) return r;
  m->bitmap = static_cast<std::uint8_t*>(EngineAlloc(m->bitmapBytes));
  if (m->bitmap == nullptr) return DISK_E_NOMEM;
  m->cachedBlock = kVhdUnusedBlock;
  m->parentMissing = m->differencing && m->parent.kind == IMAGE_NONE;
  return DISK_OK;
}

}  // namespace

DiskResult VhdImageOpenInChain(VhdImage** image, const char* path, bool readOnly,
                               std::uint32_t mode, PathBuffer* parentPath,
                               const OpenChain* chain) {
  *image = nullptr;
  if (parentPath != nullptr) {
    BufferReset(&parentPath->buffer);
    parentPath->storage[0] = 0;
  }
  void* storage = EngineAlloc(sizeof(VhdImage));
  if (storage == nullptr) return DISK_E_NOMEM;
  OpenGuard guard{new (storage) VhdImage()};
  VhdImage* m = guard.image;
  m->readOnly = readOnly;
  if (!FsOpen(path, readOnly, &m->file)) return DISK_E_OPEN;
  if (!PathAssign(&m->path, path, ENC_SHIFT_JIS) ||
      !PathNormalize(BufferView(m->path.buffer), ENC_SHIFT_JIS, &m->normalPath)) {
    m->normalPath = m->path;
  }
  const DiskResult r = OpenChecked(m, mode, parentPath, chain);
  if (r != DISK_OK) return r;
  if (m->path.IsEmpty()) return DISK_E_LIMIT;
  *image = m;
  guard.image = nullptr;
  return DISK_OK;
}

DiskResult VhdImageOpen(VhdImage** image, const char* path, bool readOnly, std::uint32_t mode,
                        PathBuffer* parentPath) {
  return VhdImageOpenInChain(image, path, readOnly, mode, parentPath, nullptr);
}

void VhdImageClose(VhdImage* image) {
  if (image == nullptr) return;
  StreamClose(&image->file);
  ImageClose(&image->parent);
  EngineFree(image->bat);
  EngineFree(image->bitmap);
  image->~VhdImage();
  EngineFree(image);
}

VhdImage* VhdImageFromHandle(const ImageHandle* handle) {
  return handle != nullptr && handle->kind == IMAGE_VHD ? static_cast<VhdImage*>(handle->impl)
                                                        : nullptr;
}

DiskResult VhdImageGetSize(const VhdImage* image, ImageGeometry* geometry) {
  geometry->sectors = image->sectors;
  geometry->heads = image->heads;
  geometry->sectorsPerTrack = image->sectorsPerTrack;
  geometry->sectorSize = kSectorSize;
  return DISK_OK;
}

}  // namespace qvt
