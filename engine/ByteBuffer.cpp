#include "ByteBuffer.h"

#include <cstring>

#include "TextUnits.h"

namespace qvt {

namespace {

// Written as capacity - length so that a large n cannot wrap the sum.
bool Fits(const ByteBuffer& b, std::uint32_t n) { return n <= b.capacity - b.length; }

}  // namespace

void BufferInit(ByteBuffer* b, void* storage, std::uint32_t capacity) {
  b->data = static_cast<std::uint8_t*>(storage);
  b->length = 0;
  b->capacity = storage != nullptr ? capacity : 0;
}

void BufferReset(ByteBuffer* b) { b->length = 0; }

bool BufferAppend(ByteBuffer* b, const void* bytes, std::uint32_t n) {
  if (!Fits(*b, n)) return false;
  if (n == 0) return true;
  if (bytes == nullptr) return false;
  // memmove: the bytes may come from this buffer's own storage.
  std::memmove(b->data + b->length, bytes, n);
  b->length += n;
  return true;
}

bool BufferAppendBuffer(ByteBuffer* b, const ByteBuffer& other) {
  return BufferAppend(b, other.data, other.length);
}

bool BufferAppendView(ByteBuffer* b, TextView view) {
  return BufferAppend(b, view.data, view.length);
}

bool BufferAssign(ByteBuffer* b, const void* bytes, std::uint32_t n) {
  BufferReset(b);
  return BufferAppend(b, bytes, n);
}

void BufferFill(ByteBuffer* b, std::uint8_t value) {
  if (b->data == nullptr || b->length >= b->capacity) return;
  std::memset(b->data + b->length, value, b->capacity - b->length);
}

void BufferSwap(ByteBuffer* a, ByteBuffer* b) {
  const ByteBuffer t = *a;
  *a = *b;
  *b = t;
}

bool BufferTerminate(ByteBuffer* b, TextEncoding e) {
  const std::uint32_t unit = UnitSize(e);
  if (unit == 0 || !Fits(*b, unit)) return false;
  std::memset(b->data + b->length, 0, unit);
  return true;
}

PathBuffer::PathBuffer() : buffer{}, storage{} { BufferInit(&buffer, storage, kPathBufferSize); }

PathBuffer::PathBuffer(const PathBuffer& other) : PathBuffer() { *this = other; }

PathBuffer& PathBuffer::operator=(const PathBuffer& other) {
  if (this == &other) return *this;
  // The whole storage, so that the terminator behind the text comes along;
  // the buffer keeps pointing at this object's own storage.
  std::memcpy(storage, other.storage, kPathBufferSize);
  BufferInit(&buffer, storage, kPathBufferSize);
  buffer.length = other.buffer.length <= kPathBufferSize ? other.buffer.length : 0;
  return *this;
}

bool PathAssign(PathBuffer* path, const void* text, TextEncoding e) {
  const std::uint32_t unit = UnitSize(e);
  std::uint32_t length = 0;
  // The NUL of a text that fits starts at kPathBufferSize - unit at the
  // latest; the scan stops there, so an overlong text is not read to its end.
  const bool ok = unit != 0 && text::FindNul(text, e, kPathBufferSize - unit, &length) &&
                  BufferAssign(&path->buffer, text, length) && BufferTerminate(&path->buffer, e);
  if (!ok) {
    BufferReset(&path->buffer);
    // Emptied, and still terminated in every encoding.
    std::memset(path->storage, 0, 4);
  }
  return ok;
}

}  // namespace qvt
