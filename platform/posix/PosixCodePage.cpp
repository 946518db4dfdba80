// CP932 <-> UTF-16 through two tables that glibc's iconv fills once.
//
// The CP932 -> Unicode table asks iconv for every single byte and every
// lead/trail pair. The Unicode -> CP932 table asks iconv for every BMP unit
// instead of inverting the first table, because CP932 has duplicate codes
// (NEC row 13, the NEC-selected IBM extensions at 0xED/0xEE, the IBM
// extensions at 0xFA..0xFC) and the converter knows which one Windows picks.
// glibc also has one-way mappings Windows does not make without best fit
// (U+00A5 -> 0x5C, U+301C -> 0x8160, ...); a unit whose code does not decode
// back to the same unit is therefore refused, as WC_NO_BEST_FIT_CHARS does.
#include "CodePage.h"

#include <iconv.h>
#include <mutex>

namespace qvt::platform {

namespace {

constexpr char16_t kNoUnit = 0xFFFF;        // U+FFFF: no CP932 code gives it
constexpr std::uint16_t kNoCode = 0xFFFF;   // 0xFF is no lead byte

struct Cp932Tables {
  bool ready = false;  // false when iconv lacks CP932: every lookup fails
  char16_t toUnicode[0x10000];
  std::uint16_t toCp932[0x10000];
};

Cp932Tables g_tables;
std::once_flag g_tablesOnce;

bool IsLeadByte(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrailByte(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
// Single bytes CP932 leaves undefined. Windows' converter (and Wine's) hands
// 0x80 through as U+0080 and may give private-use units for the others;
// none of them is a CP932 character, and both systems must agree.
bool IsSingleByteHole(unsigned b) { return b == 0x80 || b == 0xA0 || b >= 0xFD; }

// Converts `inLength` bytes; true when all of them became exactly
// `outLength` bytes of output (at most 2).
bool ConvertExactly(iconv_t cd, const unsigned char* in, std::size_t inLength,
                    unsigned char* out, std::size_t* outLength) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  // iconv's input is char**, though it only reads through it.
  char* source = const_cast<char*>(reinterpret_cast<const char*>(in));
  char* target = reinterpret_cast<char*>(out);
  std::size_t sourceLeft = inLength;
  std::size_t targetLeft = 2;
  if (iconv(cd, &source, &sourceLeft, &target, &targetLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  *outLength = 2 - targetLeft;
  return sourceLeft == 0 && *outLength > 0;
}

void FillForward(iconv_t cd) {
  for (char16_t& unit : g_tables.toUnicode) unit = kNoUnit;
  auto add = [cd](const unsigned char* bytes, std::size_t length, std::uint16_t code) {
    unsigned char out[2];
    std::size_t produced;
    if (!ConvertExactly(cd, bytes, length, out, &produced) || produced != 2) return;
    const char16_t unit = static_cast<char16_t>(out[0] | (out[1] << 8));
    if (unit >= 0xD800 && unit <= 0xDFFF) return;
    g_tables.toUnicode[code] = unit;
  };
  for (unsigned b = 0; b < 0x100; ++b) {
    if (IsSingleByteHole(b)) continue;
    const unsigned char byte = static_cast<unsigned char>(b);
    add(&byte, 1, static_cast<std::uint16_t>(b));
  }
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsLeadByte(lead)) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (!IsTrailByte(trail)) continue;
      const unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                     static_cast<unsigned char>(trail)};
      add(pair, 2, static_cast<std::uint16_t>((lead << 8) | trail));
    }
  }
}

void FillReverse(iconv_t cd) {
  for (std::uint16_t& code : g_tables.toCp932) code = kNoCode;
  for (unsigned u = 0; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    const unsigned char in[2] = {static_cast<unsigned char>(u & 0xFF),
                                 static_cast<unsigned char>(u >> 8)};
    unsigned char out[2];
    std::size_t produced;
    if (!ConvertExactly(cd, in, 2, out, &produced)) continue;
    std::uint16_t code;
    if (produced == 1) {
      code = out[0];
    } else if (IsLeadByte(out[0])) {
      code = static_cast<std::uint16_t>((out[0] << 8) | out[1]);
    } else {
      continue;  // two single-byte characters: not one code
    }
    if (g_tables.toUnicode[code] != u) continue;  // a best-fit mapping
    g_tables.toCp932[u] = code;
  }
}

void BuildTables() {
  const iconv_t toUnicode = iconv_open("UTF-16LE", "CP932");
  const iconv_t fromUnicode = iconv_open("CP932", "UTF-16LE");
  const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);
  if (toUnicode != kFailed && fromUnicode != kFailed) {
    FillForward(toUnicode);
    FillReverse(fromUnicode);
    g_tables.ready = true;
  }
  if (toUnicode != kFailed) iconv_close(toUnicode);
  if (fromUnicode != kFailed) iconv_close(fromUnicode);
}

const Cp932Tables& Tables() {
  std::call_once(g_tablesOnce, BuildTables);
  return g_tables;
}

}  // namespace

bool Cp932ToUnicode(std::uint16_t code, char16_t* unit) {
  const Cp932Tables& tables = Tables();
  if (!tables.ready || tables.toUnicode[code] == kNoUnit) return false;
  *unit = tables.toUnicode[code];
  return true;
}

bool UnicodeToCp932(char16_t unit, std::uint16_t* code) {
  const Cp932Tables& tables = Tables();
  if (!tables.ready || tables.toCp932[unit] == kNoCode) return false;
  *code = tables.toCp932[unit];
  return true;
}

}  // namespace qvt::platform
