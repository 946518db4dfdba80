// The system's CP932 converter on POSIX: glibc's iconv.
#include <iconv.h>

#include "Cp932Tables.h"

namespace qvt::platform {
namespace {

struct IconvPair {
  iconv_t toUnicode;
  iconv_t fromUnicode;
};

// Converts `inLength` bytes; true when all of them became 1 or 2 bytes.
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

bool Decode(void* context, const unsigned char* bytes, std::size_t length, char16_t* unit) {
  unsigned char out[2];
  std::size_t produced = 0;
  if (!ConvertExactly(static_cast<IconvPair*>(context)->toUnicode, bytes, length, out,
                      &produced) ||
      produced != 2) {
    return false;
  }
  *unit = static_cast<char16_t>(out[0] | (out[1] << 8));
  return true;
}

bool Encode(void* context, char16_t unit, unsigned char out[2], std::size_t* length) {
  const unsigned char in[2] = {static_cast<unsigned char>(unit & 0xFF),
                               static_cast<unsigned char>(unit >> 8)};
  return ConvertExactly(static_cast<IconvPair*>(context)->fromUnicode, in, 2, out, length);
}

}  // namespace

bool WithSystemCp932Converter(Cp932Fill fill, void* state) {
  const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);
  IconvPair pair{iconv_open("UTF-16LE", "CP932"), iconv_open("CP932", "UTF-16LE")};
  const bool available = pair.toUnicode != kFailed && pair.fromUnicode != kFailed;
  if (available) fill(Cp932Converter{&pair, &Decode, &Encode}, state);
  if (pair.toUnicode != kFailed) iconv_close(pair.toUnicode);
  if (pair.fromUnicode != kFailed) iconv_close(pair.fromUnicode);
  return available;
}

}  // namespace qvt::platform
