// Windows paths are this system's own names; the "native" form is their
// UTF-8 spelling.
#include "PlatformFile.h"

#include <climits>
#include <windows.h>

namespace qvt::platform {

// An unpaired surrogate or a NUL fails, as on POSIX: a name that would
// reach another file is worse than none.
bool NativePathFromWindows(const std::wstring& windowsPath, std::string* nativeUtf8) {
  if (windowsPath.empty() || windowsPath.size() > INT_MAX ||
      windowsPath.find(L'\0') != std::wstring::npos) {
    return false;
  }
  const int length = static_cast<int>(windowsPath.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, windowsPath.data(), length,
                                        nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, windowsPath.data(), length, &out[0],
                          bytes, nullptr, nullptr) != bytes) {
    return false;
  }
  *nativeUtf8 = std::move(out);
  return true;
}

// Malformed UTF-8 gives an empty path, which every call here refuses.
std::wstring WindowsPathFromNative(const std::string& nativeUtf8) {
  if (nativeUtf8.empty() || nativeUtf8.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(nativeUtf8.size());
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, nativeUtf8.data(), length, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, nativeUtf8.data(), length, &out[0],
                          units) != units) {
    return std::wstring();
  }
  return out;
}

}  // namespace qvt::platform
