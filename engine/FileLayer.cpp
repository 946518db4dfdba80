#include "FileLayer.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "ByteBuffer.h"
#include "Heap.h"
#include "PlatformFile.h"
#include "TextConvert.h"

namespace qvt {
namespace {

namespace os = qvt::platform;

// Names longer than this are no file name any system takes.
constexpr std::size_t kMaxNameBytes = 32767;
constexpr std::uint32_t kChunkBytes = 64 * 1024;

std::atomic<long> readsLeft{-1};
std::atomic<long> writesLeft{-1};

bool Allowed(std::atomic<long>& left) {
  long n = left.load(std::memory_order_relaxed);
  while (n >= 0) {
    if (n == 0) return false;
    if (left.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) return true;
  }
  return true;
}

// Encoding 0 name to the platform's UTF-16 form; false when it is malformed,
// too long, or memory runs out.
bool ToOsName(const char* path, std::wstring* out) {
  if (path == nullptr) return false;
  const std::size_t length = std::strlen(path);
  if (length > kMaxNameBytes) return false;
  const std::uint32_t capacity = static_cast<std::uint32_t>(length * 2 + 2);
  HeapBlock storage(capacity);
  if (!storage) return false;
  ByteBuffer wide;
  BufferInit(&wide, storage.get(), capacity);
  if (!TextConvertAppend(&wide, ENC_UTF16LE, MakeView(path, static_cast<std::uint32_t>(length)),
                         ENC_SHIFT_JIS)) {
    return false;
  }
  try {
    out->clear();
    out->reserve(wide.length / 2);
    for (std::uint32_t i = 0; i + 1 < wide.length; i += 2) {
      out->push_back(static_cast<wchar_t>(wide.data[i] | (wide.data[i + 1] << 8)));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The state behind a stream this layer opened.
struct OsFile {
  os::NativeFile file;
  bool preallocated;
  std::uint64_t logicalEnd;  // preallocated files only
};

bool OsRead(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!Allowed(readsLeft)) return false;
  return os::FileReadAt(static_cast<OsFile*>(impl)->file, offset, length, buffer);
}

bool OsWrite(void* impl, std::uint64_t offset, std::uint32_t length, const void* data) {
  auto* f = static_cast<OsFile*>(impl);
  if (!Allowed(writesLeft)) return false;
  if (!os::FileWriteAt(f->file, offset, length, data)) return false;
  if (f->preallocated && offset + length > f->logicalEnd) f->logicalEnd = offset + length;
  return true;
}

void OsClose(void* impl) {
  auto* f = static_cast<OsFile*>(impl);
  // A preallocated file is cut back to what was really written; a failure
  // here leaves a longer file, which the formats ignore past their end.
  if (f->preallocated) os::FileSetSize(f->file, f->logicalEnd);
  os::FileClose(&f->file);
  EngineFree(f);
}

bool OsSize(void* impl, std::uint64_t* size) {
  auto* f = static_cast<OsFile*>(impl);
  if (f->preallocated) {
    *size = f->logicalEnd;
    return true;
  }
  return os::FileGetSize(f->file, size);
}

const FileStreamOps kOsFileOps = {&OsRead, &OsWrite, &OsClose, &OsSize};

// Wraps an open native file into a stream; closes the file when memory runs out.
bool Wrap(os::NativeFile file, bool preallocated, std::uint64_t logicalEnd, FileStream* out) {
  auto* f = static_cast<OsFile*>(EngineAlloc(sizeof(OsFile)));
  if (f == nullptr) {
    os::FileClose(&file);
    return false;
  }
  f->file = file;
  f->preallocated = preallocated;
  f->logicalEnd = logicalEnd;
  out->impl = f;
  out->ops = &kOsFileOps;
  return true;
}

void Clear(FileStream* out) {
  out->impl = nullptr;
  out->ops = nullptr;
}

struct CopyAdapter {
  PercentProgress progress;
  bool stopped;
};

bool CopyCallback(std::uint64_t done, std::uint64_t total, void* context) {
  auto* adapter = static_cast<CopyAdapter*>(context);
  if (!ReportPercent(adapter->progress, done, total)) {
    adapter->stopped = true;
    return false;
  }
  return true;
}

}  // namespace

namespace {

bool FsExistsUnguarded(const char* path) {
  std::wstring name;
  return ToOsName(path, &name) && os::PathExists(name);
}

bool FsOpenUnguarded(const char* path, bool readOnly, FileStream* out) {
  Clear(out);
  std::wstring name;
  os::NativeFile file;
  if (!ToOsName(path, &name)) return false;
  const auto access = readOnly ? os::FileAccess::kReadShared : os::FileAccess::kReadWriteAlone;
  if (!os::FileOpen(name, access, &file)) return false;
  return Wrap(file, false, 0, out);
}

bool FsCreateUnguarded(const char* path, FileStream* out) {
  Clear(out);
  std::wstring name;
  os::NativeFile file;
  if (!ToOsName(path, &name) || !os::FileCreate(name, &file)) return false;
  return Wrap(file, false, 0, out);
}

bool FsCreateSizedUnguarded(const char* path, std::uint64_t size, FileStream* out) {
  Clear(out);
  std::wstring name;
  os::NativeFile file;
  if (!ToOsName(path, &name) || !os::FileCreate(name, &file)) return false;
  if (!os::FileSetSize(file, size)) {
    os::FileClose(&file);
    return false;
  }
  return Wrap(file, false, 0, out);
}

bool FsOpenPreallocatedUnguarded(const char* path, std::uint64_t logicalSize, FileStream* out) {
  Clear(out);
  std::wstring name;
  os::NativeFile file;
  if (!ToOsName(path, &name) || !os::FileOpen(name, os::FileAccess::kReadWriteAlone, &file)) {
    return false;
  }
  return Wrap(file, true, logicalSize, out);
}


int FsCopyWithProgressUnguarded(const char* source, const char* target, ProgressFn progress,
                       void* context) {
  std::wstring from;
  std::wstring to;
  if (!ToOsName(source, &from) || !ToOsName(target, &to)) return kFsCopyFailed;
  CopyAdapter adapter{{progress, context}, false};
  const os::CopyResult result = os::FileCopyWithProgress(from, to, &CopyCallback, &adapter);
  if (adapter.stopped || result == os::kCopyStopped) return kFsCopyStopped;
  return result == os::kCopyDone ? kFsCopyDone : kFsCopyFailed;
}

bool FsMoveReplacingUnguarded(const char* from, const char* to) {
  std::wstring a;
  std::wstring b;
  return ToOsName(from, &a) && ToOsName(to, &b) && os::FileMoveReplacing(a, b);
}

bool FsMoveUnguarded(const char* from, const char* to) {
  std::wstring a;
  std::wstring b;
  return ToOsName(from, &a) && ToOsName(to, &b) && os::FileMove(a, b);
}

bool FsDeleteUnguarded(const char* path) {
  std::wstring name;
  return ToOsName(path, &name) && os::FileDelete(name);
}

bool FsRecycleUnguarded(const char* path) {
  std::wstring name;
  return ToOsName(path, &name) && os::FileRecycle(name);
}

// The system layer reports failures as results, but building its names may
// run out of memory; no exception may leave the engine.
template <typename Result, typename Call>
Result Guarded(Result failure, Call call) {
  try {
    return call();
  } catch (...) {
    return failure;
  }
}

}  // namespace

bool FsExists(const char* path) {
  return Guarded(false, [&] { return FsExistsUnguarded(path); });
}
bool FsOpen(const char* path, bool readOnly, FileStream* out) {
  return Guarded(false, [&] { return FsOpenUnguarded(path, readOnly, out); });
}
bool FsCreate(const char* path, FileStream* out) {
  return Guarded(false, [&] { return FsCreateUnguarded(path, out); });
}
bool FsCreateSized(const char* path, std::uint64_t size, FileStream* out) {
  return Guarded(false, [&] { return FsCreateSizedUnguarded(path, size, out); });
}
bool FsOpenPreallocated(const char* path, std::uint64_t logicalSize, FileStream* out) {
  return Guarded(false, [&] { return FsOpenPreallocatedUnguarded(path, logicalSize, out); });
}
int FsCopyWithProgress(const char* source, const char* target, ProgressFn progress,
                       void* context) {
  return Guarded(kFsCopyFailed,
                 [&] { return FsCopyWithProgressUnguarded(source, target, progress, context); });
}
bool FsMoveReplacing(const char* from, const char* to) {
  return Guarded(false, [&] { return FsMoveReplacingUnguarded(from, to); });
}
bool FsMove(const char* from, const char* to) {
  return Guarded(false, [&] { return FsMoveUnguarded(from, to); });
}
bool FsDelete(const char* path) {
  return Guarded(false, [&] { return FsDeleteUnguarded(path); });
}
bool FsRecycle(const char* path) {
  return Guarded(false, [&] { return FsRecycleUnguarded(path); });
}

bool FsSize(FileStream* stream, std::uint64_t* size) { return StreamSize(stream, size); }

bool FsSetSizeAndClose(FileStream* stream, std::uint64_t size) {
  bool ok = false;
  if (stream->ops == &kOsFileOps) {
    auto* f = static_cast<OsFile*>(stream->impl);
    ok = os::FileSetSize(f->file, size);
    // The size just set is the one to keep, also for a preallocated file.
    if (f->preallocated) f->logicalEnd = size;
  }
  StreamClose(stream);
  return ok;
}

int FsCopyChunked(const char* source, const char* target, bool preallocate, std::uint64_t size,
                  bool relative, ProgressFn progress, void* context, std::uint64_t* copied) {
  if (copied != nullptr) *copied = 0;
  FileStream in{};
  FileStream out{};
  StreamGuard closeIn(&in);
  StreamGuard closeOut(&out);
  std::uint64_t sourceSize = 0;
  if (!FsOpen(source, true, &in) || !StreamSize(&in, &sourceSize)) return kFsCopyFailed;

  std::uint64_t count = sourceSize;
  std::uint64_t targetSize = 0;
  if (preallocate) {
    targetSize = relative ? size + sourceSize : size;
    if (!FsCreateSized(target, targetSize, &out)) return kFsCopyFailed;
    if (targetSize < count) count = targetSize;
  } else if (!FsCreate(target, &out)) {
    return kFsCopyFailed;
  }

  HeapBlock chunk(kChunkBytes);
  if (!chunk) return kFsCopyFailed;
  const PercentProgress percent{progress, context};
  if (!ReportPercent(percent, 0, count)) return kFsCopyStopped;

  for (std::uint64_t offset = 0; offset < count;) {
    const std::uint64_t rest = count - offset;
    const auto length = static_cast<std::uint32_t>(rest < kChunkBytes ? rest : kChunkBytes);
    if (!StreamRead(&in, offset, length, chunk.get()) ||
        !StreamWrite(&out, offset, length, chunk.get())) {
      return kFsCopyFailed;
    }
    offset += length;
    if (copied != nullptr) *copied = offset;
    if (!ReportPercent(percent, offset, count)) return kFsCopyStopped;
  }
  if (preallocate) {
    closeOut.Release();
    if (!FsSetSizeAndClose(&out, targetSize)) return kFsCopyFailed;
  }
  return kFsCopyDone;
}

void InjectFileFaults(long reads, long writes) {
  readsLeft.store(reads < 0 ? -1 : reads, std::memory_order_relaxed);
  writesLeft.store(writes < 0 ? -1 : writes, std::memory_order_relaxed);
}

}  // namespace qvt
