#include "PathForms.h"

#include <stdexcept>

#include "CodePage.h"
#include "PlatformFile.h"

namespace qvt::test {

std::string ToShiftJis(const std::wstring& text) {
  std::string out;
  for (wchar_t unit : text) {
    std::uint16_t code = 0;
    if (!platform::UnicodeToCp932(static_cast<char16_t>(unit), &code)) {
      throw std::runtime_error("no CP932 form for a character of a test path");
    }
    if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
  return out;
}

std::filesystem::path ToNative(const std::wstring& windowsPath) {
  std::string native;
  if (!platform::NativePathFromWindows(windowsPath, &native)) {
    throw std::runtime_error("test path has no native form");
  }
  return std::filesystem::u8path(native);
}

std::wstring ToWindows(const std::filesystem::path& native) {
  return platform::WindowsPathFromNative(native.u8string());
}

}  // namespace qvt::test
