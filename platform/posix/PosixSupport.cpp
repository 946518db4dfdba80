// UTF-16 <-> UTF-8, the descriptor guard, whole writes and the rename that
// never replaces, shared by the POSIX files of the OS layer.
#include "posix/PosixSupport.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/fs.h>  // RENAME_NOREPLACE

namespace qvt::platform::posix {

namespace {

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

bool Utf16ToUtf8(const std::wstring& text, bool allowNul, std::string* out) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // wchar_t is 32-bit on Linux; an element above 0xFFFF is no UTF-16 unit.
    const auto unit = static_cast<std::uint32_t>(text[i]);
    if (unit > 0xFFFF || (unit == 0 && !allowNul) || IsLowSurrogate(unit)) return false;
    char32_t c = unit;
    if (IsHighSurrogate(unit)) {
      if (i + 1 >= text.size()) return false;
      const auto low = static_cast<std::uint32_t>(text[i + 1]);
      if (!IsLowSurrogate(low)) return false;
      c = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    AppendUtf8(c, &result);
  }
  *out = std::move(result);
  return true;
}

bool Utf8ToUtf16(const std::string& text, std::wstring* out) {
  std::wstring result;
  result.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t c;
    char32_t least;  // the smallest value this length may carry (no overlongs)
    if (b0 < 0x80) {
      result.push_back(static_cast<wchar_t>(b0));
      ++i;
      continue;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2, c = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3, c = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4, c = b0 & 0x07, least = 0x10000;
    } else {
      return false;  // a continuation byte, C0/C1 (overlong) or F5..FF
    }
    if (length > n - i) return false;  // cut short: never read past the end
    for (std::size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      result.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      result.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      result.push_back(static_cast<wchar_t>(c));
    }
    i += length;
  }
  *out = std::move(result);
  return true;
}

bool Descriptor::Reset() {
  if (fd_ < 0) return true;
  // No retry after EINTR: Linux has released the descriptor already.
  const int rc = close(fd_);
  fd_ = -1;
  return rc == 0 || errno == EINTR;
}

bool LockWithoutWaiting(int fd, int operation) {
  while (flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno != EWOULDBLOCK;
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ssize_t n = write(fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // no progress: give up rather than spin
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

int RenameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  // ENOSYS: an old kernel; EINVAL: a filesystem without the flag.
  if (errno != ENOSYS && errno != EINVAL) return errno;
#endif
  return RenameNoReplaceFallback(from, to);
}

int RenameNoReplaceFallback(const char* from, const char* to) {
  struct stat st;
  if (lstat(from, &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (link(from, to) == 0) {
      if (unlink(from) == 0) return 0;
      const int error = errno;
      unlink(to);  // leave one name, as before
      return error;
    }
    // Filesystems without hard links say so with one of these; anything
    // else (EEXIST, EXDEV, EACCES...) is the answer.
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS) return errno;
  }
  struct stat target;
  if (lstat(to, &target) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return rename(from, to) == 0 ? 0 : errno;
}

}  // namespace qvt::platform::posix
