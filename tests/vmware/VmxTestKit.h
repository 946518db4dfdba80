// Helpers shared by the VMX tests: configuration text as lines, and a scope
// that gives the test a chosen ANSI code page where the system has one.
#ifndef QVT_TESTS_VMWARE_VMXTESTKIT_H
#define QVT_TESTS_VMWARE_VMXTESTKIT_H

#include <initializer_list>
#include <string>
#include <vector>

namespace qvt::test {

// Split at LF, one CR before it removed: how a configuration is read.
std::vector<std::string> SplitConfigLines(const std::string& bytes);
// Each line followed by CR LF: how a configuration is written.
std::string JoinCrLf(const std::vector<std::string>& lines);

// Makes the ANSI code page one in which `probe` is written as `bytes`: the
// current one if it already is (Windows and Wine, where the code page comes
// from the system), else the first of `locales` that gives it (POSIX, where
// it is the C locale's charset). The C locale is put back at the end.
class AnsiCodePageScope {
 public:
  AnsiCodePageScope(const std::wstring& probe, const std::string& bytes,
                    std::initializer_list<const char*> locales);
  ~AnsiCodePageScope();
  AnsiCodePageScope(const AnsiCodePageScope&) = delete;
  AnsiCodePageScope& operator=(const AnsiCodePageScope&) = delete;

  bool Active() const { return active_; }

 private:
  std::string saved_;
  bool changed_ = false;
  bool active_ = false;
};

}  // namespace qvt::test

#endif
