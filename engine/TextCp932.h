// Shift_JIS (CP932) characters to and from code points through the
// platform's CP932 tables.
#ifndef QVT_ENGINE_TEXTCP932_H
#define QVT_ENGINE_TEXTCP932_H

#include <cstdint>

namespace qvt::text {

// One Shift_JIS character (`length` bytes, 1 or 2, as CharLength gave them)
// to its code point; false when the trail byte is not one or CP932 does not
// define the character.
bool DecodeShiftJis(const std::uint8_t* p, std::uint32_t length, std::uint32_t* codePoint);

// A code point in Shift_JIS; the byte count, 0 when CP932 has no exact form
// for it (code points beyond the Basic Multilingual Plane never have one).
std::uint32_t EncodeShiftJis(std::uint32_t codePoint, std::uint8_t out[4]);

}  // namespace qvt::text

#endif
