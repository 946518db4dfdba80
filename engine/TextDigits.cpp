#include "TextDigits.h"

namespace qvt::text {

namespace {

// Appends the digits of v to d (which may hold a sign already).
void AppendDigits(Digits* d, std::uint64_t v, std::uint32_t base, bool uppercase) {
  const char* symbols = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
  char reversed[24];
  std::uint32_t n = 0;
  do {
    reversed[n++] = symbols[v % base];
    v /= base;
  } while (v != 0);
  while (n > 0) d->text[d->length++] = reversed[--n];
}

}  // namespace

Digits UnsignedDigits(std::uint64_t v, std::uint32_t base, bool uppercase) {
  Digits d{{}, 0};
  AppendDigits(&d, v, base == 16 ? 16 : 10, uppercase);
  return d;
}

Digits SignedDigits(std::int64_t v) {
  Digits d{{}, 0};
  if (v < 0) d.text[d.length++] = '-';
  // The magnitude in unsigned arithmetic: -INT64_MIN does not fit an int64_t.
  const std::uint64_t magnitude =
      v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  AppendDigits(&d, magnitude, 10, false);
  return d;
}

}  // namespace qvt::text
