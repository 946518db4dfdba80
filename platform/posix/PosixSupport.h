// Helpers the POSIX files of the OS layer share: UTF-16 <-> UTF-8, the
// descriptor guard, whole transfers and the rename that never replaces.
// Private to platform/posix/ (and its tests).
#ifndef QVT_PLATFORM_POSIX_POSIXSUPPORT_H
#define QVT_PLATFORM_POSIX_POSIXSUPPORT_H

#include <cstddef>
#include <string>

namespace qvt::platform::posix {

// UTF-16 units (one per wchar_t) to UTF-8. Fails for an unpaired surrogate,
// for an element above 0xFFFF (not a UTF-16 unit) and, when `allowNul` is
// false, for U+0000 (a name with a NUL would be cut short by the system).
bool Utf16ToUtf8(const std::wstring& text, bool allowNul, std::string* out);
// UTF-8 to UTF-16 units. Fails for any malformed sequence: a stray or
// missing continuation byte, an overlong form, an encoded surrogate or a
// value above U+10FFFF; never reads past the end of `text`.
bool Utf8ToUtf16(const std::string& text, std::wstring* out);

// Owns a descriptor and closes it when it leaves scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Gives the descriptor up without closing it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes it now; false when close reported an error (data may be lost).
  bool Reset();

 private:
  int fd_;
};

// flock(operation | LOCK_NB), retried after signals. False only when another
// opener holds a conflicting lock; a filesystem that cannot lock counts as
// locked.
bool LockWithoutWaiting(int fd, int operation);

// Writes all `length` bytes at the descriptor's position, retrying after
// signals and partial writes.
bool WriteAll(int fd, const void* data, std::size_t length);

// Renames `from` to `to` unless `to` exists. 0 on success, otherwise the
// errno value (EEXIST when the target exists). Uses renameat2's
// RENAME_NOREPLACE and falls back to RenameNoReplaceFallback where the
// kernel or the filesystem lacks it.
int RenameNoReplace(const char* from, const char* to);
// The same without renameat2: link() and unlink() for a non-folder (atomic:
// link fails when the target exists), otherwise a rename after checking that
// the target is absent (a race with another creator of the target remains).
int RenameNoReplaceFallback(const char* from, const char* to);

}  // namespace qvt::platform::posix

#endif
