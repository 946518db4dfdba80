// Changing the descriptor of an open disk in place, and the engine half of
// the hard disk image property command (a new parentFileNameHint).
#include <cstring>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpenChain.h"
#include "ReplaceSet.h"
#include "SparseCommon.h"
#include "SparseHeader.h"
#include "TextCompare.h"
#include "TextConvert.h"
#include "VmdkImage.h"
#include "VmdkImagePath.h"

namespace qvt {
namespace {

// The text area the rewrite works in, as large as the largest embedded area.
constexpr std::uint32_t kChangeBufferBytes = 32768;

// A single-file disk keeps its extents: only the text around them may change.
bool KeepsSingleFileLayout(const VmdkDescriptor& before, const VmdkDescriptor& after) {
  if (after.split != before.split || after.flat != before.flat ||
      after.extentCount != before.extentCount) {
    return false;
  }
  for (std::uint32_t i = 0; i < before.extentCount; ++i) {
    if (after.extents[i].sectors != before.extents[i].sectors ||
        after.extents[i].kind != before.extents[i].kind) {
      return false;
    }
  }
  return true;
}

// Into the embedded area behind the first extent's header; the rest of the
// area is cleared so that no tail of the old text stays behind.
DiskResult WriteEmbedded(VmdkImage* m, const ByteBuffer& text) {
  FileStream* stream = &m->sparse[0].stream;
  std::uint8_t sector[kSparseHeaderBytes] = {};
  SparseHeader header{};
  if (!StreamRead(stream, 0, kSparseHeaderFieldBytes, sector) ||
      !DecodeSparseHeader(sector, sizeof sector, &header)) {
    return DISK_E_READ;
  }
  const std::uint64_t area = header.descriptorSize * kSectorBytes;
  const auto bytes = static_cast<std::uint32_t>(area < kChangeBufferBytes ? area : kChangeBufferBytes);
  // A longer text would be cut off mid-line and leave a descriptor that no
  // longer parses.
  if (text.length > bytes) return DISK_E_LIMIT;
  if (!StreamWrite(stream, header.descriptorOffset * kSectorBytes, bytes, text.data)) {
    return DISK_E_WRITE;
  }
  return DISK_OK;
}

// Replaces the descriptor file through a temporary copy, so that a failed
// write never leaves the disk without its descriptor.
DiskResult WriteDescriptorFile(const char* path, const ByteBuffer& text) {
  ReplaceEntry names;
  QVT_DISK_TRY(ReplaceEntrySet(&names, path));
  FileStream stream{};
  if (!FsCreate(names.temp.CString(), &stream)) return DISK_E_CREATE;
  const bool written = StreamWrite(&stream, 0, text.length, text.data);
  StreamClose(&stream);
  if (!written) {
    FsDelete(names.temp.CString());
    return DISK_E_WRITE;
  }
  if (!FsMoveReplacing(names.temp.CString(), names.live.CString())) {
    FsDelete(names.temp.CString());
    return DISK_E_CREATE;
  }
  return DISK_OK;
}

}  // namespace

DiskResult VmdkApplyChange(VmdkImage* m, const _VMWARE_VMDK_CHANGE_PARAM& change,
                           const char* descriptorPath, TextEncoding valueEnc,
                           TextEncoding nameEnc) {
  if (m->extentCount == 0 || m->readOnly) return DISK_E_LIMIT;
  HeapBlock storage(kChangeBufferBytes);
  if (!storage) return DISK_E_NOMEM;
  std::memset(storage.get(), 0, kChangeBufferBytes);
  ByteBuffer text;
  BufferInit(&text, storage.get(), kChangeBufferBytes);
  const auto enc = static_cast<TextEncoding>(m->descriptor.textEncoding);
  if (!VmdkRewriteDescriptor(BufferView(m->text), enc, &text, enc, change, valueEnc, nameEnc)) {
    return DISK_E_FORMAT;
  }
  // A text that does not parse would leave a disk nothing can open.
  HeapBlock parsed(sizeof(VmdkDescriptor));
  if (!parsed) return DISK_E_NOMEM;
  auto* after = static_cast<VmdkDescriptor*>(parsed.get());
  if (!VmdkParseDescriptor(BufferView(text), after)) return DISK_E_FORMAT;

  PathBuffer reopenPath;
  if (m->embedded) {
    if (!KeepsSingleFileLayout(m->descriptor, *after)) return DISK_E_FORMAT;
    QVT_DISK_TRY(WriteEmbedded(m, text));
    reopenPath = m->path;
  } else {
    const char* path = descriptorPath != nullptr ? descriptorPath : m->path.CString();
    if (!PathAssign(&reopenPath, path, ENC_SHIFT_JIS)) return DISK_E_LIMIT;
    QVT_DISK_TRY(WriteDescriptorFile(reopenPath.CString(), text));
  }
  // Reopened whatever the layout, so that the image follows its new parent
  // link; a parent that is not there only marks it parent-missing.
  const std::uint32_t mode =
      m->parentMode == VMDK_PARENT_CHILD || m->parentMode == VMDK_PARENT_NONE ? VMDK_PARENT_NONE
                                                                              : VMDK_PARENT_TOLERATE;
  return VmdkImageReopen(m, reopenPath.CString(), false, mode, nullptr, nullptr, nullptr);
}

DiskResult VmdkCheckParentHint(const char* diskPath, TextView hint, TextEncoding hintEnc,
                               PathBuffer* resolved) {
  PathBuffer disk;
  PathBuffer normal;
  if (!PathAssign(&disk, diskPath, ENC_SHIFT_JIS) ||
      !PathNormalize(BufferView(disk.buffer), ENC_SHIFT_JIS, &normal)) {
    return DISK_E_FORMAT;
  }
  PathBuffer parent;
  QVT_DISK_TRY(VmdkResolveName(disk, hint, hintEnc, &parent));
  if (TextEquals(BufferView(parent.buffer), BufferView(normal.buffer), ENC_SHIFT_JIS, true)) {
    return DISK_E_FORMAT;
  }
  if (resolved != nullptr) *resolved = parent;
  return DISK_OK;
}

DiskResult VmdkApplyParentHint(VmdkImage* m, const char* descriptorPath, TextView hint) {
  if (m->extentCount == 0) return DISK_E_LIMIT;
  if (!m->descriptor.isChild) return DISK_E_FORMAT;
  QVT_DISK_TRY(VmdkCheckParentHint(m->path.CString(), hint, ENC_SHIFT_JIS, nullptr));
  _VMWARE_VMDK_CHANGE_PARAM* change = VmdkAllocChange();
  if (change == nullptr) return DISK_E_NOMEM;
  change->setParentFileNameHint = 1;
  change->parentFileNameHint = hint;
  change->extentCount = m->descriptor.extentCount;
  const DiskResult r = VmdkApplyChange(m, *change, descriptorPath,
                                       static_cast<TextEncoding>(m->descriptor.textEncoding),
                                       ENC_SHIFT_JIS);
  VmdkFreeChange(change);
  return r;
}

DiskResult VmdkImageParentHint(const VmdkImage* m, ByteBuffer* out, TextEncoding outEnc) {
  BufferReset(out);
  if (m->extentCount == 0 || !m->descriptor.isChild) return DISK_E_FORMAT;
  if (!TextConvertAppend(out, outEnc, m->descriptor.parentFileNameHint,
                         static_cast<TextEncoding>(m->descriptor.textEncoding)) ||
      !BufferTerminate(out, outEnc)) {
    BufferReset(out);
    return DISK_E_LIMIT;
  }
  return DISK_OK;
}

}  // namespace qvt
