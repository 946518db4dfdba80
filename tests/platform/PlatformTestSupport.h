// What the platform tests share: a fresh folder per test, whole-file helpers
// through the API under test, and the few things only the system can do.
#ifndef QVT_TESTS_PLATFORM_PLATFORMTESTSUPPORT_H
#define QVT_TESTS_PLATFORM_PLATFORMTESTSUPPORT_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "PlatformFile.h"

namespace qvt::platform::test {

// A new empty folder (POSIX: mkdtemp under /tmp; Win32: in GetTempPathW's
// folder), given as a Windows path without a final backslash.
bool MakeTempFolder(std::wstring* path);
// Removes the folder and everything in it.
void RemoveTree(const std::wstring& path);
// Marks an open file sparse where the system needs to be told (Win32);
// false when the filesystem refuses.
bool MakeSparse(NativeFile file);

// Sets a file's last write time (a FILETIME) with the system's own call.
bool SetLastWriteTime(const std::wstring& path, std::uint64_t fileTime);

// Points the recycle bin at a folder for as long as it lives (POSIX: the
// XDG data home; Win32: nothing, the shell has its own).
class ScopedRecycleBin {
 public:
  explicit ScopedRecycleBin(const std::wstring& folder);
  ~ScopedRecycleBin();
  ScopedRecycleBin(const ScopedRecycleBin&) = delete;
  ScopedRecycleBin& operator=(const ScopedRecycleBin&) = delete;

 private:
  bool hadValue_ = false;
  std::string oldValue_;
};

// Whole files through the API under test.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

// Bytes that differ from offset to offset, so a shifted copy shows.
std::string Pattern(std::size_t length, unsigned seed = 1);

// A wide string from UTF-16 units written as numbers (surrogates included).
std::wstring Units(std::initializer_list<unsigned> units);

// Each test gets its own folder, removed afterwards.
class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::wstring Child(const std::wstring& name) const { return folder_ + L"\\" + name; }
  const std::wstring& Folder() const { return folder_; }

 private:
  std::wstring folder_;
};

}  // namespace qvt::platform::test

#endif
