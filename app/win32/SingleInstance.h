// The single-instance rule: one running QVT per executable path.
#ifndef QVT_APP_WIN32_SINGLEINSTANCE_H
#define QVT_APP_WIN32_SINGLEINSTANCE_H

#include <windows.h>

#include <string>

namespace qvt::win32 {

// The full path of the running executable; false when the system cannot
// give it. The path is read in UTF-16, so that no name is bent by the code
// page and long paths are complete.
bool GetExecutablePath(std::wstring& path);

// Owns the named mutex of one executable path for its lifetime.
class SingleInstanceMutex {
 public:
  explicit SingleInstanceMutex(const std::wstring& executablePath);
  ~SingleInstanceMutex();
  SingleInstanceMutex(const SingleInstanceMutex&) = delete;
  SingleInstanceMutex& operator=(const SingleInstanceMutex&) = delete;

  // False when another instance of the same path holds the mutex, or when it
  // could not be created at all (then the instance cannot know it is alone).
  bool IsFirstInstance() const { return handle_ != nullptr; }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace qvt::win32

#endif
