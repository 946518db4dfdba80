// Conversions between the UTF-16 strings the program holds and the forms its
// files and the disk engine use. Strings are UTF-16 code units, one per
// wchar_t on every platform.
#ifndef QVT_VMWARE_TEXTPATH_TEXTFORMS_H
#define QVT_VMWARE_TEXTPATH_TEXTFORMS_H

#include <string>

#include "TextEncoding.h"

namespace qvt {

// The thread's ANSI code page: configuration files and preferences.ini. A
// character the code page lacks becomes the converter's default character.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// UTF-8 of the .qvt documents. A surrogate pair gives its four-byte sequence;
// a surrogate without its partner gives U+FFFD, so the output is always
// well-formed and nothing past the text is read.
std::string WideToUtf8(const std::wstring& text);

// Virtual PC's UTF-16 bytes (little-endian when `littleEndian`) to UTF-8,
// each code unit on its own (no surrogate pairing). Odd lengths give "".
std::string Utf16BytesToUtf8(const std::string& bytes, bool littleEndian);
// UTF-8 to UTF-16 bytes in the chosen byte order. One- to three-byte
// sequences are decoded; the conversion ends silently at a byte that cannot
// start a sequence (a continuation byte, or a lead of four or more bytes), at
// a sequence whose continuation bytes are missing, or at one cut off by the
// end of the input. What was converted so far is the result.
std::string Utf8ToUtf16Bytes(const std::string& text, bool littleEndian);

// The engine's path form (Shift_JIS). A path it cannot express raises
// std::bad_alloc, which ends the current command.
std::string ToEnginePath(const std::wstring& path);
// Engine text to UTF-16: UTF-16LE is taken as it is, other encodings are
// converted by the engine; an unconvertible text raises std::bad_alloc.
std::wstring FromEngineText(TextView text, TextEncoding encoding);

}  // namespace qvt

#endif
