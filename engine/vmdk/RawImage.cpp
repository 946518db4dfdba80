#include "RawImage.h"

#include <new>

#include "ByteBuffer.h"
#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "SparseCommon.h"

namespace qvt {
namespace {

struct RawImage {
  FileStream stream{};
  NdiLayout layout{};
  bool readOnly = true;
};

bool IsBlank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next blank-separated token of text[*at, length).
bool NextToken(const std::uint8_t* text, std::uint32_t length, std::uint32_t* at,
               std::uint32_t* start, std::uint32_t* tokenLength) {
  while (*at < length && IsBlank(text[*at])) ++*at;
  *start = *at;
  while (*at < length && !IsBlank(text[*at])) ++*at;
  *tokenLength = *at - *start;
  return *tokenLength > 0;
}

bool ParseDecimal(const std::uint8_t* p, std::uint32_t n, std::uint64_t limit,
                  std::uint64_t* value) {
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    const std::uint32_t digit = p[i] - '0';
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// The side file's name: the image's path up to its extension, then ".ndi".
bool SideFileName(const char* path, PathBuffer* side) {
  PathBuffer image;
  if (!PathAssign(&image, path, ENC_SHIFT_JIS)) return false;
  TextView directory{};
  TextView base{};
  TextView extension{};
  PathSplit(BufferView(image.buffer), ENC_SHIFT_JIS, &directory, &base, &extension);
  // Up to the dot before the extension (the whole name when it has none).
  const std::uint32_t keep = directory.length + base.length;
  BufferReset(&side->buffer);
  return BufferAppend(&side->buffer, image.storage, keep) &&
         BufferAppend(&side->buffer, ".ndi", 4) && BufferTerminate(&side->buffer, ENC_SHIFT_JIS);
}

DiskResult ReadSideFile(const char* path, NdiLayout* layout) {
  PathBuffer side;
  if (!SideFileName(path, &side)) return DISK_E_FORMAT;
  FileStream stream{};
  if (!FsOpen(side.CString(), true, &stream)) return DISK_E_FORMAT;
  StreamGuard guard(&stream);
  std::uint64_t size = 0;
  if (!StreamSize(&stream, &size)) return DISK_E_FORMAT;
  if (size > kNdiMaxBytes) return DISK_E_FORMAT;
  std::uint8_t text[kNdiMaxBytes];
  const auto length = static_cast<std::uint32_t>(size);
  if (length > 0 && !StreamRead(&stream, 0, length, text)) return DISK_E_FORMAT;
  return ParseNdi(text, length, layout) ? DISK_OK : DISK_E_FORMAT;
}

DiskResult OpenInto(RawImage* raw, const char* path) {
  QVT_DISK_TRY(ReadSideFile(path, &raw->layout));
  if (raw->layout.bytesPerSector != kSectorSize) return DISK_E_UNSUPPORTED;
  if (!FsOpen(path, raw->readOnly, &raw->stream)) return DISK_E_OPEN;
  std::uint64_t size = 0;
  if (!StreamSize(&raw->stream, &size)) return DISK_E_SIZE;
  const std::uint64_t bytes = static_cast<std::uint64_t>(raw->layout.sectors) * kSectorSize;
  if (raw->layout.dataOffset > size || bytes > size - raw->layout.dataOffset) return DISK_E_FORMAT;
  return DISK_OK;
}

}  // namespace

bool ParseNdi(const std::uint8_t* text, std::uint32_t length, NdiLayout* layout) {
  std::uint32_t at = 0;
  std::uint32_t start = 0;
  std::uint32_t n = 0;
  if (!NextToken(text, length, &at, &start, &n) || n != 3 || text[start] != 'N' ||
      text[start + 1] != 'D' || text[start + 2] != 'I') {
    return false;
  }
  std::uint64_t values[5] = {};
  for (int i = 0; i < 5; ++i) {
    if (!NextToken(text, length, &at, &start, &n)) return false;
    const std::uint64_t limit = i == 0 ? UINT64_MAX : UINT32_MAX;
    if (!ParseDecimal(text + start, n, limit, &values[i])) return false;
    if (i > 0 && values[i] == 0) return false;
  }
  if (NextToken(text, length, &at, &start, &n)) return false;
  *layout = NdiLayout{values[0], static_cast<std::uint32_t>(values[1]),
                      static_cast<std::uint32_t>(values[2]), static_cast<std::uint32_t>(values[3]),
                      static_cast<std::uint32_t>(values[4])};
  return true;
}

DiskResult RawImageOpen(ImageHandle* image, const char* path, bool readOnly) {
  *image = NoImage();
  void* block = EngineAlloc(sizeof(RawImage));
  if (block == nullptr) return DISK_E_NOMEM;
  auto* raw = new (block) RawImage();
  raw->readOnly = readOnly;
  const DiskResult r = OpenInto(raw, path);
  if (r != DISK_OK) {
    RawImageClose(raw);
    return r;
  }
  image->kind = IMAGE_RAW_NDI;
  image->impl = raw;
  return DISK_OK;
}

DiskResult RawImageGetSize(const void* impl, ImageGeometry* geometry) {
  const NdiLayout& l = static_cast<const RawImage*>(impl)->layout;
  *geometry = ImageGeometry{l.sectors, l.heads, l.sectorsPerTrack, kSectorSize};
  return DISK_OK;
}

DiskResult RawImageRead(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer) {
  auto* raw = static_cast<RawImage*>(impl);
  if (!ImageRangeFits(offset, length, raw->layout.sectors)) return DISK_E_LIMIT;
  if (length == 0) return DISK_OK;
  return StreamRead(&raw->stream, raw->layout.dataOffset + offset, length, buffer) ? DISK_OK
                                                                                   : DISK_E_READ;
}

DiskResult RawImageWrite(void* impl, std::uint64_t offset, std::uint32_t length,
                         const void* data) {
  auto* raw = static_cast<RawImage*>(impl);
  if (raw->readOnly || !ImageRangeFits(offset, length, raw->layout.sectors)) return DISK_E_LIMIT;
  if (length == 0) return DISK_OK;
  return StreamWrite(&raw->stream, raw->layout.dataOffset + offset, length, data) ? DISK_OK
                                                                                  : DISK_E_WRITE;
}

void RawImageClose(void* impl) {
  auto* raw = static_cast<RawImage*>(impl);
  if (raw == nullptr) return;
  StreamClose(&raw->stream);
  raw->~RawImage();
  EngineFree(raw);
}

}  // namespace qvt
