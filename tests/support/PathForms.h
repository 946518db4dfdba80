// The forms a test needs of one path: the Windows form the program uses, the
// engine's Shift_JIS form, and the native form for checking with the
// standard library.
#ifndef QVT_TESTS_SUPPORT_PATHFORMS_H
#define QVT_TESTS_SUPPORT_PATHFORMS_H

#include <filesystem>
#include <string>

namespace qvt::test {

// UTF-16 units to Shift_JIS (CP932); throws std::runtime_error for a
// character CP932 lacks, so a test never runs on a bent name.
std::string ToShiftJis(const std::wstring& text);
// Windows form to the native path (for std::filesystem checks).
std::filesystem::path ToNative(const std::wstring& windowsPath);
// Native path to the Windows form.
std::wstring ToWindows(const std::filesystem::path& native);

}  // namespace qvt::test

#endif
