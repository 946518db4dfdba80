// Code units read and written with their byte order spelled out, so that the
// host's order and the alignment of a text never matter. Private to the
// engine's text files.
#ifndef QVT_ENGINE_TEXTUNITS_H
#define QVT_ENGINE_TEXTUNITS_H

#include <cstdint>

#include "TextEncoding.h"

namespace qvt::text {

inline std::uint32_t ReadLE16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}
inline std::uint32_t ReadBE16(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 8) | static_cast<std::uint32_t>(p[1]);
}
inline std::uint32_t ReadLE32(const std::uint8_t* p) {
  return ReadLE16(p) | (ReadLE16(p + 2) << 16);
}
inline std::uint32_t ReadBE32(const std::uint8_t* p) {
  return (ReadBE16(p) << 16) | ReadBE16(p + 2);
}

inline void WriteLE16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void WriteBE16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void WriteLE32(std::uint8_t* p, std::uint32_t v) {
  WriteLE16(p, v);
  WriteLE16(p + 2, v >> 16);
}
inline void WriteBE32(std::uint8_t* p, std::uint32_t v) {
  WriteBE16(p, v >> 16);
  WriteBE16(p + 2, v);
}

// The value of the code unit at p (UnitSize(e) readable bytes), in e's byte
// order; the byte itself for the 1-byte encodings.
inline std::uint32_t ReadUnit(TextEncoding e, const std::uint8_t* p) {
  switch (e) {
    case ENC_UTF16LE: return ReadLE16(p);
    case ENC_UTF16BE: return ReadBE16(p);
    case ENC_UTF32LE: return ReadLE32(p);
    case ENC_UTF32BE: return ReadBE32(p);
    default: return p[0];
  }
}

// Writes one code unit of e at p (UnitSize(e) bytes).
inline void WriteUnit(TextEncoding e, std::uint8_t* p, std::uint32_t v) {
  switch (e) {
    case ENC_UTF16LE: WriteLE16(p, v); break;
    case ENC_UTF16BE: WriteBE16(p, v); break;
    case ENC_UTF32LE: WriteLE32(p, v); break;
    case ENC_UTF32BE: WriteBE32(p, v); break;
    default: p[0] = static_cast<std::uint8_t>(v); break;
  }
}

// Looks for the NUL unit of a NUL-terminated text without reading more than
// maxBytes + one unit: true with the byte length when the NUL starts at or
// before maxBytes. Callers that need only a bounded text (a path) use it so
// that an overlong text is not read to its end.
bool FindNul(const void* text, TextEncoding e, std::uint32_t maxBytes, std::uint32_t* length);

}  // namespace qvt::text

#endif
