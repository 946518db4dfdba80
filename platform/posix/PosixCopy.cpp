// Copying a file in chunks with a progress report, over an existing target;
// the bytes move inside the kernel where it can copy between the two files.
#include "PlatformFile.h"
#include "posix/PosixSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qvt::platform {

namespace {

constexpr std::size_t kChunk = 1 << 20;

// Reads exactly `length` bytes at the descriptor's position.
bool ReadAll(int fd, unsigned char* p, std::size_t length) {
  while (length > 0) {
    const ssize_t n = read(fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // the source shrank while it was copied
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Opens the target for writing without cutting it yet, so that a target that
// is the source itself, or that another opener holds, is left untouched.
int OpenTarget(const char* path, const struct stat& source) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, source.st_mode & 0777);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  const bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      !(st.st_dev == source.st_dev && st.st_ino == source.st_ino) &&
                      posix::LockWithoutWaiting(fd, LOCK_EX);
  if (!usable) {
    close(fd);
    return -1;
  }
  return fd;
}

// Copies `length` bytes from the input's position to the output's inside the
// kernel (no pass through user memory; a reflink where the filesystem can).
// False with `unsupported` set when the kernel or the filesystems cannot,
// before any byte moved, so that the caller copies through its buffer.
bool KernelCopy(int in, int out, std::size_t length, bool* unsupported) {
  bool first = true;
  while (length > 0) {
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      *unsupported = first && (errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
                               errno == EOPNOTSUPP || errno == EBADF);
      return false;
    }
    if (n == 0) return false;  // the source shrank while it was copied
    first = false;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// One chunk, in the kernel while it can, else through the buffer.
bool CopyChunk(int in, int out, unsigned char* buffer, std::size_t length, bool* kernel) {
  if (*kernel) {
    bool unsupported = false;
    if (KernelCopy(in, out, length, &unsupported)) return true;
    if (!unsupported) return false;
    *kernel = false;
  }
  return ReadAll(in, buffer, length) && posix::WriteAll(out, buffer, length);
}

}  // namespace

// A failure before the target is opened (a missing source, a target that is
// the source, or one another opener holds) leaves an existing target as it
// was; from the moment the target is cut, a failure or a stop removes it.
// The permission bits and the times are copied, as Windows' CopyFile keeps
// the last write time.
CopyResult FileCopyWithProgress(const std::wstring& source, const std::wstring& target,
                                CopyProgress progress, void* context) {
  std::string to;
  if (!NativePathFromWindows(target, &to)) return kCopyFailed;
  std::vector<unsigned char> buffer;
  try {
    buffer.resize(kChunk);
  } catch (...) {
    return kCopyFailed;
  }
  NativeFile in;
  if (!FileOpen(source, FileAccess::kReadShared, &in)) return kCopyFailed;
  posix::Descriptor input(static_cast<int>(in.value));
  struct stat st;
  if (fstat(input.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return kCopyFailed;
  posix::Descriptor output(OpenTarget(to.c_str(), st));
  if (output.Get() < 0) return kCopyFailed;

  const auto total = static_cast<std::uint64_t>(st.st_size);
  std::uint64_t done = 0;
  bool ok = ftruncate(output.Get(), 0) == 0 && fchmod(output.Get(), st.st_mode & 0777) == 0;
  bool stopped = false;
  bool kernel = true;
  while (ok && done < total) {
    const std::size_t chunk =
        total - done < kChunk ? static_cast<std::size_t>(total - done) : kChunk;
    ok = CopyChunk(input.Get(), output.Get(), buffer.data(), chunk, &kernel);
    if (!ok) break;
    done += chunk;
    if (progress != nullptr && !progress(done, total, context)) {
      stopped = true;
      break;
    }
  }
  if (ok && !stopped) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ok = futimens(output.Get(), times) == 0;
  }
  // close() is where some filesystems (NFS) report a failed write.
  if (!output.Reset()) ok = false;
  if (ok && !stopped) return kCopyDone;
  unlink(to.c_str());
  return stopped ? kCopyStopped : kCopyFailed;
}

}  // namespace qvt::platform
