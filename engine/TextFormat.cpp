#include "TextFormat.h"

#include <cstring>

#include "TextConvert.h"
#include "TextDigits.h"
#include "TextUnits.h"

namespace qvt {

namespace {

// The first of these letters ends a conversion; those the engine does not
// implement fail the call rather than print something unexpected.
constexpr char kConversionLetters[] = "dicCouxXeEfFgGaAsSpwt";

// A width is refused once one more digit could overflow 32 bits; no buffer
// (its capacity is 32-bit) could hold such a field anyway.
constexpr std::uint32_t kMaxWidth = 0xFFFFFFFFu / 10 - 1;

struct Formatter {
  ByteBuffer* out;
  TextEncoding outEnc;
  std::va_list* args;
};

struct Conversion {
  bool zeroPad;
  std::uint32_t width;
  char letter;
};

// The ASCII value of a character of e (n bytes), or -1 when it is no ASCII
// character. Walking the format by characters keeps a Shift_JIS trail byte
// that looks like '%' or 'd' from being taken for one.
int AsciiOf(TextEncoding e, const std::uint8_t* p, std::uint32_t n) {
  if (n != UnitSize(e)) return -1;
  const std::uint32_t unit = text::ReadUnit(e, p);
  return unit < 0x80 ? static_cast<int>(unit) : -1;
}

bool IsConversionLetter(int c) { return c > 0 && std::strchr(kConversionLetters, c) != nullptr; }

// Appends ASCII text (at most a Digits' worth) in one piece.
bool AppendAscii(const Formatter& f, const char* text, std::uint32_t n) {
  std::uint8_t bytes[sizeof(text::Digits::text) * 4];
  std::uint32_t used = 0;
  for (std::uint32_t i = 0; i < n && i < sizeof(text::Digits::text); ++i) {
    used += EncodeAscii(f.outEnc, text[i], bytes + used);
  }
  return BufferAppend(f.out, bytes, used);
}

bool AppendDigits(const Formatter& f, const text::Digits& d) {
  return AppendAscii(f, d.text, d.length);
}

bool AppendPadded(const Formatter& f, const Conversion& c, const text::Digits& d) {
  // The padded number is appended whole or not at all, like every other
  // piece; 64-bit so that a width near 2^32 cannot wrap the size.
  const std::uint64_t units = c.width > d.length ? c.width : d.length;
  if (units * UnitSize(f.outEnc) > f.out->capacity - f.out->length) return false;
  const char pad = c.zeroPad ? '0' : ' ';
  for (std::uint32_t n = d.length; n < c.width; ++n) AppendAscii(f, &pad, 1);
  return AppendDigits(f, d);
}

bool AppendCharacter(const Formatter& f, unsigned int value) {
  if (value > 127) return false;
  const char c = static_cast<char>(value);
  return AppendAscii(f, &c, 1);
}

bool AppendString(const Formatter& f, const void* str, unsigned int enc) {
  if (str == nullptr || !IsKnownEncoding(enc)) return false;
  const auto e = static_cast<TextEncoding>(enc);
  return TextConvertAppend(f.out, f.outEnc, MakeView(str, NulTerminatedLength(str, e)), e);
}

bool AppendView(const Formatter& f, TextView view, unsigned int enc) {
  if (!IsKnownEncoding(enc)) return false;
  return TextConvertAppend(f.out, f.outEnc, view, static_cast<TextEncoding>(enc));
}

// Takes the conversion's arguments and appends its text. The encodings are
// read as unsigned int: a TextEncoding argument is promoted to its
// underlying type on the way through "...".
bool Convert(const Formatter& f, const Conversion& c) {
  std::va_list& args = *f.args;
  switch (c.letter) {
    case 'd':
    case 'i': return AppendDigits(f, text::SignedDigits(va_arg(args, int)));
    case 'u':
      return AppendPadded(f, c, text::UnsignedDigits(va_arg(args, unsigned int), 10, false));
    case 'x':
      return AppendPadded(f, c, text::UnsignedDigits(va_arg(args, unsigned int), 16, false));
    case 'X': return AppendPadded(f, c, text::UnsignedDigits(va_arg(args, unsigned int), 16, true));
    case 'c': return AppendCharacter(f, va_arg(args, unsigned int));
    case 'w': return AppendDigits(f, text::SignedDigits(va_arg(args, std::int64_t)));
    case 's': {
      const void* str = va_arg(args, const void*);
      return AppendString(f, str, va_arg(args, unsigned int));
    }
    case 't': {
      const TextView view = va_arg(args, TextView);
      return AppendView(f, view, va_arg(args, unsigned int));
    }
    default: return false;
  }
}

// Reads what follows a "%" up to and including the conversion letter:
// an optional leading "0", then decimal digits for the width. *pos moves past
// the letter. False for anything else between "%" and the letter, and for a
// format that ends before the letter.
bool ParseConversion(TextView format, TextEncoding e, std::uint32_t* pos, Conversion* c) {
  *c = Conversion{false, 0, 0};
  for (bool first = true; *pos < format.length; first = false) {
    const std::uint32_t n = CharLength(e, format.data + *pos, format.length - *pos);
    const int ascii = n == 0 ? -1 : AsciiOf(e, format.data + *pos, n);
    if (ascii < 0) return false;
    *pos += n;
    if (IsConversionLetter(ascii)) {
      c->letter = static_cast<char>(ascii);
      return true;
    }
    if (ascii < '0' || ascii > '9' || c->width > kMaxWidth) return false;
    if (first && ascii == '0') {
      c->zeroPad = true;
    } else {
      c->width = c->width * 10 + static_cast<std::uint32_t>(ascii - '0');
    }
  }
  return false;
}

// Handles the "%" that ends at *pos: "%%" or one conversion.
bool FormatPercent(const Formatter& f, TextView format, TextEncoding e, std::uint32_t* pos) {
  const std::uint32_t n = CharLength(e, format.data + *pos, format.length - *pos);
  if (n != 0 && IsAsciiChar(e, format.data + *pos, n, '%')) {
    *pos += n;
    return AppendAscii(f, "%", 1);
  }
  Conversion c{};
  return ParseConversion(format, e, pos, &c) && Convert(f, c);
}

bool FormatAll(const Formatter& f, TextView format, TextEncoding e) {
  std::uint32_t runStart = 0;
  std::uint32_t pos = 0;
  while (pos < format.length) {
    const std::uint32_t n = CharLength(e, format.data + pos, format.length - pos);
    // A malformed character fails the literal run it stands in.
    if (n == 0) return false;
    if (!IsAsciiChar(e, format.data + pos, n, '%')) {
      pos += n;
      continue;
    }
    const TextView run = MakeView(format.data + runStart, pos - runStart);
    pos += n;
    if (!TextConvertAppend(f.out, f.outEnc, run, e) || !FormatPercent(f, format, e, &pos)) {
      return false;
    }
    runStart = pos;
  }
  return TextConvertAppend(f.out, f.outEnc, MakeView(format.data + runStart, pos - runStart), e);
}

}  // namespace

bool TextFormatV(ByteBuffer* out, TextEncoding outEnc, const void* format, TextEncoding formatEnc,
                 std::va_list args) {
  if (out == nullptr || format == nullptr || !IsKnownEncoding(outEnc) ||
      !IsKnownEncoding(formatEnc)) {
    return false;
  }
  // A copy of our own, whose address can be handed on: where va_list is an
  // array type, &args of the parameter is not a va_list*.
  std::va_list copy;
  va_copy(copy, args);
  const Formatter f{out, outEnc, &copy};
  const TextView view = MakeView(format, NulTerminatedLength(format, formatEnc));
  const bool ok = FormatAll(f, view, formatEnc);
  va_end(copy);
  return ok && BufferTerminate(out, outEnc);
}

bool TextFormat(ByteBuffer* out, TextEncoding outEnc, const void* format, TextEncoding formatEnc,
                ...) {
  std::va_list args;
  va_start(args, formatEnc);
  const bool ok = TextFormatV(out, outEnc, format, formatEnc, args);
  va_end(args);
  return ok;
}

}  // namespace qvt
