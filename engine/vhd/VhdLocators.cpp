#include "VhdLocators.h"

#include <cstring>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "TextConvert.h"

namespace qvt {
namespace {

TextView CView(const char* text) {
  return MakeView(text, static_cast<std::uint32_t>(std::strlen(text)));
}

// The data up to its first NUL character (or all of it).
TextView UpToNul(const std::uint8_t* data, std::uint32_t length, std::uint32_t unit) {
  std::uint32_t n = 0;
  while (n + unit <= length) {
    bool zero = true;
    for (std::uint32_t i = 0; i < unit; ++i) zero = zero && data[n + i] == 0;
    if (zero) break;
    n += unit;
  }
  return MakeView(data, n);
}

bool IsUsable(std::uint32_t code) {
  return code == VHD_PLATFORM_W2KU || code == VHD_PLATFORM_W2RU || code == VHD_PLATFORM_WI2K ||
         code == VHD_PLATFORM_WI2R;
}

// One entry's candidate path. DISK_OK with an empty `out` when the entry
// does not lead anywhere; DISK_E_NOMEM or DISK_E_READ stop the search.
DiskResult TryEntry(FileStream* file, std::uint64_t fileLength, const VhdLocator& l,
                    const char* imagePath, PathBuffer* out) {
  BufferReset(&out->buffer);
  out->storage[0] = 0;
  // An entry whose data cannot lie in the file, or is too large to be a
  // path, is skipped rather than read.
  if (l.dataLength > kVhdMaxLocatorData || l.dataOffset > fileLength ||
      l.dataLength > fileLength - l.dataOffset) {
    return DISK_OK;
  }
  HeapBlock area(l.dataLength == 0 ? 1 : l.dataLength);
  if (!area) return DISK_E_NOMEM;
  auto* data = static_cast<std::uint8_t*>(area.get());
  if (l.dataLength > 0 && !StreamRead(file, l.dataOffset, l.dataLength, data)) return DISK_E_READ;
  const bool wide = l.code == VHD_PLATFORM_W2KU || l.code == VHD_PLATFORM_W2RU;
  const TextEncoding e = wide ? ENC_UTF16LE : ENC_SHIFT_JIS;
  const TextView path = UpToNul(data, l.dataLength, wide ? 2 : 1);
  if (path.length == 0) return DISK_OK;
  const bool absolute = PathIsDriveAbsolute(path, e);
  if ((l.code == VHD_PLATFORM_W2KU && !absolute) || (l.code == VHD_PLATFORM_W2RU && absolute)) {
    return DISK_OK;
  }
  PathBuffer resolved;
  if (!PathResolve(CView(imagePath), ENC_SHIFT_JIS, path, e, &resolved, ENC_SHIFT_JIS)) {
    return DISK_OK;
  }
  *out = resolved;
  return DISK_OK;
}

}  // namespace

DiskResult VhdFindParent(FileStream* file, std::uint64_t fileLength, const VhdHeader& header,
                         const char* imagePath, PathBuffer* parent) {
  for (std::uint32_t i = 0; i < kVhdLocatorCount; ++i) {
    const VhdLocator l = VhdHeaderLocator(header, i);
    if (!IsUsable(l.code)) continue;
    PathBuffer candidate;
    const DiskResult r = TryEntry(file, fileLength, l, imagePath, &candidate);
    if (r != DISK_OK) return r;
    if (!candidate.IsEmpty() && FsExists(candidate.CString())) {
      *parent = candidate;
      return DISK_OK;
    }
  }
  const TextView name =
      UpToNul(header.bytes + vhd_header::kParentName, vhd_header::kParentNameBytes, 2);
  PathBuffer resolved;
  if (name.length == 0 ||
      !PathResolve(CView(imagePath), ENC_SHIFT_JIS, name, ENC_UTF16BE, &resolved, ENC_SHIFT_JIS)) {
    return DISK_E_FORMAT;
  }
  *parent = resolved;
  return DISK_OK;
}

bool VhdSetParentName(VhdHeader* header, const char* parentPath) {
  TextView directory, base, extension;
  const TextView whole = CView(parentPath);
  PathSplit(whole, ENC_SHIFT_JIS, &directory, &base, &extension);
  const TextView fileName{whole.data + directory.length, whole.length - directory.length};
  std::uint8_t* field = header->bytes + vhd_header::kParentName;
  std::memset(field, 0, vhd_header::kParentNameBytes);
  ByteBuffer out;
  BufferInit(&out, field, vhd_header::kParentNameBytes);
  if (fileName.length == 0 || !TextConvertAppend(&out, ENC_UTF16BE, fileName, ENC_SHIFT_JIS)) {
    std::memset(field, 0, vhd_header::kParentNameBytes);
    return false;
  }
  return true;
}

bool VhdWideLocator(TextView text, ByteBuffer* out) {
  BufferReset(out);
  return TextConvertAppend(out, ENC_UTF16LE, text, ENC_SHIFT_JIS);
}

bool VhdRelativePath(const char* from, const char* to, PathBuffer* out) {
  const TextView a = CView(from);
  const TextView b = CView(to);
  if (a.length == 0 || b.length == 0) return false;
  auto lower = [](std::uint8_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  if (lower(a.data[0]) != lower(b.data[0])) return false;
  TextView directory, base, extension;
  PathSplit(a, ENC_SHIFT_JIS, &directory, &base, &extension);
  return PathMakeRelative(directory, b, ENC_SHIFT_JIS, out);
}

DiskResult VhdChildRelative(const char* child, const char* parent, PathBuffer* out, bool* has) {
  *has = false;
  BufferReset(&out->buffer);
  out->storage[0] = 0;
  if (child[0] == 0 || parent[0] == 0 || (child[0] | 0x20) != (parent[0] | 0x20)) return DISK_OK;
  PathBuffer relative;
  if (!VhdRelativePath(child, parent, &relative)) return DISK_E_LIMIT;
  const TextView r = BufferView(relative.buffer);
  const bool climbs = r.length >= 3 && std::memcmp(r.data, "..\\", 3) == 0;
  if ((!climbs && !BufferAppend(&out->buffer, ".\\", 2)) || !BufferAppendView(&out->buffer, r) ||
      !BufferTerminate(&out->buffer, ENC_SHIFT_JIS)) {
    BufferReset(&out->buffer);
    return DISK_E_LIMIT;
  }
  *has = true;
  return DISK_OK;
}

}  // namespace qvt
