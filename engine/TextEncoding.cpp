#include "TextEncoding.h"

#include "TextUnits.h"

namespace qvt {

namespace {

std::uint32_t ShiftJisLength(std::uint8_t b) {
  if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) return 1;
  if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) return 2;
  return 0;
}

std::uint32_t EucJpLength(std::uint8_t b) {
  if (b < 0x80) return 1;
  if (b == 0x8E) return 2;  // half-width katakana
  if (b == 0x8F) return 3;  // JIS X 0212
  if (b >= 0xA1 && b <= 0xFE) return 2;
  return 0;
}

std::uint32_t Utf8Length(std::uint8_t b) {
  if (b < 0x80) return 1;
  // 0xC0 and 0xC1 could only start overlong forms, 0xF5 and up only values
  // beyond U+10FFFF, so they start nothing.
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 0;
}

std::uint32_t Utf16Length(std::uint32_t unit) { return (unit >= 0xD800 && unit <= 0xDBFF) ? 4 : 2; }

// The length the first unit announces, before checking what is available.
std::uint32_t AnnouncedLength(TextEncoding e, const std::uint8_t* p) {
  switch (e) {
    case ENC_SHIFT_JIS: return ShiftJisLength(p[0]);
    case ENC_EUC_JP: return EucJpLength(p[0]);
    case ENC_UTF8: return Utf8Length(p[0]);
    case ENC_UTF16LE:
    case ENC_UTF16BE: return Utf16Length(text::ReadUnit(e, p));
    case ENC_UTF32LE:
    case ENC_UTF32BE: return 4;
  }
  return 0;
}

bool IsZeroUnit(const std::uint8_t* p, std::uint32_t unit) {
  for (std::uint32_t i = 0; i < unit; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

std::uint32_t UnitSize(TextEncoding e) {
  switch (e) {
    case ENC_SHIFT_JIS:
    case ENC_EUC_JP:
    case ENC_UTF8: return 1;
    case ENC_UTF16LE:
    case ENC_UTF16BE: return 2;
    case ENC_UTF32LE:
    case ENC_UTF32BE: return 4;
  }
  return 0;
}

std::uint32_t CharLength(TextEncoding e, const std::uint8_t* p, std::uint32_t available) {
  const std::uint32_t unit = UnitSize(e);
  // The first unit has to be there whole before it can be judged.
  if (unit == 0 || p == nullptr || available < unit) return 0;
  const std::uint32_t n = AnnouncedLength(e, p);
  return n <= available ? n : 0;
}

std::uint32_t EncodeAscii(TextEncoding e, char c, std::uint8_t out[4]) {
  const auto value = static_cast<unsigned char>(c);
  const std::uint32_t unit = UnitSize(e);
  if (unit == 0 || value >= 0x80) return 0;
  text::WriteUnit(e, out, value);
  return unit;
}

bool IsAsciiChar(TextEncoding e, const std::uint8_t* p, std::uint32_t length, char c) {
  std::uint8_t unit[4];
  const std::uint32_t n = EncodeAscii(e, c, unit);
  if (n == 0 || length != n || p == nullptr) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (p[i] != unit[i]) return false;
  }
  return true;
}

bool text::FindNul(const void* textBytes, TextEncoding e, std::uint32_t maxBytes,
                   std::uint32_t* length) {
  const std::uint32_t unit = UnitSize(e);
  if (textBytes == nullptr || unit == 0) return false;
  const auto* p = static_cast<const std::uint8_t*>(textBytes);
  // i stays below maxBytes + unit, so it cannot wrap while maxBytes leaves
  // room for one unit below 2^32.
  const std::uint32_t bound = maxBytes > UINT32_MAX - unit ? UINT32_MAX - unit : maxBytes;
  for (std::uint32_t i = 0; i <= bound; i += unit) {
    if (IsZeroUnit(p + i, unit)) {
      *length = i;
      return true;
    }
  }
  return false;
}

std::uint32_t NulTerminatedLength(const void* textBytes, TextEncoding e) {
  std::uint32_t length = 0;
  // A text without a NUL in the first 4 GiB is not a text the engine makes;
  // 0 is what it gets rather than a wrapped count.
  return text::FindNul(textBytes, e, UINT32_MAX, &length) ? length : 0;
}

}  // namespace qvt
