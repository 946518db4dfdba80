// Sector reads and writes of an open VHD image, through its parent.
#include <cstring>

#include "VhdBlocks.h"
#include "VhdImage.h"

namespace qvt {
namespace {

// A byte range cut at block boundaries.
struct Piece {
  std::uint32_t block;
  std::uint32_t offset;  // bytes into the block
  std::uint32_t length;
};

Piece PieceAt(const VhdImage& m, std::uint64_t offset, std::uint64_t left) {
  Piece p{};
  p.block = static_cast<std::uint32_t>(offset / m.blockSize);
  p.offset = static_cast<std::uint32_t>(offset % m.blockSize);
  const std::uint64_t room = m.blockSize - p.offset;
  p.length = static_cast<std::uint32_t>(left < room ? left : room);
  return p;
}

// The parent's bytes, or zeros when there is none.
DiskResult ReadBelow(VhdImage* m, std::uint64_t offset, std::uint32_t length, std::uint8_t* out) {
  if (m->parent.kind == IMAGE_NONE) {
    std::memset(out, 0, length);
    return DISK_OK;
  }
  return ImageRead(&m->parent, offset, length, out);
}

// Within an allocated block, runs of sectors held here are read from the
// file in one transfer, and runs the file lacks from below in one.
DiskResult ReadAllocated(VhdImage* m, std::uint64_t diskOffset, const Piece& p, std::uint8_t* out) {
  const DiskResult cached = VhdCacheBitmap(m, p.block);
  if (cached != DISK_OK) return cached;
  std::uint32_t done = 0;
  while (done < p.length) {
    const std::uint32_t at = p.offset + done;
    const std::uint32_t sector = at / kSectorSize;
    const std::uint32_t lastSector = (p.offset + p.length - 1) / kSectorSize;
    const std::uint32_t run = VhdBitRun(m->bitmap, sector, lastSector + 1);
    const std::uint32_t runEnd = (sector + run) * kSectorSize;
    const std::uint32_t end = runEnd < p.offset + p.length ? runEnd : p.offset + p.length;
    const std::uint32_t n = end - at;
    if (VhdBitIsSet(m->bitmap, sector)) {
      if (!StreamRead(&m->file, VhdBlockData(*m, p.block) + at, n, out + done)) return DISK_E_READ;
    } else {
      const DiskResult r = ReadBelow(m, diskOffset + done, n, out + done);
      if (r != DISK_OK) return r;
    }
    done += n;
  }
  return DISK_OK;
}

// The sector at disk sector `sector` as the parent (or zeros) has it, with
// `length` bytes of `data` laid over it at `at`.
DiskResult MergedSector(VhdImage* m, std::uint64_t sector, std::uint32_t at, std::uint32_t length,
                        const std::uint8_t* data, std::uint8_t out[kSectorSize]) {
  const DiskResult r = ReadBelow(m, sector * kSectorSize, kSectorSize, out);
  if (r != DISK_OK) return r;
  std::memcpy(out + at, data, length);
  return DISK_OK;
}

// In place. A sector the block lacks and the piece covers only in part is
// completed from the parent first, so that setting its bit never turns the
// parent's bytes of that sector into zeros or stale file content.
DiskResult WriteAllocated(VhdImage* m, const Piece& p, std::uint64_t blockDisk,
                          const std::uint8_t* data) {
  DiskResult r = VhdCacheBitmap(m, p.block);
  if (r != DISK_OK) return r;
  const std::uint32_t first = p.offset / kSectorSize;
  const std::uint32_t last = (p.offset + p.length - 1) / kSectorSize;
  const std::uint64_t base = VhdBlockData(*m, p.block);
  std::uint32_t from = p.offset;
  std::uint32_t to = p.offset + p.length;
  std::uint8_t sector[kSectorSize];
  if (p.offset % kSectorSize != 0 && !VhdBitIsSet(m->bitmap, first)) {
    const std::uint32_t at = p.offset % kSectorSize;
    const std::uint32_t n = p.length < kSectorSize - at ? p.length : kSectorSize - at;
    r = MergedSector(m, blockDisk / kSectorSize + first, at, n, data, sector);
    if (r != DISK_OK) return r;
    if (!StreamWrite(&m->file, base + first * kSectorSize, kSectorSize, sector)) return DISK_E_WRITE;
    from = (first + 1) * kSectorSize;
  }
  if (to % kSectorSize != 0 && from < to && !VhdBitIsSet(m->bitmap, last) && last * kSectorSize >= from) {
    const std::uint32_t n = to - last * kSectorSize;
    r = MergedSector(m, blockDisk / kSectorSize + last, 0, n, data + (last * kSectorSize - p.offset),
                     sector);
    if (r != DISK_OK) return r;
    if (!StreamWrite(&m->file, base + last * kSectorSize, kSectorSize, sector)) return DISK_E_WRITE;
    to = last * kSectorSize;
  }
  if (from < to && !StreamWrite(&m->file, base + from, to - from, data + (from - p.offset))) {
    return DISK_E_WRITE;
  }
  for (std::uint32_t s = first; s <= last; ++s) VhdSetBit(m->bitmap, s);
  return VhdWriteBitmap(m, p.block);
}

// A new block at the next free offset: bitmap, the block's sectors (the
// piece's, with the parent's bytes around it in its first and last sectors,
// zeros elsewhere), the bitmap with the touched bits, the BAT entry, the
// padding and the footer behind it all.
DiskResult AppendBlockAt(VhdImage* m, const Piece& p, std::uint64_t blockDisk,
                         const std::uint8_t* data) {
  const std::uint32_t block = p.block;
  const std::uint64_t start = m->nextFree;
  std::memset(m->bitmap, 0, m->bitmapBytes);
  m->cachedBlock = block;
  m->bat[block] = static_cast<std::uint32_t>(start / kSectorSize);
  const std::uint64_t base = start + m->bitmapBytes;
  const std::uint32_t first = p.offset / kSectorSize;
  const std::uint32_t last = (p.offset + p.length - 1) / kSectorSize;
  std::uint8_t sector[kSectorSize];
  if (!VhdWriteZeros(&m->file, start, m->bitmapBytes + static_cast<std::uint64_t>(first) * kSectorSize)) {
    return DISK_E_GRAIN_WRITE;
  }
  std::uint32_t from = p.offset;
  const std::uint32_t end = p.offset + p.length;
  if (from % kSectorSize != 0 || end < (first + 1) * kSectorSize) {
    const std::uint32_t at = from % kSectorSize;
    const std::uint32_t n = end - from < kSectorSize - at ? end - from : kSectorSize - at;
    const DiskResult r = MergedSector(m, blockDisk / kSectorSize + first, at, n, data, sector);
    if (r != DISK_OK) return r;
    if (!StreamWrite(&m->file, base + first * kSectorSize, kSectorSize, sector)) return DISK_E_GRAIN_WRITE;
    from = (first + 1) * kSectorSize;
  }
  const std::uint32_t wholeEnd = end / kSectorSize * kSectorSize;
  if (from < wholeEnd &&
      !StreamWrite(&m->file, base + from, wholeEnd - from, data + (from - p.offset))) {
    return DISK_E_GRAIN_WRITE;
  }
  if (wholeEnd < end && wholeEnd >= from) {
    const DiskResult r = MergedSector(m, blockDisk / kSectorSize + last, 0, end - wholeEnd,
                                      data + (wholeEnd - p.offset), sector);
    if (r != DISK_OK) return r;
    if (!StreamWrite(&m->file, base + wholeEnd, kSectorSize, sector)) return DISK_E_GRAIN_WRITE;
  }
  for (std::uint32_t s = first; s <= last; ++s) VhdSetBit(m->bitmap, s);
  const std::uint64_t tail = static_cast<std::uint64_t>(m->sectorsPerBlock - last - 1) * kSectorSize;
  const std::uint64_t blockEnd = base + static_cast<std::uint64_t>(m->sectorsPerBlock) * kSectorSize;
  if (!VhdWriteZeros(&m->file, blockEnd - tail, tail) || VhdWriteBitmap(m, block) != DISK_OK ||
      !VhdWriteBatEntry(m, block) ||
      !VhdWriteZeros(&m->file, blockEnd, static_cast<std::uint64_t>(m->paddingSectors) * kSectorSize)) {
    return DISK_E_GRAIN_WRITE;
  }
  m->nextFree = blockEnd + static_cast<std::uint64_t>(m->paddingSectors) * kSectorSize;
  return VhdWriteTrailingFooter(m) ? DISK_OK : DISK_E_GRAIN_WRITE;
}

// A failed append leaves the block unallocated in memory, so that nothing
// reads from or writes into the half-written area.
DiskResult AppendBlock(VhdImage* m, const Piece& p, std::uint64_t blockDisk,
                       const std::uint8_t* data) {
  const DiskResult r = AppendBlockAt(m, p, blockDisk, data);
  if (r != DISK_OK) {
    m->bat[p.block] = kVhdUnusedBlock;
    m->cachedBlock = kVhdUnusedBlock;
  }
  return r;
}

}  // namespace

DiskResult VhdImageRead(VhdImage* m, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!ImageRangeFits(offset, length, m->sectors)) return DISK_E_LIMIT;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  while (done < length) {
    const Piece p = PieceAt(*m, offset + done, length - done);
    const DiskResult r = m->bat[p.block] == kVhdUnusedBlock
                             ? ReadBelow(m, offset + done, p.length, out + done)
                             : ReadAllocated(m, offset + done, p, out + done);
    if (r != DISK_OK) return r;
    done += p.length;
  }
  return DISK_OK;
}

DiskResult VhdImageWrite(VhdImage* m, std::uint64_t offset, std::uint32_t length,
                         const void* data) {
  if (!ImageRangeFits(offset, length, m->sectors)) return DISK_E_LIMIT;
  if (m->readOnly || m->parentMissing) return DISK_E_LIMIT;
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::uint32_t done = 0;
  while (done < length) {
    const Piece p = PieceAt(*m, offset + done, length - done);
    const std::uint64_t blockDisk = static_cast<std::uint64_t>(p.block) * m->blockSize;
    const DiskResult r = m->bat[p.block] == kVhdUnusedBlock
                             ? AppendBlock(m, p, blockDisk, in + done)
                             : WriteAllocated(m, p, blockDisk, in + done);
    if (r != DISK_OK) return r;
    done += p.length;
  }
  return DISK_OK;
}

}  // namespace qvt
