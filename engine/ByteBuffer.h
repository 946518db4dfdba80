// A byte buffer that never grows, and the fixed-size buffer for file names.
#ifndef QVT_ENGINE_BYTEBUFFER_H
#define QVT_ENGINE_BYTEBUFFER_H

#include <cstdint>

#include "TextEncoding.h"

namespace qvt {

// {data, bytes in use, capacity}. Does not own its storage. Every append checks
// that it fits and otherwise fails, leaving the buffer unchanged.
struct ByteBuffer {
  std::uint8_t* data;
  std::uint32_t length;
  std::uint32_t capacity;
};

void BufferInit(ByteBuffer* b, void* storage, std::uint32_t capacity);
void BufferReset(ByteBuffer* b);
bool BufferAppend(ByteBuffer* b, const void* bytes, std::uint32_t n);
bool BufferAppendBuffer(ByteBuffer* b, const ByteBuffer& other);
bool BufferAppendView(ByteBuffer* b, TextView view);
// Reset, then append: a text that does not fit leaves the buffer empty.
bool BufferAssign(ByteBuffer* b, const void* bytes, std::uint32_t n);
// Fills the storage past the length with one byte value.
void BufferFill(ByteBuffer* b, std::uint8_t value);
void BufferSwap(ByteBuffer* a, ByteBuffer* b);
// Writes the encoding's NUL (1, 2 or 4 zero bytes) just behind the text,
// without counting it in the length; fails when there is no room for it.
bool BufferTerminate(ByteBuffer* b, TextEncoding e);
inline TextView BufferView(const ByteBuffer& b) { return TextView{b.data, b.length}; }

constexpr std::uint32_t kPathBufferSize = 520;

// A ByteBuffer over 520 bytes of its own storage, for every file name the
// engine builds. Copies point at their own storage.
struct PathBuffer {
  ByteBuffer buffer;
  std::uint8_t storage[kPathBufferSize];

  PathBuffer();
  PathBuffer(const PathBuffer& other);
  PathBuffer& operator=(const PathBuffer& other);

  bool IsEmpty() const { return buffer.length == 0; }
  // The NUL-terminated text (the engine keeps path buffers terminated).
  const char* CString() const { return reinterpret_cast<const char*>(storage); }
};

// Sets the path to a NUL-terminated text in encoding e and terminates it;
// false (path emptied) when it does not fit with its terminator.
bool PathAssign(PathBuffer* path, const void* text, TextEncoding e);

}  // namespace qvt

#endif
