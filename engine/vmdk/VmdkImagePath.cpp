#include "VmdkImagePath.h"

#include "EnginePath.h"
#include "TextConvert.h"

namespace qvt {
namespace {

bool IsAsciiLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Characters a Windows file name may not hold (the backslash is the
// separator and is judged on its own).
bool IsForbidden(std::uint8_t c) {
  switch (c) {
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return true;
    default:
      return c < 0x20 || c == 0x7F;
  }
}

}  // namespace

bool VmdkNameIsWellFormed(TextView name) {
  std::uint32_t at = 0;
  if (name.length >= 2 && IsAsciiLetter(name.data[0]) && name.data[1] == ':') {
    if (name.length < 3 || name.data[2] != '\\') return false;
    at = 3;
  }
  if (at == name.length || name.data[at] == '\\') return false;
  bool lastWasBackslash = false;
  // Character by character: a Shift_JIS trail byte may be 0x5C or 0x7C and
  // is neither a backslash nor a bar.
  while (at < name.length) {
    const std::uint32_t n = CharLength(ENC_SHIFT_JIS, name.data + at, name.length - at);
    if (n == 0) return false;
    if (n == 1) {
      const std::uint8_t c = name.data[at];
      if (c == '\\') {
        if (lastWasBackslash) return false;
        lastWasBackslash = true;
        ++at;
        continue;
      }
      if (IsForbidden(c)) return false;
    }
    lastWasBackslash = false;
    at += n;
  }
  return !lastWasBackslash;
}

DiskResult VmdkResolveName(const PathBuffer& base, TextView name, TextEncoding nameEnc,
                           PathBuffer* out) {
  PathBuffer converted;
  if (!TextConvertAppend(&converted.buffer, ENC_SHIFT_JIS, name, nameEnc) ||
      !BufferTerminate(&converted.buffer, ENC_SHIFT_JIS)) {
    return DISK_E_FORMAT;
  }
  if (!VmdkNameIsWellFormed(BufferView(converted.buffer))) return DISK_E_FORMAT;
  if (!PathResolve(BufferView(base.buffer), ENC_SHIFT_JIS, BufferView(converted.buffer),
                   ENC_SHIFT_JIS, out, ENC_SHIFT_JIS)) {
    return DISK_E_FORMAT;
  }
  return DISK_OK;
}

}  // namespace qvt
