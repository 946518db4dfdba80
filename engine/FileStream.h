// The engine's file handle: positioned read and write, close and size through
// a table of four operations, so that every file variant (and a test's
// fault-injecting one) looks the same to the formats.
#ifndef QVT_ENGINE_FILESTREAM_H
#define QVT_ENGINE_FILESTREAM_H

#include <cstdint>

namespace qvt {

struct FileStreamOps {
  // Read and write succeed only when the whole length was transferred.
  bool (*read)(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer);
  bool (*write)(void* impl, std::uint64_t offset, std::uint32_t length, const void* data);
  // Closes the file and frees impl.
  void (*close)(void* impl);
  bool (*size)(void* impl, std::uint64_t* size);
};

struct FileStream {
  void* impl;
  const FileStreamOps* ops;
};

inline bool StreamIsOpen(const FileStream& s) { return s.ops != nullptr; }
inline bool StreamRead(FileStream* s, std::uint64_t offset, std::uint32_t length, void* buffer) {
  return s->ops->read(s->impl, offset, length, buffer);
}
inline bool StreamWrite(FileStream* s, std::uint64_t offset, std::uint32_t length,
                        const void* data) {
  return s->ops->write(s->impl, offset, length, data);
}
inline bool StreamSize(FileStream* s, std::uint64_t* size) { return s->ops->size(s->impl, size); }
// Closes an open stream and marks it closed; nothing for a closed one.
inline void StreamClose(FileStream* s) {
  if (s->ops != nullptr) s->ops->close(s->impl);
  s->impl = nullptr;
  s->ops = nullptr;
}

// Closes the stream when the scope ends, unless released.
class StreamGuard {
 public:
  explicit StreamGuard(FileStream* s) : stream_(s) {}
  ~StreamGuard() {
    if (stream_ != nullptr) StreamClose(stream_);
  }
  StreamGuard(const StreamGuard&) = delete;
  StreamGuard& operator=(const StreamGuard&) = delete;
  void Release() { stream_ = nullptr; }

 private:
  FileStream* stream_;
};

}  // namespace qvt

#endif
