// Folding a parent's own sectors into a working copy of its child, and
// pointing the copy at the grandparent: what deleting a middle node of a
// chain does. The child and the parent are only read.
#include <cstring>

#include "EnginePath.h"
#include "VhdBlocks.h"
#include "VhdFold.h"
#include "VhdLocators.h"
#include "VmdkImagePath.h"

namespace qvt {
namespace {

struct FoldImages {
  VhdImage* copy = nullptr;
  VhdImage* parent = nullptr;
  ~FoldImages() {
    VhdImageClose(copy);
    VhdImageClose(parent);
  }
};

TextView CView(const char* text) {
  return MakeView(text, static_cast<std::uint32_t>(std::strlen(text)));
}

// Reads the parent's held runs of block `block` into `out` at their places.
DiskResult ReadHeldRuns(VhdImage* b, std::uint32_t block, std::uint32_t n, std::uint8_t* out) {
  for (std::uint32_t s = 0; s < n;) {
    const std::uint32_t run = VhdBitRun(b->bitmap, s, n);
    const std::uint64_t at = VhdBlockData(*b, block) + static_cast<std::uint64_t>(s) * kSectorSize;
    if (VhdBitIsSet(b->bitmap, s)) {
      if (!StreamRead(&b->file, at, run * kSectorSize, out + static_cast<std::size_t>(s) * kSectorSize)) {
        return DISK_E_READ;
      }
    } else {
      std::memset(out + static_cast<std::size_t>(s) * kSectorSize, 0, static_cast<std::size_t>(run) * kSectorSize);
    }
    s += run;
  }
  return DISK_OK;
}

// A block the child lacks: the parent's sectors where it holds them, zeros
// with clear bits elsewhere.
DiskResult FoldMissingBlock(VhdImage* copy, VhdImage* b, std::uint32_t block, std::uint32_t n,
                            VhdBlockBuffer* buffer) {
  DiskResult r = VhdCacheBitmap(b, block);
  if (r != DISK_OK) return r;
  if (!VhdBitIsSet(b->bitmap, 0) && VhdBitRun(b->bitmap, 0, n) == n) return DISK_OK;
  r = ReadHeldRuns(b, block, n, buffer->data);
  if (r != DISK_OK) return r;
  std::memset(buffer->bitmap, 0, copy->bitmapBytes);
  for (std::uint32_t s = 0; s < n; ++s) {
    if (VhdBitIsSet(b->bitmap, s)) VhdSetBit(buffer->bitmap, s);
  }
  return VhdAppendFoldedBlock(copy, block, n, *buffer);
}

// A block the child has: the sectors it lacks and the parent holds go in
// place; the child's own sectors are never overwritten.
DiskResult FoldIntoBlock(VhdImage* copy, VhdImage* b, std::uint32_t block, std::uint32_t n,
                         VhdBlockBuffer* buffer) {
  DiskResult r = VhdCacheBitmap(copy, block);
  if (r != DISK_OK) return r;
  if (b->bat[block] != kVhdUnusedBlock) {
    r = VhdCacheBitmap(b, block);
    if (r != DISK_OK) return r;
    for (std::uint32_t s = 0; s < n;) {
      if (VhdBitIsSet(copy->bitmap, s) || !VhdBitIsSet(b->bitmap, s)) {
        ++s;
        continue;
      }
      std::uint32_t end = s + 1;
      while (end < n && !VhdBitIsSet(copy->bitmap, end) && VhdBitIsSet(b->bitmap, end)) ++end;
      const std::uint32_t bytes = (end - s) * kSectorSize;
      const std::uint64_t offset = static_cast<std::uint64_t>(s) * kSectorSize;
      if (!StreamRead(&b->file, VhdBlockData(*b, block) + offset, bytes, buffer->data)) {
        return DISK_E_READ;
      }
      if (!StreamWrite(&copy->file, VhdBlockData(*copy, block) + offset, bytes, buffer->data)) {
        return DISK_E_WRITE;
      }
      for (std::uint32_t j = s; j < end; ++j) VhdSetBit(copy->bitmap, j);
      s = end;
    }
  }
  return VhdWriteBitmap(copy, block);
}

DiskResult FoldBlocks(VhdImage* copy, VhdImage* b) {
  VhdBlockBuffer buffer;
  DiskResult r = VhdBlockBufferInit(&buffer, *copy);
  for (std::uint32_t i = 0; r == DISK_OK && i < copy->blocks; ++i) {
    const std::uint32_t n = VhdBlockSectors(*copy, i);
    if (copy->bat[i] != kVhdUnusedBlock) {
      r = FoldIntoBlock(copy, b, i, n, &buffer);
    } else if (b->bat[i] != kVhdUnusedBlock) {
      r = FoldMissingBlock(copy, b, i, n, &buffer);
    }
  }
  return r;
}

// The relative path from the child's folder to the grandparent, ".\"-led
// when it does not start with a period; false when there is none.
bool GrandparentRelative(const char* child, const char* grandparent, PathBuffer* out) {
  PathBuffer relative;
  if (!VhdRelativePath(child, grandparent, &relative)) return false;
  BufferReset(&out->buffer);
  const TextView r = BufferView(relative.buffer);
  if (r.length > 0 && r.data[0] != '.' && !BufferAppend(&out->buffer, ".\\", 2)) return false;
  return BufferAppendView(&out->buffer, r) && BufferTerminate(&out->buffer, ENC_SHIFT_JIS);
}

DiskResult RewriteLocator(VhdImage* copy, std::uint32_t index, const PathBuffer& relative,
                          bool hasRelative, const PathBuffer& absolute) {
  VhdLocator l = VhdHeaderLocator(copy->header, index);
  const bool wide = l.code == VHD_PLATFORM_W2RU || l.code == VHD_PLATFORM_W2KU;
  const bool isRelative = l.code == VHD_PLATFORM_W2RU || l.code == VHD_PLATFORM_WI2R;
  if (!wide && l.code != VHD_PLATFORM_WI2K && l.code != VHD_PLATFORM_WI2R) return DISK_OK;
  if (l.dataSpace > kVhdMaxLocatorData) return DISK_OK;
  if (!VhdLocatorAreaIsClear(*copy, l)) return DISK_E_FORMAT;
  std::uint8_t wideArea[2 * kPathBufferSize];
  ByteBuffer data;
  const PathBuffer& path = isRelative ? relative : absolute;
  if (wide) {
    BufferInit(&data, wideArea, sizeof wideArea);
    if (!VhdWideLocator(BufferView(path.buffer), &data)) return DISK_E_FORMAT;
  } else {
    data = path.buffer;
  }
  if (!VhdWriteZeros(&copy->file, l.dataOffset, l.dataSpace)) return DISK_E_WRITE;
  if (isRelative && !hasRelative) {
    VhdHeaderSetLocator(&copy->header, index, VhdLocator{});
    return DISK_OK;
  }
  if (data.length > l.dataSpace) return DISK_E_LIMIT;
  if (!StreamWrite(&copy->file, l.dataOffset, data.length, data.data)) return DISK_E_WRITE;
  l.dataLength = data.length;
  VhdHeaderSetLocator(&copy->header, index, l);
  return DISK_OK;
}

DiskResult Repoint(VhdImage* copy, VhdImage* b, const char* childPath, const char* parentPath) {
  std::uint64_t length = 0;
  if (!StreamSize(&b->file, &length)) return DISK_E_SIZE;
  PathBuffer grandparent;
  DiskResult r = VhdFindParent(&b->file, length, b->header, parentPath, &grandparent);
  if (r != DISK_OK) return r;
  if (!VmdkNameIsWellFormed(CView(childPath)) ||
      !VmdkNameIsWellFormed(BufferView(grandparent.buffer))) {
    return DISK_E_FORMAT;
  }
  PathBuffer relative;
  const bool hasRelative = GrandparentRelative(childPath, grandparent.CString(), &relative);
  for (std::uint32_t i = 0; i < kVhdLocatorCount; ++i) {
    r = RewriteLocator(copy, i, relative, hasRelative, grandparent);
    if (r != DISK_OK) return r;
  }
  std::uint8_t* h = copy->header.bytes;
  const std::uint8_t* from = b->header.bytes;
  std::memcpy(h + vhd_header::kParentUniqueId, from + vhd_header::kParentUniqueId, 16);
  std::memcpy(h + vhd_header::kParentTimeStamp, from + vhd_header::kParentTimeStamp, 4);
  std::memcpy(h + vhd_header::kParentName, from + vhd_header::kParentName,
              vhd_header::kParentNameBytes);
  VhdHeaderSeal(&copy->header);
  const std::uint64_t at = VhdGet64(copy->footer.bytes, vhd_footer::kDataOffset);
  if (!StreamWrite(&copy->file, at, kVhdHeaderBytes, copy->header.bytes) ||
      !VhdWriteTrailingFooter(copy)) {
    return DISK_E_WRITE;
  }
  return DISK_OK;
}

}  // namespace

DiskResult VhdFoldParent(const char* childPath, const char* parentPath, ReplaceEntry* entry) {
  DiskResult r = VhdMakeWorkingCopy(childPath, entry);
  if (r != DISK_OK) return r;
  FoldImages images;
  r = VhdImageOpen(&images.copy, entry->temp.CString(), false, VHD_OPEN_ALONE, nullptr);
  if (r != DISK_OK) return r;
  // The parent is only read: opened for reading, it cannot be changed by
  // any path of the fold.
  r = VhdImageOpen(&images.parent, parentPath, true, VHD_OPEN_ALONE, nullptr);
  if (r != DISK_OK) return r;
  if (!images.copy->differencing || !images.parent->differencing ||
      images.copy->sectors != images.parent->sectors) {
    return DISK_E_FORMAT;
  }
  r = FoldBlocks(images.copy, images.parent);
  if (r == DISK_OK) r = VhdWriteBat(images.copy);
  if (r == DISK_OK) r = Repoint(images.copy, images.parent, childPath, parentPath);
  return r;
}

}  // namespace qvt
