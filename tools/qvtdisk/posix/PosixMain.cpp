// qvtdisk's entry on POSIX systems: arguments are UTF-8 already.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Cancel.h"
#include "QvtDisk.h"

namespace {

class StdConsole : public qvt::qvtdisk::Console {
 public:
  void Out(const std::string& text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
  void Err(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
  bool ErrIsTerminal() override { return isatty(STDERR_FILENO) == 1; }
  bool CancelRequested() override { return qvt::qvtdisk::CancelFlagRaised(); }
};

}  // namespace

int main(int argc, char** argv) {
  qvt::qvtdisk::InstallCancelHandler();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  StdConsole console;
  const int status = qvt::qvtdisk::Run(args, console);
  std::fflush(stdout);
  return status;
}
