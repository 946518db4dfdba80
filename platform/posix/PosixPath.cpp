// Windows paths <-> POSIX names. The POSIX root is drive Z:, as under Wine;
// names are UTF-8.
#include "PlatformFile.h"
#include "posix/PosixSupport.h"

namespace qvt::platform {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

// Both separators count, as they do for Windows itself; so a POSIX name
// holding a backslash cannot be reached through a Windows path.
bool NativePathFromWindows(const std::wstring& windowsPath, std::string* nativeUtf8) {
  std::wstring rest;
  bool absolute = false;
  const std::size_t n = windowsPath.size();
  if (n >= 2 && windowsPath[1] == L':') {
    if (windowsPath[0] != L'Z' && windowsPath[0] != L'z') return false;  // no other drives
    // "Z:" alone and "Z:name" are relative to a drive's current folder,
    // which this system does not have.
    if (n < 3 || !IsSeparator(windowsPath[2])) return false;
    rest = windowsPath.substr(3);
    absolute = true;
  } else if (n >= 1 && IsSeparator(windowsPath[0])) {
    // \\server\share, and \\?\ or \\.\ device forms, have no POSIX meaning.
    if (n >= 2 && IsSeparator(windowsPath[1])) return false;
    rest = windowsPath.substr(1);
    absolute = true;
  } else {
    if (n == 0) return false;
    rest = windowsPath;
  }
  for (wchar_t& c : rest) {
    if (c == L'\\') c = L'/';
  }
  std::string utf8;
  // An unpaired surrogate or a NUL fails the conversion: a path that names a
  // different file than the one asked for is worse than no path.
  if (!posix::Utf16ToUtf8(rest, false, &utf8)) return false;
  *nativeUtf8 = absolute ? "/" + utf8 : utf8;
  return true;
}

// Malformed UTF-8 gives an empty path (which every call here refuses) rather
// than a path with replacement characters that could name another file.
std::wstring WindowsPathFromNative(const std::string& nativeUtf8) {
  std::wstring wide;
  if (!posix::Utf8ToUtf16(nativeUtf8, &wide)) return std::wstring();
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (!wide.empty() && wide[0] == L'\\') return L"Z:" + wide;
  return wide;
}

}  // namespace qvt::platform
