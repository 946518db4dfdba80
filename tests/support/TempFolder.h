// A fresh folder under the system's temporary folder, removed with all it
// holds when the test ends.
#ifndef QVT_TESTS_SUPPORT_TEMPFOLDER_H
#define QVT_TESTS_SUPPORT_TEMPFOLDER_H

#include <filesystem>
#include <string>

namespace qvt::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Native() const { return native_; }
  // Windows form, without a trailing backslash.
  const std::wstring& Windows() const { return windows_; }
  // Windows form of a name inside the folder.
  std::wstring Windows(const std::wstring& name) const { return windows_ + L"\\" + name; }
  // Engine form (Shift_JIS) of a name inside the folder.
  std::string Engine(const std::wstring& name) const;
  std::filesystem::path Native(const std::wstring& name) const;

  // Writes `bytes` to a file inside the folder; its Windows form.
  std::wstring WriteFile(const std::wstring& name, const std::string& bytes) const;
  // The bytes of a file inside the folder ("" when missing).
  std::string ReadFile(const std::wstring& name) const;
  bool Exists(const std::wstring& name) const;

 private:
  std::filesystem::path native_;
  std::wstring windows_;
};

}  // namespace qvt::test

#endif
