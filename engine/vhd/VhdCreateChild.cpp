// A new differencing child over a VHD parent: the parent's footer and
// header made over, an empty BAT, and the four locators naming the parent.
#include <cstring>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Guid.h"
#include "Heap.h"
#include "ImageOpen.h"
#include "VhdBlocks.h"
#include "VhdImage.h"
#include "VhdLocators.h"
#include "VhdTime.h"

namespace qvt {
namespace {

constexpr std::uint64_t kChildHeaderAt = 512;
constexpr std::uint64_t kChildTableAt = 1536;
constexpr std::uint32_t kMaxRelativeBytes = 4095;

struct ParentFacts {
  VhdFooter footer{};
  VhdHeader header{};
  std::uint32_t footerLength = 0;
  std::uint32_t blocks = 0;
  std::uint64_t fileLength = 0;
};

DiskResult ReadParent(const char* parentPath, ParentFacts* facts) {
  ImageHandle image = NoImage();
  DiskResult r = ImageOpen(&image, parentPath, true, VHD_OPEN_CHAIN, nullptr, nullptr);
  if (r != DISK_OK) return r;
  VhdImage* p = VhdImageFromHandle(&image);
  if (p == nullptr) r = DISK_E_FORMAT;
  if (r == DISK_OK) {
    facts->footerLength = p->footerLength;
    facts->blocks = p->blocks;
    const std::uint64_t at = VhdGet64(p->footer.bytes, vhd_footer::kDataOffset);
    if (!StreamRead(&p->file, 0, kVhdFooterBytes, facts->footer.bytes) ||
        !StreamRead(&p->file, at, kVhdHeaderBytes, facts->header.bytes)) {
      r = DISK_E_READ;
    } else if (!StreamSize(&p->file, &facts->fileLength)) {
      r = DISK_E_SIZE;
    }
  }
  ImageClose(&image);
  return r;
}

// The child's table must hold every block of the disk, and a parent's
// claim of more entries than its file could hold is not taken on trust.
DiskResult TableEntries(const ParentFacts& p, std::uint32_t* entries) {
  const std::uint32_t max = VhdGet32(p.header.bytes, vhd_header::kMaxTableEntries);
  const std::uint64_t bound = p.fileLength / 4 > p.blocks ? p.fileLength / 4 : p.blocks;
  if (max < p.blocks || max > bound) return DISK_E_FORMAT;
  *entries = max;
  return DISK_OK;
}

DiskResult MakeHeaderAndFooter(const char* parentPath, ParentFacts* p) {
  std::uint8_t* h = p->header.bytes;
  std::uint8_t* f = p->footer.bytes;
  std::uint32_t stamp = 0;
  if (!VhdParentTimeStamp(parentPath, &stamp)) return DISK_E_FORMAT;
  VhdPut32(h, vhd_header::kChecksum, 0);
  std::memcpy(h + vhd_header::kParentUniqueId, f + vhd_footer::kUniqueId, 16);
  VhdPut32(h, vhd_header::kParentTimeStamp, stamp);
  std::memset(h + vhd_header::kParentName, 0, vhd_header::kParentNameBytes);
  std::memset(h + vhd_header::kLocators, 0, kVhdLocatorCount * kVhdLocatorBytes);
  VhdPut64(h, vhd_header::kTableOffset, kChildTableAt);

  std::uint8_t id[16];
  if (!platform::CreateGuid(id)) return DISK_E_FORMAT;
  VhdPut64(f, vhd_footer::kDataOffset, kChildHeaderAt);
  VhdPut32(f, vhd_footer::kTimeStamp, VhdFooterTimeNow());
  VhdPut32(f, vhd_footer::kDiskType, VHD_DIFFERENCING);
  std::memcpy(f + vhd_footer::kUniqueId, id, 16);
  VhdFooterSeal(&p->footer, p->footerLength);
  return DISK_OK;
}

// The locator data in file order, with the entry each goes to.
struct LocatorData {
  std::uint32_t code;
  std::uint32_t entry;
  const std::uint8_t* data;
  std::uint32_t length;
};

struct PathScratch {
  HeapBlock area{5 * 4096};
  ByteBuffer relative{}, absolute{}, relativeWide{}, absoluteWide{};
  bool hasRelative = false;
};

DiskResult BuildPaths(const char* parentPath, const char* childPath, PathScratch* s) {
  if (!s->area) return DISK_E_NOMEM;
  auto* base = static_cast<std::uint8_t*>(s->area.get());
  BufferInit(&s->relative, base, 4096);
  BufferInit(&s->absolute, base + 4096, 4096);
  BufferInit(&s->relativeWide, base + 2 * 4096, 4096);
  BufferInit(&s->absoluteWide, base + 3 * 4096, 8192);
  PathBuffer relative;
  const DiskResult r = VhdChildRelative(childPath, parentPath, &relative, &s->hasRelative);
  if (r != DISK_OK) return r;
  if (s->hasRelative && (!BufferAppendView(&s->relative, BufferView(relative.buffer)) ||
                         s->relative.length > kMaxRelativeBytes ||
                         !VhdWideLocator(BufferView(s->relative), &s->relativeWide))) {
    return DISK_E_LIMIT;
  }
  const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(parentPath));
  if (!BufferAppend(&s->absolute, parentPath, length) ||
      !VhdWideLocator(BufferView(s->absolute), &s->absoluteWide)) {
    return DISK_E_LIMIT;
  }
  return DISK_OK;
}

std::uint32_t Padded(std::uint32_t length) {
  return (length + kSectorSize - 1) / kSectorSize * kSectorSize;
}

DiskResult WriteLocators(FileStream* file, const PathScratch& s, VhdHeader* header,
                         std::uint64_t* at) {
  const LocatorData all[] = {
      {VHD_PLATFORM_WI2R, 3, s.relative.data, s.relative.length},
      {VHD_PLATFORM_WI2K, 2, s.absolute.data, s.absolute.length},
      {VHD_PLATFORM_W2RU, 1, s.relativeWide.data, s.relativeWide.length},
      {VHD_PLATFORM_W2KU, 0, s.absoluteWide.data, s.absoluteWide.length},
  };
  for (const LocatorData& d : all) {
    const bool relative = d.code == VHD_PLATFORM_WI2R || d.code == VHD_PLATFORM_W2RU;
    if (relative && !s.hasRelative) continue;
    const std::uint32_t space = Padded(d.length);
    if (!StreamWrite(file, *at, d.length, d.data) ||
        !VhdWriteZeros(file, *at + d.length, space - d.length)) {
      return DISK_E_WRITE;
    }
    VhdHeaderSetLocator(header, d.entry, VhdLocator{d.code, space, d.length, 0, *at});
    *at += space;
  }
  return DISK_OK;
}

}  // namespace

