#include "TextUnicode.h"

#include "TextUnits.h"

namespace qvt::text {

namespace {

bool IsContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

bool DecodeUtf8(const std::uint8_t* p, std::uint32_t length, std::uint32_t* codePoint) {
  // The smallest value each length may carry; anything below is overlong.
  static constexpr std::uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
  static constexpr std::uint8_t kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  if (length < 1 || length > 4 || CharLength(ENC_UTF8, p, length) != length) return false;
  std::uint32_t v = p[0] & kLeadBits[length];
  for (std::uint32_t i = 1; i < length; ++i) {
    if (!IsContinuation(p[i])) return false;
    v = (v << 6) | (p[i] & 0x3Fu);
  }
  if (v < kMinimum[length] || !IsScalarValue(v)) return false;
  *codePoint = v;
  return true;
}

bool DecodeUtf16(TextEncoding e, const std::uint8_t* p, std::uint32_t length,
                 std::uint32_t* codePoint) {
  const std::uint32_t first = ReadUnit(e, p);
  if (length == 2) {
    if (IsSurrogate(first)) return false;  // a lone half of a pair
    *codePoint = first;
    return true;
  }
  const std::uint32_t second = ReadUnit(e, p + 2);
  if (length != 4 || first < 0xD800 || first > 0xDBFF || second < 0xDC00 || second > 0xDFFF) {
    return false;
  }
  *codePoint = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
  return true;
}

std::uint32_t EncodeUtf8(std::uint32_t v, std::uint8_t out[4]) {
  if (v < 0x80) {
    out[0] = static_cast<std::uint8_t>(v);
    return 1;
  }
  std::uint32_t n = v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;
  static constexpr std::uint8_t kLeadMark[5] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::uint32_t i = n - 1; i > 0; --i) {
    out[i] = static_cast<std::uint8_t>(0x80 | (v & 0x3F));
    v >>= 6;
  }
  out[0] = static_cast<std::uint8_t>(kLeadMark[n] | v);
  return n;
}

std::uint32_t EncodeUtf16(TextEncoding e, std::uint32_t v, std::uint8_t out[4]) {
  if (v < 0x10000) {
    WriteUnit(e, out, v);
    return 2;
  }
  const std::uint32_t offset = v - 0x10000;
  WriteUnit(e, out, 0xD800 + (offset >> 10));
  WriteUnit(e, out + 2, 0xDC00 + (offset & 0x3FF));
  return 4;
}

}  // namespace

bool DecodeUnicode(TextEncoding e, const std::uint8_t* p, std::uint32_t length,
                   std::uint32_t* codePoint) {
  switch (e) {
    case ENC_UTF8: return DecodeUtf8(p, length, codePoint);
    case ENC_UTF16LE:
    case ENC_UTF16BE: return DecodeUtf16(e, p, length, codePoint);
    case ENC_UTF32LE:
    case ENC_UTF32BE: {
      if (length != 4) return false;
      const std::uint32_t v = ReadUnit(e, p);
      if (!IsScalarValue(v)) return false;
      *codePoint = v;
      return true;
    }
    default: return false;
  }
}

std::uint32_t EncodeUnicode(TextEncoding e, std::uint32_t codePoint, std::uint8_t out[4]) {
  if (!IsScalarValue(codePoint)) return 0;
  switch (e) {
    case ENC_UTF8: return EncodeUtf8(codePoint, out);
    case ENC_UTF16LE:
    case ENC_UTF16BE: return EncodeUtf16(e, codePoint, out);
    case ENC_UTF32LE:
    case ENC_UTF32BE: WriteUnit(e, out, codePoint); return 4;
    default: return 0;
  }
}

}  // namespace qvt::text
