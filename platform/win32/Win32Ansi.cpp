// The thread's ANSI code page (CP_THREAD_ACP) <-> UTF-16.
//
// No best fit: a character the code page lacks becomes '?', never a
// look-alike (best fit can turn U+00A5 into a backslash, which changes what
// a path means). Bytes that do not decode become U+FFFD; Windows itself
// would give its own default character there (U+30FB for CP932), so a
// failed strict decode is redone one character at a time. Texts longer than
// an int can count are refused (empty result); configuration files are far
// smaller.
#include "CodePage.h"

#include <climits>
#include <windows.h>

namespace qvt::platform {

namespace {

bool IsLead(unsigned char b, const CPINFOEXW& info) {
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    if (b >= info.LeadByte[i] && b <= info.LeadByte[i + 1]) return true;
  }
  return false;
}

// One character (one byte, or a lead byte and its trail) at a time; what
// does not decode gives U+FFFD and decoding goes on at the next byte.
std::wstring DecodeEachCharacter(const std::string& text, const CPINFOEXW& info) {
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t length = IsLead(b, info) && i + 1 < text.size() ? 2 : 1;
    wchar_t units[2];
    const int n = MultiByteToWideChar(info.CodePage, MB_ERR_INVALID_CHARS, text.data() + i,
                                      static_cast<int>(length), units, 2);
    if (n > 0) {
      out.append(units, static_cast<std::size_t>(n));
      i += length;
    } else {
      out.push_back(L'\xFFFD');
      ++i;
    }
  }
  return out;
}

}  // namespace

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int units =
      MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (units > 0) {
    std::wstring out(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, text.data(), length, &out[0],
                            units) == units) {
      return out;
    }
  }
  CPINFOEXW info;
  if (!GetCPInfoExW(CP_THREAD_ACP, 0, &info)) return std::wstring();
  if (info.MaxCharSize > 2) {
    // UTF-8 as the ANSI code page: its plain decode already gives U+FFFD.
    const int n = MultiByteToWideChar(info.CodePage, 0, text.data(), length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(info.CodePage, 0, text.data(), length, &out[0], n);
    return out;
  }
  return DecodeEachCharacter(text, info);
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int length = static_cast<int>(text.size());
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* defaultChar = "?";
  int bytes = WideCharToMultiByte(CP_THREAD_ACP, flags, text.data(), length, nullptr, 0,
                                  defaultChar, nullptr);
  if (bytes <= 0) {
    // UTF-8 as the ANSI code page takes neither the flag nor a default
    // character (and writes U+FFFD's bytes for what it cannot encode).
    flags = 0;
    defaultChar = nullptr;
    bytes = WideCharToMultiByte(CP_THREAD_ACP, flags, text.data(), length, nullptr, 0,
                                defaultChar, nullptr);
    if (bytes <= 0) return std::string();
  }
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_THREAD_ACP, flags, text.data(), length, &out[0], bytes, defaultChar,
                          nullptr) != bytes) {
    return std::string();
  }
  return out;
}

}  // namespace qvt::platform
