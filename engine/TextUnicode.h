// The Unicode encoding forms (UTF-8, UTF-16LE/BE, UTF-32LE/BE), one
// character at a time, with everything that is not a scalar value refused.
#ifndef QVT_ENGINE_TEXTUNICODE_H
#define QVT_ENGINE_TEXTUNICODE_H

#include <cstdint>

#include "TextEncoding.h"

namespace qvt::text {

inline bool IsUnicodeEncoding(TextEncoding e) { return e >= ENC_UTF8 && e <= ENC_UTF32BE; }
inline bool IsSurrogate(std::uint32_t v) { return v >= 0xD800 && v <= 0xDFFF; }
inline bool IsScalarValue(std::uint32_t v) { return v <= 0x10FFFF && !IsSurrogate(v); }

// One character of a Unicode encoding e, `length` bytes as CharLength gave
// them; false for an overlong or otherwise malformed UTF-8 sequence, an
// unpaired surrogate, or a value that is no scalar value.
bool DecodeUnicode(TextEncoding e, const std::uint8_t* p, std::uint32_t length,
                   std::uint32_t* codePoint);

// A scalar value in Unicode encoding e; the byte count, 0 for a surrogate or
// a value beyond U+10FFFF.
std::uint32_t EncodeUnicode(TextEncoding e, std::uint32_t codePoint, std::uint8_t out[4]);

}  // namespace qvt::text

#endif
