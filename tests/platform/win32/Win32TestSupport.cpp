// The Win32 half of the test support.
#include "PlatformTestSupport.h"

#include <windows.h>
#include <winioctl.h>

namespace qvt::platform::test {

bool MakeTempFolder(std::wstring* path) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return false;
  std::wstring base(temp, length);
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::wstring candidate = base + L"\\qvt-platform-" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(++counter);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      *path = candidate;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

bool MakeSparse(NativeFile file) {
  DWORD returned = 0;
  return DeviceIoControl(reinterpret_cast<HANDLE>(file.value), FSCTL_SET_SPARSE, nullptr, 0,
                         nullptr, 0, &returned, nullptr) != 0;
}

bool SetLastWriteTime(const std::wstring& path, std::uint64_t fileTime) {
  const HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  const BOOL ok = SetFileTime(h, nullptr, nullptr, &time);
  CloseHandle(h);
  return ok != 0;
}

// The shell keeps its own recycle bin; under Wine, where that is the host's
// trash, the test's CMake environment points XDG_DATA_HOME into the build.
ScopedRecycleBin::ScopedRecycleBin(const std::wstring&) {}
ScopedRecycleBin::~ScopedRecycleBin() = default;

}  // namespace qvt::platform::test