DiskResult VhdCreateChild(const char* parentPath, const char* childPath) {
  ParentFacts p;
  DiskResult r = ReadParent(parentPath, &p);
  if (r != DISK_OK) return r;
  std::uint32_t entries = 0;
  r = TableEntries(p, &entries);
  if (r == DISK_OK) r = MakeHeaderAndFooter(parentPath, &p);
  if (r != DISK_OK) return r;
  const std::uint32_t tableBytes = Padded(entries * 4);
  HeapBlock tableArea(tableBytes == 0 ? 1 : tableBytes);
  if (!tableArea) return DISK_E_NOMEM;
  auto* table = static_cast<std::uint8_t*>(tableArea.get());
  std::memset(table, 0, tableBytes);
  std::memset(table, 0xFF, static_cast<std::size_t>(entries) * 4);

  FileStream file{};
  if (!FsCreate(childPath, &file)) return DISK_E_CREATE;
  StreamGuard closeFile(&file);
  if (!StreamWrite(&file, 0, kVhdFooterBytes, p.footer.bytes) ||
      !StreamWrite(&file, kChildHeaderAt, kVhdHeaderBytes, p.header.bytes) ||
      (tableBytes > 0 && !StreamWrite(&file, kChildTableAt, tableBytes, table)) ||
      !VhdWriteZeros(&file, kChildTableAt + tableBytes, kSectorSize)) {
    return DISK_E_WRITE;
  }
  PathScratch scratch;
  r = BuildPaths(parentPath, childPath, &scratch);
  std::uint64_t at = kChildTableAt + tableBytes + kSectorSize;
  if (r == DISK_OK) r = WriteLocators(&file, scratch, &p.header, &at);
  if (r != DISK_OK) return r;
  if (!VhdSetParentName(&p.header, parentPath)) return DISK_E_LIMIT;
  VhdHeaderSeal(&p.header);
  if (!StreamWrite(&file, kChildHeaderAt, kVhdHeaderBytes, p.header.bytes) ||
      !StreamWrite(&file, at, p.footerLength, p.footer.bytes)) {
    return DISK_E_WRITE;
  }
  return DISK_OK;
}

DiskResult VhdParentOf(const char* path, PathBuffer* parentPath) {
  VhdImage* image = nullptr;
  const DiskResult r = VhdImageOpen(&image, path, true, VHD_OPEN_CHAIN, parentPath);
  VhdImageClose(image);
  return r;
}

}  // namespace qvt
