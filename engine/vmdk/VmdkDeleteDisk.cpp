#include "VmdkDescriptor.h"

#include <new>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "TextCompare.h"

namespace qvt {

namespace {

bool Remove(const char* path, bool toRecycleBin) {
  return toRecycleBin ? FsRecycle(path) : FsDelete(path);
}

// The extent files of a separate descriptor, resolved against its
// directory. Every one must lie in that directory: a descriptor is only
// text, and deleting what it names elsewhere could destroy another disk.
DiskResult ResolveExtents(const char* path, const VmdkDescriptor& d, PathBuffer* extents) {
  const TextView self = MakeView(path, NulTerminatedLength(path, ENC_SHIFT_JIS));
  PathBuffer normalized;
  if (!PathNormalize(self, ENC_SHIFT_JIS, &normalized)) return DISK_E_FORMAT;
  TextView home{};
  TextView name{};
  TextView extension{};
  PathSplit(BufferView(normalized.buffer), ENC_SHIFT_JIS, &home, &name, &extension);

  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    if (!PathResolve(self, ENC_SHIFT_JIS, d.extents[i].fileName,
                     static_cast<TextEncoding>(d.textEncoding), &extents[i], ENC_SHIFT_JIS)) {
      return DISK_E_FORMAT;
    }
    TextView directory{};
    PathSplit(BufferView(extents[i].buffer), ENC_SHIFT_JIS, &directory, &name, &extension);
    if (!TextEquals(directory, home, ENC_SHIFT_JIS, true)) return DISK_E_FORMAT;
  }
  return DISK_OK;
}

// Frees a descriptor text when the scope ends.
class TextGuard {
 public:
  explicit TextGuard(ByteBuffer* text) : text_(text) {}
  ~TextGuard() { VmdkFreeDescriptorText(text_); }
  TextGuard(const TextGuard&) = delete;
  TextGuard& operator=(const TextGuard&) = delete;

 private:
  ByteBuffer* text_;
};

DiskResult DeleteWith(const char* path, bool toRecycleBin, VmdkDescriptor* d) {
  ByteBuffer text{};
  bool embedded = false;
  {
    // Closed again before anything is deleted: Windows deletes no open file.
    FileStream stream{};
    if (!FsOpen(path, true, &stream)) return DISK_E_OPEN;
    StreamGuard streamGuard(&stream);
    const DiskResult read = VmdkReadDescriptorFromStream(&stream, d, &text, &embedded);
    if (read != DISK_OK) return read;
  }
  TextGuard textGuard(&text);
  if (embedded) return Remove(path, toRecycleBin) ? DISK_OK : DISK_E_FORMAT;

  // Every path is resolved and checked before the first file goes.
  HeapBlock extentPaths(sizeof(PathBuffer) * d->extentCount);
  if (!extentPaths) return DISK_E_NOMEM;
  auto* extents = static_cast<PathBuffer*>(extentPaths.get());
  for (std::uint32_t i = 0; i < d->extentCount; ++i) new (&extents[i]) PathBuffer();
  const DiskResult resolved = ResolveExtents(path, *d, extents);
  if (resolved != DISK_OK) return resolved;

  for (std::uint32_t i = 0; i < d->extentCount; ++i) {
    if (!Remove(extents[i].CString(), toRecycleBin)) return DISK_E_FORMAT;
  }
  return Remove(path, toRecycleBin) ? DISK_OK : DISK_E_FORMAT;
}

}  // namespace

DiskResult VmdkDeleteDisk(const char* path, bool toRecycleBin) {
  HeapBlock record(sizeof(VmdkDescriptor));
  if (!record) return DISK_E_NOMEM;
  return DeleteWith(path, toRecycleBin, static_cast<VmdkDescriptor*>(record.get()));
}

}  // namespace qvt
