// Conversions between the engine's text encodings.
#ifndef QVT_ENGINE_TEXTCONVERT_H
#define QVT_ENGINE_TEXTCONVERT_H

#include <cstdint>

#include "ByteBuffer.h"
#include "TextEncoding.h"

namespace qvt {

// Appends `in` (encoding inEnc) to `out` converted to outEnc. Shift_JIS and
// EUC-JP convert into each other arithmetically (JIS X 0208 row and cell,
// half-width katakana as 0x8E plus the byte); Shift_JIS to and from Unicode
// through the platform's CP932 tables, EUC-JP by way of Shift_JIS; the
// Unicode forms through code points. Fails, leaving `out` as it was, when a
// character is malformed or cut off, cannot be represented in outEnc (a code
// point above U+FFFF in encodings 0 and 1, for one), or does not fit.
bool TextConvertAppend(ByteBuffer* out, TextEncoding outEnc, TextView in, TextEncoding inEnc);

// One character at p (`length` bytes, as CharLength gave) to its code point;
// false when malformed or not mapped to Unicode.
bool DecodeCodePoint(TextEncoding e, const std::uint8_t* p, std::uint32_t length,
                     std::uint32_t* codePoint);
// A code point in encoding e into out (up to 4 bytes); the byte count, or 0
// when e cannot represent it.
std::uint32_t EncodeCodePoint(TextEncoding e, std::uint32_t codePoint, std::uint8_t out[4]);

}  // namespace qvt

#endif
