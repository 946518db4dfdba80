// Folding everything a child sees through its parent chain into a working
// copy of the child, which becomes a dynamic image of its own: what
// deleting the root node does. The child and the chain are only read.
#include <cstring>

#include "Heap.h"
#include "ImageOpen.h"
#include "VhdBlocks.h"
#include "VhdFold.h"

namespace qvt {
namespace {

struct ChainImages {
  VhdImage* copy = nullptr;
  ImageHandle parent = NoImage();
  ~ChainImages() {
    VhdImageClose(copy);
    ImageClose(&parent);
  }
};

// Marks in `keep` (one flag per sector of [first, first + n)) the sectors
// the chain does not answer as free, given their content in `data`. A
// sector with any non-zero byte is held somewhere; zero runs are asked at
// once and only split up when the chain says they are in use.
DiskResult HeldByChain(ImageHandle* p, std::uint32_t first, std::uint32_t n,
                       const std::uint8_t* data, bool* keep) {
  for (std::uint32_t s = 0; s < n;) {
    if (!VhdIsZero(data + static_cast<std::size_t>(s) * kSectorSize, kSectorSize)) {
      keep[s++] = true;
      continue;
    }
    std::uint32_t end = s + 1;
    while (end < n && VhdIsZero(data + static_cast<std::size_t>(end) * kSectorSize, kSectorSize)) ++end;
    bool free = false;
    DiskResult r = ImageIsRangeEmpty(p, nullptr, first + s, end - s, &free);
    if (r != DISK_OK) return r;
    for (std::uint32_t j = s; j < end; ++j) {
      keep[j] = false;
      if (free) continue;
      bool one = false;
      r = ImageIsRangeEmpty(p, nullptr, first + j, 1, &one);
      if (r != DISK_OK) return r;
      keep[j] = !one;
    }
    s = end;
  }
  return DISK_OK;
}

DiskResult FoldMissingBlock(VhdImage* copy, ImageHandle* p, std::uint32_t block, std::uint32_t n,
                            VhdBlockBuffer* buffer, bool* keep) {
  const std::uint32_t first = block * copy->sectorsPerBlock;
  bool free = false;
  DiskResult r = ImageIsRangeEmpty(p, nullptr, first, n, &free);
  if (r != DISK_OK || free) return r;
  r = ImageRead(p, static_cast<std::uint64_t>(first) * kSectorSize, n * kSectorSize, buffer->data);
  if (r == DISK_OK) r = HeldByChain(p, first, n, buffer->data, keep);
  if (r != DISK_OK) return r;
  std::memset(buffer->bitmap, 0, copy->bitmapBytes);
  for (std::uint32_t s = 0; s < n; ++s) {
    if (keep[s]) {
      VhdSetBit(buffer->bitmap, s);
    } else {
      std::memset(buffer->data + static_cast<std::size_t>(s) * kSectorSize, 0, kSectorSize);
    }
  }
  return VhdAppendFoldedBlock(copy, block, n, *buffer);
}

// Writes the kept sectors of [from, end) in place, in runs.
DiskResult WriteKept(VhdImage* copy, std::uint32_t block, std::uint32_t from, std::uint32_t end,
                     const std::uint8_t* data, const bool* keep) {
  for (std::uint32_t s = from; s < end;) {
    if (!keep[s - from]) {
      ++s;
      continue;
    }
    std::uint32_t stop = s + 1;
    while (stop < end && keep[stop - from]) ++stop;
    const std::uint64_t at = VhdBlockData(*copy, block) + static_cast<std::uint64_t>(s) * kSectorSize;
    if (!StreamWrite(&copy->file, at, (stop - s) * kSectorSize,
                     data + static_cast<std::size_t>(s - from) * kSectorSize)) {
      return DISK_E_WRITE;
    }
    for (std::uint32_t j = s; j < stop; ++j) VhdSetBit(copy->bitmap, j);
    s = stop;
  }
  return DISK_OK;
}

DiskResult FoldIntoBlock(VhdImage* copy, ImageHandle* p, std::uint32_t block, std::uint32_t n,
                         VhdBlockBuffer* buffer, bool* keep) {
  DiskResult r = VhdCacheBitmap(copy, block);
  const std::uint32_t first = block * copy->sectorsPerBlock;
  for (std::uint32_t s = 0; r == DISK_OK && s < n;) {
    const std::uint32_t run = VhdBitRun(copy->bitmap, s, n);
    if (!VhdBitIsSet(copy->bitmap, s)) {
      r = ImageRead(p, static_cast<std::uint64_t>(first + s) * kSectorSize, run * kSectorSize,
                    buffer->data);
      if (r == DISK_OK) r = HeldByChain(p, first + s, run, buffer->data, keep);
      if (r == DISK_OK) r = WriteKept(copy, block, s, s + run, buffer->data, keep);
    }
    s += run;
  }
  return r == DISK_OK ? VhdWriteBitmap(copy, block) : r;
}

DiskResult FoldBlocks(VhdImage* copy, ImageHandle* p) {
  VhdBlockBuffer buffer;
  DiskResult r = VhdBlockBufferInit(&buffer, *copy);
  bool* keep = static_cast<bool*>(EngineAlloc(copy->sectorsPerBlock * sizeof(bool)));
  if (keep == nullptr && r == DISK_OK) r = DISK_E_NOMEM;
  for (std::uint32_t i = 0; r == DISK_OK && i < copy->blocks; ++i) {
    const std::uint32_t n = VhdBlockSectors(*copy, i);
    r = copy->bat[i] != kVhdUnusedBlock ? FoldIntoBlock(copy, p, i, n, &buffer, keep)
                                        : FoldMissingBlock(copy, p, i, n, &buffer, keep);
  }
  EngineFree(keep);
  return r;
}

// The copy no longer names a parent: its locator data is cleared and the
// footer and header say dynamic.
DiskResult MakeDynamic(VhdImage* copy) {
  for (std::uint32_t i = 0; i < kVhdLocatorCount; ++i) {
    const VhdLocator l = VhdHeaderLocator(copy->header, i);
    if (l.code == VHD_PLATFORM_NONE || l.dataSpace > kVhdMaxLocatorData) continue;
    if (l.dataOffset > copy->nextFree || l.dataSpace > copy->nextFree - l.dataOffset) continue;
    if (!VhdLocatorAreaIsClear(*copy, l)) return DISK_E_FORMAT;
    if (!VhdWriteZeros(&copy->file, l.dataOffset, l.dataSpace)) return DISK_E_WRITE;
  }
  VhdPut32(copy->footer.bytes, vhd_footer::kDiskType, VHD_DYNAMIC);
  VhdFooterSeal(&copy->footer, copy->footerLength);
  std::uint8_t* h = copy->header.bytes;
  std::memset(h + vhd_header::kParentUniqueId, 0, 16);
  VhdPut32(h, vhd_header::kParentTimeStamp, 0);
  std::memset(h + vhd_header::kParentName, 0, vhd_header::kParentNameBytes);
  std::memset(h + vhd_header::kLocators, 0, kVhdLocatorCount * kVhdLocatorBytes);
  VhdHeaderSeal(&copy->header);
  const std::uint64_t at = VhdGet64(copy->footer.bytes, vhd_footer::kDataOffset);
  if (!StreamWrite(&copy->file, at, kVhdHeaderBytes, h) ||
      !StreamWrite(&copy->file, 0, copy->footerLength, copy->footer.bytes) ||
      !VhdWriteTrailingFooter(copy)) {
    return DISK_E_WRITE;
  }
  copy->differencing = false;
  return DISK_OK;
}

}  // namespace

DiskResult VhdFoldChain(const char* childPath, const char* parentPath, ReplaceEntry* entry) {
  DiskResult r = VhdMakeWorkingCopy(childPath, entry);
  if (r != DISK_OK) return r;
  ChainImages images;
  r = VhdImageOpen(&images.copy, entry->temp.CString(), false, VHD_OPEN_ALONE, nullptr);
  if (r != DISK_OK) return r;
  if (!images.copy->differencing) return DISK_E_FORMAT;
  r = ImageOpen(&images.parent, parentPath, true, VHD_OPEN_CHAIN, nullptr, nullptr);
  if (r != DISK_OK) return r;
  const VhdImage* p = VhdImageFromHandle(&images.parent);
  if (p == nullptr || p->sectors != images.copy->sectors) return DISK_E_FORMAT;
  r = FoldBlocks(images.copy, &images.parent);
  ImageClose(&images.parent);
  if (r == DISK_OK) r = VhdWriteBat(images.copy);
  if (r == DISK_OK) r = MakeDynamic(images.copy);
  return r;
}

}  // namespace qvt
