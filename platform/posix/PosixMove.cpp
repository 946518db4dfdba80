// Renaming and deleting. Like MoveFileEx without MOVEFILE_COPY_ALLOWED, a
// move never copies: across filesystems it fails (EXDEV).
#include "PlatformFile.h"
#include "posix/PosixSupport.h"

#include <cstdio>
#include <unistd.h>

namespace qvt::platform {

bool FileMoveReplacing(const std::wstring& from, const std::wstring& to) {
  std::string source;
  std::string target;
  return NativePathFromWindows(from, &source) && NativePathFromWindows(to, &target) &&
         rename(source.c_str(), target.c_str()) == 0;
}

bool FileMove(const std::wstring& from, const std::wstring& to) {
  std::string source;
  std::string target;
  return NativePathFromWindows(from, &source) && NativePathFromWindows(to, &target) &&
         posix::RenameNoReplace(source.c_str(), target.c_str()) == 0;
}

// Files only, as DeleteFileW: a folder is not removed here.
bool FileDelete(const std::wstring& path) {
  std::string native;
  return NativePathFromWindows(path, &native) && unlink(native.c_str()) == 0;
}

}  // namespace qvt::platform
