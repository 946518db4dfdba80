#include <cstring>

#include "FileLayer.h"
#include "Heap.h"
#include "VhdBlocks.h"
#include "VhdFold.h"

namespace qvt {

DiskResult VhdMakeWorkingCopy(const char* imagePath, ReplaceEntry* entry) {
  ReplaceEntry made;
  const DiskResult r = ReplaceEntrySet(&made, imagePath);
  if (r != DISK_OK) return r;
  if (FsCopyWithProgress(imagePath, made.temp.CString(), nullptr, nullptr) != kFsCopyDone) {
    return DISK_E_CREATE;
  }
  *entry = made;
  return DISK_OK;
}

bool VhdLocatorAreaIsClear(const VhdImage& m, const VhdLocator& l) {
  const std::uint64_t start = l.dataOffset;
  const std::uint64_t end = start + l.dataSpace;
  auto overlaps = [&](std::uint64_t a, std::uint64_t b) { return start < b && end > a; };
  const std::uint64_t header = VhdGet64(m.footer.bytes, vhd_footer::kDataOffset);
  const std::uint64_t table = m.tableOffset + static_cast<std::uint64_t>(m.blocks) * 4;
  std::uint64_t firstBlock = m.nextFree;
  for (std::uint32_t i = 0; i < m.blocks; ++i) {
    if (m.bat[i] != kVhdUnusedBlock && VhdBlockStart(m, i) < firstBlock) firstBlock = VhdBlockStart(m, i);
  }
  return start >= kVhdFooterBytes && end <= firstBlock && !overlaps(header, header + kVhdHeaderBytes) &&
         !overlaps(m.tableOffset, table);
}

VhdBlockBuffer::~VhdBlockBuffer() {
  EngineFree(bitmap);
  EngineFree(data);
}

DiskResult VhdBlockBufferInit(VhdBlockBuffer* b, const VhdImage& m) {
  b->bitmap = static_cast<std::uint8_t*>(EngineAlloc(m.bitmapBytes));
  b->data = static_cast<std::uint8_t*>(EngineAlloc(m.blockSize));
  return b->bitmap != nullptr && b->data != nullptr ? DISK_OK : DISK_E_NOMEM;
}

DiskResult VhdAppendFoldedBlock(VhdImage* m, std::uint32_t block, std::uint32_t sectors,
                                const VhdBlockBuffer& b) {
  const std::uint64_t at = m->nextFree;
  if (!StreamWrite(&m->file, at, m->bitmapBytes, b.bitmap) ||
      !StreamWrite(&m->file, at + m->bitmapBytes, sectors * kSectorSize, b.data)) {
    return DISK_E_WRITE;
  }
  m->bat[block] = static_cast<std::uint32_t>(at / kSectorSize);
  m->nextFree = at + m->bitmapBytes + static_cast<std::uint64_t>(sectors) * kSectorSize;
  std::memcpy(m->bitmap, b.bitmap, m->bitmapBytes);
  m->cachedBlock = block;
  return DISK_OK;
}

DiskResult VhdCommitFold(ReplaceEntry* entry, bool toRecycleBin) {
  if (entry->live.IsEmpty()) return DISK_OK;
  PathBuffer backup = entry->live;
  ByteBuffer* b = &backup.buffer;
  if (!BufferAppend(b, "_QVT_DEL", 8) || !BufferTerminate(b, ENC_SHIFT_JIS)) return DISK_E_CREATE;
  const char* live = entry->live.CString();
  if (!FsMove(live, backup.CString())) return DISK_E_CREATE;
  if (!FsMove(entry->temp.CString(), live)) {
    // Put the image back under its own name rather than leave the machine
    // without its disk; the working copy stays for the caller to discard.
    FsMove(backup.CString(), live);
    return DISK_E_CREATE;
  }
  const bool gone = toRecycleBin ? FsRecycle(backup.CString()) : FsDelete(backup.CString());
  return gone ? DISK_OK : DISK_E_CREATE;
}

DiskResult VhdDiscardFold(ReplaceEntry* entry) {
  if (entry->live.IsEmpty()) return DISK_OK;
  return FsDelete(entry->temp.CString()) ? DISK_OK : DISK_E_CREATE;
}

}  // namespace qvt
