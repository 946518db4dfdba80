#include "VhdBlocks.h"

#include <cstring>

#include "Heap.h"

namespace qvt {
namespace {

constexpr std::uint32_t kZeroChunk = 64 * 1024;
const std::uint8_t kZeros[kZeroChunk] = {};

}  // namespace

std::uint32_t VhdBlockSectors(const VhdImage& m, std::uint32_t block) {
  const std::uint64_t first = static_cast<std::uint64_t>(block) * m.sectorsPerBlock;
  const std::uint64_t left = m.sectors - first;
  return left < m.sectorsPerBlock ? static_cast<std::uint32_t>(left) : m.sectorsPerBlock;
}

std::uint32_t VhdBitRun(const std::uint8_t* bitmap, std::uint32_t from, std::uint32_t end) {
  const bool set = VhdBitIsSet(bitmap, from);
  std::uint32_t at = from + 1;
  while (at < end) {
    // Whole bytes of the same value go at once.
    if (at % 8 == 0 && end - at >= 8 && bitmap[at / 8] == (set ? 0xFF : 0x00)) {
      at += 8;
      continue;
    }
    if (VhdBitIsSet(bitmap, at) != set) break;
    ++at;
  }
  return at - from;
}

DiskResult VhdCacheBitmap(VhdImage* m, std::uint32_t block) {
  if (m->cachedBlock == block) return DISK_OK;
  m->cachedBlock = kVhdUnusedBlock;
  if (!StreamRead(&m->file, VhdBlockStart(*m, block), m->bitmapBytes, m->bitmap)) {
    return DISK_E_READ;
  }
  m->cachedBlock = block;
  return DISK_OK;
}

DiskResult VhdWriteBitmap(VhdImage* m, std::uint32_t block) {
  return StreamWrite(&m->file, VhdBlockStart(*m, block), m->bitmapBytes, m->bitmap)
             ? DISK_OK
             : DISK_E_WRITE;
}

bool VhdWriteZeros(FileStream* file, std::uint64_t offset, std::uint64_t bytes) {
  while (bytes > 0) {
    const std::uint32_t n = bytes < kZeroChunk ? static_cast<std::uint32_t>(bytes) : kZeroChunk;
    if (!StreamWrite(file, offset, n, kZeros)) return false;
    offset += n;
    bytes -= n;
  }
  return true;
}

bool VhdWriteTrailingFooter(VhdImage* m) {
  return StreamWrite(&m->file, m->nextFree, m->footerLength, m->footer.bytes);
}

bool VhdWriteBatEntry(VhdImage* m, std::uint32_t block) {
  std::uint8_t entry[4];
  WriteBE32(entry, m->bat[block]);
  return StreamWrite(&m->file, m->tableOffset + static_cast<std::uint64_t>(block) * 4, 4, entry);
}

DiskResult VhdWriteBat(VhdImage* m) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(m->blocks) * 4;
  HeapBlock area(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
  if (!area) return DISK_E_NOMEM;
  auto* table = static_cast<std::uint8_t*>(area.get());
  for (std::uint32_t i = 0; i < m->blocks; ++i) WriteBE32(table + 4 * static_cast<std::size_t>(i), m->bat[i]);
  if (bytes == 0) return DISK_OK;
  return StreamWrite(&m->file, m->tableOffset, static_cast<std::uint32_t>(bytes), table)
             ? DISK_OK
             : DISK_E_WRITE;
}

bool VhdIsZero(const std::uint8_t* bytes, std::uint32_t length) {
  while (length >= 8) {
    std::uint64_t v;
    std::memcpy(&v, bytes, 8);
    if (v != 0) return false;
    bytes += 8;
    length -= 8;
  }
  while (length-- > 0) {
    if (*bytes++ != 0) return false;
  }
  return true;
}

}  // namespace qvt
