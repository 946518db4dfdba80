#include "TextConvert.h"

#include <cstring>

#include "JisRowCell.h"
#include "TextCp932.h"
#include "TextUnicode.h"

namespace qvt {

namespace {

// A character copied into its own encoding is still checked, so that a
// conversion never passes on a malformed text; Shift_JIS and EUC-JP are
// checked for their byte ranges only (their tables are not asked).
bool IsWellFormed(TextEncoding e, const std::uint8_t* p, std::uint32_t n) {
  std::uint32_t codePoint = 0;
  switch (e) {
    case ENC_SHIFT_JIS: return n == 1 || text::IsShiftJisTrail(p[1]);
    case ENC_EUC_JP: return text::IsWellFormedEuc(p, n);
    default: return text::DecodeUnicode(e, p, n, &codePoint);
  }
}

// One character of inEnc (n bytes, as CharLength gave) in outEnc; the byte
// count written to out, 0 when it cannot be converted.
std::uint32_t ConvertChar(TextEncoding outEnc, TextEncoding inEnc, const std::uint8_t* p,
                          std::uint32_t n, std::uint8_t out[4]) {
  if (outEnc == inEnc) {
    if (!IsWellFormed(inEnc, p, n)) return 0;
    std::memcpy(out, p, n);
    return n;
  }
  if (inEnc == ENC_SHIFT_JIS && outEnc == ENC_EUC_JP) return text::ShiftJisToEuc(p, n, out);
  if (inEnc == ENC_EUC_JP && outEnc == ENC_SHIFT_JIS) return text::EucToShiftJis(p, n, out);
  std::uint32_t codePoint = 0;
  if (!DecodeCodePoint(inEnc, p, n, &codePoint)) return 0;
  return EncodeCodePoint(outEnc, codePoint, out);
}

// Converts every character of `in`; with dest null it only counts. Stops
// with false at the first character that is malformed, cut off by the end of
// the view or not convertible, or when the result would pass `room` bytes.
bool ConvertAll(TextEncoding outEnc, TextView in, TextEncoding inEnc, std::uint32_t room,
                std::uint8_t* dest, std::uint32_t* written) {
  std::uint32_t used = 0;
  for (std::uint32_t pos = 0; pos < in.length;) {
    const std::uint32_t n = CharLength(inEnc, in.data + pos, in.length - pos);
    std::uint8_t bytes[4];
    const std::uint32_t m = n == 0 ? 0 : ConvertChar(outEnc, inEnc, in.data + pos, n, bytes);
    if (m == 0 || m > room - used) return false;
    if (dest != nullptr) std::memcpy(dest + used, bytes, m);
    used += m;
    pos += n;
  }
  *written = used;
  return true;
}

}  // namespace

bool DecodeCodePoint(TextEncoding e, const std::uint8_t* p, std::uint32_t length,
                     std::uint32_t* codePoint) {
  if (p == nullptr || codePoint == nullptr || CharLength(e, p, length) != length) return false;
  if (e == ENC_SHIFT_JIS) return text::DecodeShiftJis(p, length, codePoint);
  if (e == ENC_EUC_JP) {
    std::uint8_t sjis[4];
    const std::uint32_t n = text::EucToShiftJis(p, length, sjis);
    return n != 0 && text::DecodeShiftJis(sjis, n, codePoint);
  }
  return text::DecodeUnicode(e, p, length, codePoint);
}

std::uint32_t EncodeCodePoint(TextEncoding e, std::uint32_t codePoint, std::uint8_t out[4]) {
  if (e == ENC_SHIFT_JIS) return text::EncodeShiftJis(codePoint, out);
  if (e == ENC_EUC_JP) {
    std::uint8_t sjis[4];
    const std::uint32_t n = text::EncodeShiftJis(codePoint, sjis);
    return n == 0 ? 0 : text::ShiftJisToEuc(sjis, n, out);
  }
  return text::IsUnicodeEncoding(e) ? text::EncodeUnicode(e, codePoint, out) : 0;
}

bool TextConvertAppend(ByteBuffer* out, TextEncoding outEnc, TextView in, TextEncoding inEnc) {
  if (out == nullptr || !IsKnownEncoding(outEnc) || !IsKnownEncoding(inEnc)) return false;
  if (in.data == nullptr && in.length != 0) return false;
  const std::uint32_t room = out->capacity - out->length;
  std::uint32_t needed = 0;
  // A first pass that only measures, so that a failure leaves even the
  // storage past the length untouched.
  if (!ConvertAll(outEnc, in, inEnc, room, nullptr, &needed)) return false;
  std::uint32_t written = 0;
  if (!ConvertAll(outEnc, in, inEnc, room, out->data + out->length, &written)) return false;
  out->length += written;
  return true;
}

}  // namespace qvt
