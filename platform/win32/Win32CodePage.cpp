// CP932 <-> UTF-16 through two tables that Windows' own converter fills once.
//
// CP932 -> Unicode asks MultiByteToWideChar for every single byte and every
// lead/trail pair. Unicode -> CP932 asks WideCharToMultiByte for every BMP
// unit instead of inverting the first table: CP932 has duplicate codes (NEC
// row 13, the NEC-selected IBM extensions at 0xED/0xEE, the IBM extensions
// at 0xFA..0xFC) and only the converter knows which one Windows picks.
// WC_NO_BEST_FIT_CHARS and the default-character flag keep look-alike
// mappings out; a code that does not decode back to its unit is refused
// too, so that the table holds round trips only, as on POSIX.
#include "CodePage.h"

#include <mutex>
#include <windows.h>

namespace qvt::platform {

namespace {

constexpr UINT kCp932 = 932;
constexpr char16_t kNoUnit = 0xFFFF;       // U+FFFF: no CP932 code gives it
constexpr std::uint16_t kNoCode = 0xFFFF;  // 0xFF is no lead byte

struct Cp932Tables {
  bool ready = false;  // false when the system lacks code page 932
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

void Decode(const char* bytes, int length, std::uint16_t code) {
  wchar_t out[2];
  const int units = MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes, length, out, 2);
  if (units != 1 || (out[0] >= 0xD800 && out[0] <= 0xDFFF)) return;
  g_tables.toUnicode[code] = static_cast<char16_t>(out[0]);
}

void FillForward() {
  for (char16_t& unit : g_tables.toUnicode) unit = kNoUnit;
  for (unsigned b = 0; b < 0x100; ++b) {
    if (IsSingleByteHole(b)) continue;
    const char byte = static_cast<char>(b);
    Decode(&byte, 1, static_cast<std::uint16_t>(b));
  }
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsLeadByte(lead)) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (!IsTrailByte(trail)) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      Decode(pair, 2, static_cast<std::uint16_t>((lead << 8) | trail));
    }
  }
}

void FillReverse() {
  for (std::uint16_t& code : g_tables.toCp932) code = kNoCode;
  for (unsigned u = 0; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    const wchar_t unit = static_cast<wchar_t>(u);
    unsigned char out[2];
    BOOL usedDefault = FALSE;
    const int bytes = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, &unit, 1,
                                          reinterpret_cast<char*>(out), 2, nullptr, &usedDefault);
    if (bytes <= 0 || usedDefault) continue;
    std::uint16_t code;
    if (bytes == 1) {
      code = out[0];
    } else if (IsLeadByte(out[0])) {
      code = static_cast<std::uint16_t>((out[0] << 8) | out[1]);
    } else {
      continue;
    }
    if (g_tables.toUnicode[code] != u) continue;
    g_tables.toCp932[u] = code;
  }
}

void BuildTables() {
  if (!IsValidCodePage(kCp932)) return;
  FillForward();
  FillReverse();
  g_tables.ready = true;
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
