// Open files, positioned transfers, sizes, and questions about names.
//
// Sharing: POSIX has no mandatory share modes, so the Win32 ones are
// imitated with advisory flock() locks taken without waiting: a read-only
// open takes a shared lock, a read-write open or a create an exclusive one.
// That keeps two openers that both go through this layer (two QVTs, or two
// opens in one process, as on Windows) apart; a program that does not lock
// is not kept out. A filesystem that cannot lock (ENOLCK, EOPNOTSUPP) is
// opened without a lock.
#include "PlatformFile.h"
#include "posix/PosixSupport.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvt::platform {

namespace {

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int Fd(NativeFile file) { return static_cast<int>(file.value); }

// The transfer must fit in off_t from start to end.
bool RangeFits(std::uint64_t offset, std::uint32_t length) {
  return offset <= kMaxOffset && length <= kMaxOffset - offset;
}

}  // namespace

bool FileOpen(const std::wstring& path, FileAccess access, NativeFile* file) {
  std::string native;
  if (!NativePathFromWindows(path, &native)) return false;
  const bool write = access == FileAccess::kReadWriteAlone;
  posix::Descriptor fd(OpenRetrying(native.c_str(), write ? O_RDWR : O_RDONLY));
  if (fd.Get() < 0) return false;
  struct stat st;
  if (fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!posix::LockWithoutWaiting(fd.Get(), write ? LOCK_EX : LOCK_SH)) return false;
  file->value = fd.Release();
  return true;
}

bool FileCreate(const std::wstring& path, NativeFile* file) {
  std::string native;
  if (!NativePathFromWindows(path, &native)) return false;
  // No O_TRUNC: the file is cut only once the lock shows nobody else has it.
  posix::Descriptor fd(OpenRetrying(native.c_str(), O_RDWR | O_CREAT, 0666));
  if (fd.Get() < 0) return false;
  if (!posix::LockWithoutWaiting(fd.Get(), LOCK_EX)) return false;
  int rc;
  do {
    rc = ftruncate(fd.Get(), 0);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  file->value = fd.Release();
  return true;
}

bool FileReadAt(NativeFile file, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!file.IsOpen() || !RangeFits(offset, length)) return false;
  auto* p = static_cast<unsigned char*>(buffer);
  std::uint32_t left = length;
  while (left > 0) {
    const ssize_t n = pread(Fd(file), p, left, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // end of file before the whole length
    p += n;
    offset += static_cast<std::uint64_t>(n);
    left -= static_cast<std::uint32_t>(n);
  }
  return true;
}

bool FileWriteAt(NativeFile file, std::uint64_t offset, std::uint32_t length, const void* data) {
  if (!file.IsOpen() || !RangeFits(offset, length)) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t left = length;
  while (left > 0) {
    const ssize_t n = pwrite(Fd(file), p, left, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // no progress: give up rather than spin
    p += n;
    offset += static_cast<std::uint64_t>(n);
    left -= static_cast<std::uint32_t>(n);
  }
  return true;
}

bool FileGetSize(NativeFile file, std::uint64_t* size) {
  struct stat st;
  if (!file.IsOpen() || fstat(Fd(file), &st) != 0 || st.st_size < 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool FileSetSize(NativeFile file, std::uint64_t size) {
  if (!file.IsOpen() || size > kMaxOffset) return false;
  int rc;
  do {
    rc = ftruncate(Fd(file), static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void FileClose(NativeFile* file) {
  if (!file->IsOpen()) return;
  posix::Descriptor(Fd(*file)).Reset();  // also drops the flock
  file->value = -1;
}

bool DirectoryCreate(const std::wstring& path) {
  std::string native;
  return NativePathFromWindows(path, &native) && mkdir(native.c_str(), 0777) == 0;
}

bool DirectoryRemove(const std::wstring& path) {
  std::string native;
  return NativePathFromWindows(path, &native) && rmdir(native.c_str()) == 0;
}

// lstat: a symbolic link exists even when what it points at does not, as a
// search of its folder would find it.
bool PathExists(const std::wstring& path) {
  std::string native;
  struct stat st;
  return NativePathFromWindows(path, &native) && lstat(native.c_str(), &st) == 0;
}

bool IsDirectory(const std::wstring& path) {
  std::string native;
  struct stat st;
  return NativePathFromWindows(path, &native) && stat(native.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

bool FileLastWriteTime(const std::wstring& path, std::uint64_t* fileTime) {
  std::string native;
  struct stat st;
  if (!NativePathFromWindows(path, &native) || stat(native.c_str(), &st) != 0) return false;
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr std::int64_t kEpochDelta = 11644473600;
  const std::int64_t seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec) + kEpochDelta;
  if (seconds < 0) return false;  // before 1601: no FILETIME for it
  *fileTime = static_cast<std::uint64_t>(seconds) * 10000000u +
              static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100u;
  return true;
}

}  // namespace qvt::platform
