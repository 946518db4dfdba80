// The POSIX half of the test support.
#include "PlatformTestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvt::platform::test {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

}  // namespace

bool MakeTempFolder(std::wstring* path) {
  char name[] = "/tmp/qvt-platform-XXXXXX";
  if (mkdtemp(name) == nullptr) return false;
  *path = WindowsPathFromNative(name);
  return !path->empty();
}

void RemoveTree(const std::wstring& path) {
  std::string native;
  if (!NativePathFromWindows(path, &native) || native.size() < 2) return;
  nftw(native.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool MakeSparse(NativeFile) { return true; }  // files are sparse by default

bool SetLastWriteTime(const std::wstring& path, std::uint64_t fileTime) {
  std::string native;
  if (!NativePathFromWindows(path, &native)) return false;
  const std::uint64_t sinceUnix = fileTime - 116444736000000000ull;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(sinceUnix / 10000000u);
  times[1].tv_nsec = static_cast<long>(sinceUnix % 10000000u * 100u);
  return utimensat(AT_FDCWD, native.c_str(), times, 0) == 0;
}

ScopedRecycleBin::ScopedRecycleBin(const std::wstring& folder) {
  const char* old = std::getenv("XDG_DATA_HOME");
  hadValue_ = old != nullptr;
  if (hadValue_) oldValue_ = old;
  std::string native;
  if (NativePathFromWindows(folder, &native)) setenv("XDG_DATA_HOME", native.c_str(), 1);
}

ScopedRecycleBin::~ScopedRecycleBin() {
  if (hadValue_) {
    setenv("XDG_DATA_HOME", oldValue_.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

}  // namespace qvt::platform::test
