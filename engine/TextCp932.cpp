#include "TextCp932.h"

#include "CodePage.h"
#include "JisRowCell.h"
#include "TextUnicode.h"

namespace qvt::text {

namespace {

// Whether a code from the table is one the engine's Shift_JIS reader accepts
// back: a half-width katakana byte, or a lead byte with a trail byte. ASCII
// is answered before the table is asked, so an ASCII code here could only be
// a stand-in for a non-ASCII character, and is refused as well.
bool IsShiftJisCode(std::uint32_t code) {
  if (code < 0x100) return code >= 0xA1 && code <= 0xDF;
  return IsShiftJisLead(static_cast<std::uint8_t>(code >> 8)) &&
         IsShiftJisTrail(static_cast<std::uint8_t>(code));
}

}  // namespace

bool DecodeShiftJis(const std::uint8_t* p, std::uint32_t length, std::uint32_t* codePoint) {
  std::uint16_t code = 0;
  if (length == 1) {
    // CP932 leaves ASCII as it is (0x5C is the backslash, not a yen sign).
    if (p[0] < 0x80) {
      *codePoint = p[0];
      return true;
    }
    code = p[0];
  } else {
    if (length != 2 || !IsShiftJisTrail(p[1])) return false;
    code = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
  }
  char16_t unit = 0;
  if (!platform::Cp932ToUnicode(code, &unit) || IsSurrogate(unit)) return false;
  *codePoint = unit;
  return true;
}

std::uint32_t EncodeShiftJis(std::uint32_t codePoint, std::uint8_t out[4]) {
  if (codePoint < 0x80) {
    out[0] = static_cast<std::uint8_t>(codePoint);
    return 1;
  }
  if (codePoint > 0xFFFF || IsSurrogate(codePoint)) return 0;
  std::uint16_t code = 0;
  // The platform's table holds round trips only (no "best fit"); what it
  // does not rule out is a single byte the engine does not read as a
  // character (Windows gives U+0080 the byte 0x80, U+F8F0 the byte 0xA0).
  if (!platform::UnicodeToCp932(static_cast<char16_t>(codePoint), &code) || !IsShiftJisCode(code)) {
    return 0;
  }
  if (code < 0x100) {
    out[0] = static_cast<std::uint8_t>(code);
    return 1;
  }
  out[0] = static_cast<std::uint8_t>(code >> 8);
  out[1] = static_cast<std::uint8_t>(code);
  return 2;
}

}  // namespace qvt::text
