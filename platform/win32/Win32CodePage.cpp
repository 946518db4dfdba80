// The system's CP932 converter on Windows: MultiByteToWideChar and
// WideCharToMultiByte without best fit, so no look-alike stands in for a
// character the code page lacks.
#include <windows.h>

#include "Cp932Tables.h"

namespace qvt::platform {
namespace {

constexpr UINT kCp932 = 932;

bool Decode(void*, const unsigned char* bytes, std::size_t length, char16_t* unit) {
  wchar_t out[2];
  const int units = MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS,
                                        reinterpret_cast<const char*>(bytes),
                                        static_cast<int>(length), out, 2);
  if (units != 1) return false;
  *unit = static_cast<char16_t>(out[0]);
  return true;
}

bool Encode(void*, char16_t unit, unsigned char out[2], std::size_t* length) {
  const wchar_t in = static_cast<wchar_t>(unit);
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, &in, 1,
                                        reinterpret_cast<char*>(out), 2, nullptr, &usedDefault);
  if (bytes <= 0 || usedDefault) return false;
  *length = static_cast<std::size_t>(bytes);
  return true;
}

}  // namespace

bool WithSystemCp932Converter(Cp932Fill fill, void* state) {
  if (!IsValidCodePage(kCp932)) return false;
  fill(Cp932Converter{nullptr, &Decode, &Encode}, state);
  return true;
}

}  // namespace qvt::platform
