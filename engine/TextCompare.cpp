#include "TextCompare.h"

#include "TextUnits.h"

namespace qvt {

namespace {

// One character of a text as compared: its bytes, with an A-Z unit folded to
// a-z when case is ignored.
struct CompareChar {
  std::uint8_t bytes[4];
  std::uint32_t length;
};

std::uint32_t FoldUnit(std::uint32_t unit) {
  return (unit >= 'A' && unit <= 'Z') ? unit + ('a' - 'A') : unit;
}

// The character at the front of `rest`, which is consumed. A unit that
// starts no character (or one cut off by the end) is taken as one unit, or
// as the bytes that are left, so that every text can be compared and nothing
// past it is read.
CompareChar TakeChar(TextView* rest, TextEncoding e, bool ignoreCase) {
  // An unknown encoding has no characters: its texts compare as bytes.
  const std::uint32_t unit = UnitSize(e) != 0 ? UnitSize(e) : 1;
  std::uint32_t n = CharLength(e, rest->data, rest->length);
  const bool valid = n != 0;
  if (!valid) n = unit < rest->length ? unit : rest->length;
  CompareChar c{{0, 0, 0, 0}, n};
  for (std::uint32_t i = 0; i < n; ++i) c.bytes[i] = rest->data[i];
  // Only a character of one unit can be a letter: in Shift_JIS the trail
  // byte of a double-byte character may look like 'A'-'Z' and is none.
  if (ignoreCase && valid && n == unit) {
    text::WriteUnit(e, c.bytes, FoldUnit(text::ReadUnit(e, c.bytes)));
  }
  rest->data += n;
  rest->length -= n;
  return c;
}

// Byte order of two characters; a character that is a prefix of the other
// sorts first.
int CompareChars(const CompareChar& a, const CompareChar& b) {
  const std::uint32_t n = a.length < b.length ? a.length : b.length;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (a.bytes[i] != b.bytes[i]) return a.bytes[i] < b.bytes[i] ? -1 : 1;
  }
  if (a.length == b.length) return 0;
  return a.length < b.length ? -1 : 1;
}

}  // namespace

int TextCompare(TextView a, TextView b, TextEncoding e, bool ignoreCase) {
  while (a.length > 0 && b.length > 0) {
    const int order = CompareChars(TakeChar(&a, e, ignoreCase), TakeChar(&b, e, ignoreCase));
    if (order != 0) return order;
  }
  if (a.length == b.length) return 0;
  return a.length < b.length ? -1 : 1;
}

bool TextEquals(TextView a, TextView b, TextEncoding e, bool ignoreCase) {
  // Folding keeps the byte count, so texts of different lengths never match.
  return a.length == b.length && TextCompare(a, b, e, ignoreCase) == 0;
}

bool TextEqualsAscii(TextView a, TextEncoding e, const char* literal, bool ignoreCase) {
  if (literal == nullptr || UnitSize(e) == 0) return false;
  // The literal is made in e one character at a time and matched against
  // the view's characters, so no buffer limits its length.
  for (const char* c = literal; *c != '\0'; ++c) {
    const auto ch = static_cast<unsigned char>(*c);
    CompareChar made{{0, 0, 0, 0}, 0};
    made.length = EncodeAscii(e, static_cast<char>(ignoreCase ? FoldUnit(ch) : ch), made.bytes);
    if (made.length == 0 || a.length == 0) return false;
    if (CompareChars(TakeChar(&a, e, ignoreCase), made) != 0) return false;
  }
  return a.length == 0;
}

}  // namespace qvt
