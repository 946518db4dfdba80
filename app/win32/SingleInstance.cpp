#include "SingleInstance.h"

#include "../InstanceName.h"

namespace qvt::win32 {

bool GetExecutablePath(std::wstring& path) {
  // Long-path aware: grow the buffer until the whole path fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], size);
    if (length == 0) return false;
    if (length < size) {
      buffer.resize(length);
      path = buffer;
      return true;
    }
    if (buffer.size() >= 32768) return false;
    buffer.resize(buffer.size() * 2);
  }
}

SingleInstanceMutex::SingleInstanceMutex(const std::wstring& executablePath) {
  const std::wstring name = InstanceMutexName(executablePath);
  HANDLE handle = CreateMutexW(nullptr, TRUE, name.c_str());
  if (handle != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    handle = nullptr;
  }
  handle_ = handle;
}

SingleInstanceMutex::~SingleInstanceMutex() {
  if (handle_ != nullptr) {
    ReleaseMutex(handle_);
    CloseHandle(handle_);
  }
}

}  // namespace qvt::win32
