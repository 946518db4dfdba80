// The recycle bin: the shell's delete with undo, without any question or
// progress window.
#include "PlatformFile.h"

#include <windows.h>
#include <shellapi.h>

namespace qvt::platform {

namespace {

// SHFileOperationW needs a full path: a drive with its root, or a UNC path.
bool IsFullPath(const std::wstring& path) {
  const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  const bool unc = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
  return drive || unc;
}

}  // namespace

bool FileRecycle(const std::wstring& path) {
  // A pattern would recycle every file it matches; a NUL would end the list
  // early and name another file.
  if (!IsFullPath(path) || path.find_first_of(L"*?") != std::wstring::npos ||
      path.find(L'\0') != std::wstring::npos) {
    return false;
  }
  // pFrom is a list of names, each ended by a NUL, the list by one more.
  std::wstring names = path;
  names.push_back(L'\0');
  names.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = names.c_str();
  operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  return SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
}

}  // namespace qvt::platform
