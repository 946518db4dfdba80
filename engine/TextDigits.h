// The ASCII digits of an integer, for the formatter.
#ifndef QVT_ENGINE_TEXTDIGITS_H
#define QVT_ENGINE_TEXTDIGITS_H

#include <cstdint>

namespace qvt::text {

// Room for the 20 digits of 2^64 - 1 and a minus sign.
struct Digits {
  char text[24];
  std::uint32_t length;
};

// v in base 10 or 16 (lowercase or uppercase letters), no sign, no padding.
Digits UnsignedDigits(std::uint64_t v, std::uint32_t base, bool uppercase);
// v in decimal, with a minus sign when negative (INT64_MIN included).
Digits SignedDigits(std::int64_t v);

}  // namespace qvt::text

#endif
