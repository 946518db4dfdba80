// Text encodings of the engine and the counted text slice. Shift_JIS
// (encoding 0, CP932) is also the encoding of every file name the engine
// hands to its file layer.
#ifndef QVT_ENGINE_TEXTENCODING_H
#define QVT_ENGINE_TEXTENCODING_H

#include <cstdint>

namespace qvt {

enum TextEncoding : std::uint32_t {
  ENC_SHIFT_JIS = 0,
  ENC_EUC_JP = 1,
  ENC_UTF8 = 2,
  ENC_UTF16LE = 3,
  ENC_UTF16BE = 4,
  ENC_UTF32LE = 5,
  ENC_UTF32BE = 6,
};

constexpr std::uint32_t kEncodingCount = 7;

inline bool IsKnownEncoding(std::uint32_t e) { return e < kEncodingCount; }

// A slice of someone else's text, in bytes; not NUL-terminated, not owned.
struct TextView {
  const std::uint8_t* data;
  std::uint32_t length;
};

inline TextView MakeView(const void* data, std::uint32_t length) {
  return TextView{static_cast<const std::uint8_t*>(data), length};
}

// Bytes per code unit, which is also the size of the encoding's NUL: 1, 2 or 4.
std::uint32_t UnitSize(TextEncoding e);

// Length in bytes of the character that starts at p, judged from its first
// unit as the encoding's table says; 0 when that unit cannot start a
// character or the character would run past `available` bytes.
std::uint32_t CharLength(TextEncoding e, const std::uint8_t* p, std::uint32_t available);

// Writes the ASCII character c (below 0x80) as one unit of encoding e; the
// number of bytes written (the unit size).
std::uint32_t EncodeAscii(TextEncoding e, char c, std::uint8_t out[4]);

// True when the `length` bytes at p are exactly the ASCII character c in
// encoding e (used for NUL, CR, LF, backslash, slash and dot).
bool IsAsciiChar(TextEncoding e, const std::uint8_t* p, std::uint32_t length, char c);

// Bytes before the NUL of a NUL-terminated text in encoding e.
std::uint32_t NulTerminatedLength(const void* text, TextEncoding e);

}  // namespace qvt

#endif
