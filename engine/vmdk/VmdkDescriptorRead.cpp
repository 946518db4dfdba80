#include "VmdkDescriptor.h"

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "SparseHeader.h"

namespace qvt {

namespace {

// Walks the area as encoding e up to the first NUL; false at a character
// that cannot start there.
bool WalkToNul(const std::uint8_t* area, std::uint32_t areaBytes, TextEncoding e,
               std::uint32_t* textLength) {
  std::uint32_t at = 0;
  while (at < areaBytes) {
    if (area[at] == 0) break;
    const std::uint32_t n = CharLength(e, area + at, areaBytes - at);
    if (n == 0) return false;
    at += n;
  }
  *textLength = at;
  return true;
}

// An engine allocation that goes back to the heap unless handed on.
class AreaGuard {
 public:
  explicit AreaGuard(std::uint32_t bytes)
      : block_(static_cast<std::uint8_t*>(EngineAlloc(bytes))) {}
  ~AreaGuard() { EngineFree(block_); }
  AreaGuard(const AreaGuard&) = delete;
  AreaGuard& operator=(const AreaGuard&) = delete;
  std::uint8_t* get() const { return block_; }
  std::uint8_t* Release() {
    std::uint8_t* b = block_;
    block_ = nullptr;
    return b;
  }

 private:
  std::uint8_t* block_;
};

// The walk of VmdkFindBaseDescriptor, into a record the caller provides.
DiskResult FollowChain(const char* path, ByteBuffer* text, VmdkDescriptor* record) {
  PathBuffer current;
  if (!PathAssign(&current, path, ENC_SHIFT_JIS)) return DISK_E_FORMAT;

  for (std::uint32_t links = 0;; ++links) {
    ByteBuffer found{};
    const DiskResult read = VmdkReadDescriptor(current.CString(), record, &found);
    if (read != DISK_OK) return read;
    if (!record->isChild) {
      *text = found;
      return DISK_OK;
    }
    // A hint that leads back into its own chain would be followed forever.
    if (links == kVmdkMaxChainLinks) {
      VmdkFreeDescriptorText(&found);
      return DISK_E_FORMAT;
    }
    PathBuffer next;
    const bool resolved =
        PathResolve(BufferView(current.buffer), ENC_SHIFT_JIS, record->parentFileNameHint,
                    static_cast<TextEncoding>(record->textEncoding), &next, ENC_SHIFT_JIS);
    VmdkFreeDescriptorText(&found);
    if (!resolved) return DISK_E_FORMAT;
    current = next;
  }
}

}  // namespace

DiskResult VmdkLocateDescriptor(const std::uint8_t* head, std::uint32_t headLength,
                                std::uint64_t fileSize, std::uint64_t* offset,
                                std::uint32_t* areaBytes, bool* embedded) {
  SparseHeader header{};
  std::uint64_t size = fileSize;
  *offset = 0;
  *embedded = false;
  if (fileSize >= kSparseHeaderBytes && ParseSparseHeader(head, headLength, &header)) {
    // A sparse extent of a split disk has a header and no descriptor.
    if (header.descriptorSize == 0) return DISK_E_FORMAT;
    *embedded = true;
    *offset = kSparseHeaderBytes;
    // descriptorSize is at most 64 in a valid header; the bound below still
    // holds should that test ever widen.
    if (header.descriptorSize > kVmdkMaxDescriptorBytes / kSectorSize) return DISK_E_FORMAT;
    size = header.descriptorSize * kSectorSize;
  }
  // The engine reads descriptors whole; a larger file is some other file.
  if (size > kVmdkMaxDescriptorBytes) return DISK_E_FORMAT;
  *areaBytes = static_cast<std::uint32_t>(size);
  return DISK_OK;
}

bool VmdkDescriptorTextLength(const std::uint8_t* area, std::uint32_t areaBytes,
                              std::uint32_t* textLength) {
  return WalkToNul(area, areaBytes, ENC_SHIFT_JIS, textLength) ||
         WalkToNul(area, areaBytes, ENC_UTF8, textLength);
}

void VmdkFreeDescriptorText(ByteBuffer* text) {
  EngineFree(text->data);
  BufferInit(text, nullptr, 0);
}

DiskResult VmdkReadDescriptorFromStream(FileStream* stream, VmdkDescriptor* descriptor,
                                        ByteBuffer* text, bool* embedded) {
  BufferInit(text, nullptr, 0);
  std::uint64_t fileSize = 0;
  if (!StreamSize(stream, &fileSize)) return DISK_E_SIZE;

  std::uint8_t head[kSparseHeaderBytes] = {};
  const std::uint32_t headLength =
      fileSize < kSparseHeaderBytes ? static_cast<std::uint32_t>(fileSize) : kSparseHeaderBytes;
  if (headLength > 0 && !StreamRead(stream, 0, headLength, head)) return DISK_E_READ;

  std::uint64_t offset = 0;
  std::uint32_t areaBytes = 0;
  bool inExtent = false;
  const DiskResult located =
      VmdkLocateDescriptor(head, headLength, fileSize, &offset, &areaBytes, &inExtent);
  if (located != DISK_OK) return located;

  AreaGuard area(areaBytes);
  if (area.get() == nullptr) return DISK_E_NOMEM;
  if (areaBytes > 0 && !StreamRead(stream, offset, areaBytes, area.get())) return DISK_E_READ;

  std::uint32_t textLength = 0;
  if (!VmdkDescriptorTextLength(area.get(), areaBytes, &textLength)) return DISK_E_FORMAT;
  if (!VmdkParseDescriptor(TextView{area.get(), textLength}, descriptor)) return DISK_E_READ;
  // A single file holds one extent; a split layout there is self-contradictory.
  if (inExtent && descriptor->split) return DISK_E_FORMAT;

  text->capacity = areaBytes;
  text->length = textLength;
  text->data = area.Release();
  if (embedded != nullptr) *embedded = inExtent;
  return DISK_OK;
}

DiskResult VmdkReadDescriptor(const char* path, VmdkDescriptor* descriptor, ByteBuffer* text) {
  BufferInit(text, nullptr, 0);
  FileStream stream{};
  if (!FsOpen(path, true, &stream)) return DISK_E_OPEN;
  StreamGuard guard(&stream);
  return VmdkReadDescriptorFromStream(&stream, descriptor, text, nullptr);
}

DiskResult VmdkFindBaseDescriptor(const char* path, ByteBuffer* text, VmdkDescriptor* descriptor) {
  BufferInit(text, nullptr, 0);
  if (descriptor != nullptr) return FollowChain(path, text, descriptor);
  HeapBlock own(sizeof(VmdkDescriptor));
  if (!own) return DISK_E_NOMEM;
  return FollowChain(path, text, static_cast<VmdkDescriptor*>(own.get()));
}

}  // namespace qvt
