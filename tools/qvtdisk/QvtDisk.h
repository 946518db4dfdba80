// qvtdisk: the disk engine on the command line. The portable part: verbs,
// usage, output and exit status; the OS part (tools/qvtdisk/posix/ and
// win32/) gives it the arguments, the console and the Ctrl+C flag.
#ifndef QVT_TOOLS_QVTDISK_QVTDISK_H
#define QVT_TOOLS_QVTDISK_QVTDISK_H

#include <string>
#include <vector>

namespace qvt::qvtdisk {

constexpr int kExitOk = 0;
constexpr int kExitCancelled = 1;
constexpr int kExitUsage = 2;
constexpr int kExitEngine = 3;

// Where the tool writes (UTF-8 text) and how it learns of a stop.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
  // A progress bar is drawn on stderr only when it is a terminal.
  virtual bool ErrIsTerminal() = 0;
  // Asked at every progress report; true stops the work there.
  virtual bool CancelRequested() = 0;
};

// Runs one command line (the arguments after the program's name, UTF-8,
// paths in the system's own form); its exit status.
int Run(const std::vector<std::string>& args, Console& console);

}  // namespace qvt::qvtdisk

#endif
