// The Unicode -> CP932 table asks the converter for every BMP unit instead of
// inverting the other table, because CP932 has duplicate codes (NEC row 13,
// the NEC-selected IBM extensions at 0xED/0xEE, the IBM extensions at
// 0xFA..0xFC) and only the converter knows which one Windows picks. A unit
// whose code does not decode back to the same unit is refused, so that the
// tables hold round trips only and agree between systems (glibc's one-way
// U+00A5 -> 0x5C, for one, is left out).
#include "Cp932Tables.h"

#include <mutex>

#include "CodePage.h"

namespace qvt::platform {
namespace {

constexpr char16_t kNoUnit = 0xFFFF;       // U+FFFF: no CP932 code gives it
constexpr std::uint16_t kNoCode = 0xFFFF;  // 0xFF is no lead byte

struct Tables {
  bool ready = false;  // false when the system lacks CP932: every lookup fails
  char16_t toUnicode[0x10000];
  std::uint16_t toCp932[0x10000];
};

Tables g_tables;
std::once_flag g_tablesOnce;

bool IsLeadByte(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrailByte(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
bool IsSurrogate(unsigned u) { return u >= 0xD800 && u <= 0xDFFF; }
// Single bytes CP932 leaves undefined. Windows' converter (and Wine's) hands
// 0x80 through as U+0080 and may give private-use units for the others;
// none of them is a CP932 character, and both systems must agree.
bool IsSingleByteHole(unsigned b) { return b == 0x80 || b == 0xA0 || b >= 0xFD; }

void Decode(const Cp932Converter& c, const unsigned char* bytes, std::size_t length,
            std::uint16_t code) {
  char16_t unit = 0;
  if (c.decode(c.context, bytes, length, &unit) && !IsSurrogate(unit)) {
    g_tables.toUnicode[code] = unit;
  }
}

void FillForward(const Cp932Converter& c) {
  for (char16_t& unit : g_tables.toUnicode) unit = kNoUnit;
  for (unsigned b = 0; b < 0x100; ++b) {
    if (IsSingleByteHole(b)) continue;
    const auto byte = static_cast<unsigned char>(b);
    Decode(c, &byte, 1, static_cast<std::uint16_t>(b));
  }
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsLeadByte(lead)) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (!IsTrailByte(trail)) continue;
      const unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                     static_cast<unsigned char>(trail)};
      Decode(c, pair, 2, static_cast<std::uint16_t>((lead << 8) | trail));
    }
  }
}

void FillReverse(const Cp932Converter& c) {
  for (std::uint16_t& code : g_tables.toCp932) code = kNoCode;
  for (unsigned u = 0; u < 0x10000; ++u) {
    if (IsSurrogate(u)) continue;
    unsigned char out[2];
    std::size_t length = 0;
    if (!c.encode(c.context, static_cast<char16_t>(u), out, &length)) continue;
    std::uint16_t code;
    if (length == 1) {
      code = out[0];
    } else if (length == 2 && IsLeadByte(out[0])) {
      code = static_cast<std::uint16_t>((out[0] << 8) | out[1]);
    } else {
      continue;  // two single-byte characters: not one code
    }
    if (g_tables.toUnicode[code] != u) continue;  // a one-way mapping
    g_tables.toCp932[u] = code;
  }
}

void Fill(const Cp932Converter& converter, void* /*state*/) {
  FillForward(converter);
  FillReverse(converter);
}

const Tables& TablesOnce() {
  std::call_once(g_tablesOnce, [] { g_tables.ready = WithSystemCp932Converter(&Fill, nullptr); });
  return g_tables;
}

}  // namespace

bool Cp932ToUnicode(std::uint16_t code, char16_t* unit) {
  const Tables& tables = TablesOnce();
  if (!tables.ready || tables.toUnicode[code] == kNoUnit) return false;
  *unit = tables.toUnicode[code];
  return true;
}

bool UnicodeToCp932(char16_t unit, std::uint16_t* code) {
  const Tables& tables = TablesOnce();
  if (!tables.ready || tables.toCp932[unit] == kNoCode) return false;
  *code = tables.toCp932[unit];
  return true;
}

}  // namespace qvt::platform
