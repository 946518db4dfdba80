// A console for running qvtdisk's verbs in-process: it keeps what they
// print and can stop them at the Nth progress report.
#ifndef QVT_TESTS_TOOLS_QVTDISK_TOOLCONSOLE_H
#define QVT_TESTS_TOOLS_QVTDISK_TOOLCONSOLE_H

#include <string>
#include <vector>

#include "QvtDisk.h"

namespace qvt::test {

class ToolConsole : public qvtdisk::Console {
 public:
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  bool ErrIsTerminal() override { return terminal; }
  bool CancelRequested() override {
    ++checks;
    return stopAtCheck >= 0 && checks > stopAtCheck;
  }

  std::string out;
  std::string err;
  bool terminal = false;
  int stopAtCheck = -1;  // the checks after this many say stop; -1: never
  int checks = 0;
};

inline int RunTool(const std::vector<std::string>& args, ToolConsole* console) {
  return qvtdisk::Run(args, *console);
}

}  // namespace qvt::test

#endif
