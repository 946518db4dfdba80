// Code pages: CP932 (Shift_JIS as Windows has it), the engine's path
// encoding, and the ANSI code page of configuration files. Strings are UTF-16
// code units (one unit per wchar_t on every platform).
#ifndef QVT_PLATFORM_CODEPAGE_H
#define QVT_PLATFORM_CODEPAGE_H

#include <cstdint>
#include <string>

namespace qvt::platform {

// One CP932 character to its UTF-16 unit (every CP932 character is in the
// Basic Multilingual Plane). `code` is the byte of a single-byte character or
// (lead << 8) | trail of a double-byte one. False when CP932 does not define
// it. The tables come from the platform (MultiByteToWideChar, iconv) and are
// built once, on first use, from any thread.
bool Cp932ToUnicode(std::uint16_t code, char16_t* unit);
// The CP932 code of a UTF-16 unit, as Windows chooses it where CP932 has
// several; false when CP932 cannot represent it (surrogates never can).
bool UnicodeToCp932(char16_t unit, std::uint16_t* code);

// The thread's ANSI code page (Win32: CP_THREAD_ACP; POSIX: the charset of
// the current C locale). A character the code page cannot represent becomes
// '?'; bytes that do not decode become U+FFFD.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

}  // namespace qvt::platform

#endif
