// GUIDs on POSIX: a version-4 UUID from getrandom(), or /dev/urandom where
// the kernel has no getrandom.
#include "Guid.h"
#include "posix/PosixSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace qvt::platform {

namespace {

bool ReadUrandom(std::uint8_t* out, std::size_t length) {
  posix::Descriptor fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  while (length > 0) {
    const ssize_t n = read(fd.Get(), out, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool RandomBytes(std::uint8_t* out, std::size_t length) {
  while (length > 0) {
    const ssize_t n = getrandom(out, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == ENOSYS && ReadUrandom(out, length);
    }
    out += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// The bytes are in the GUID structure's order, as CoCreateGuid gives them:
// Data1, Data2 and Data3 little-endian, then Data4. The version is the top
// nibble of Data3, which is therefore byte 7 here (not byte 6 as in the
// big-endian UUID form); the variant is the top bits of Data4[0], byte 8.
bool CreateGuid(std::uint8_t out[16]) {
  if (!RandomBytes(out, 16)) return false;
  out[7] = static_cast<std::uint8_t>((out[7] & 0x0F) | 0x40);
  out[8] = static_cast<std::uint8_t>((out[8] & 0x3F) | 0x80);
  return true;
}

}  // namespace qvt::platform
