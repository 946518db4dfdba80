// What qvtdisk converts at its edges: native paths to the engine's Shift_JIS
// Windows paths and back, engine texts to UTF-8, result codes to names; and
// the progress bar that also carries Ctrl+C into the engine.
#ifndef QVT_TOOLS_QVTDISK_TOOLTEXT_H
#define QVT_TOOLS_QVTDISK_TOOLTEXT_H

#include <cstdint>
#include <string>

#include "DiskResult.h"
#include "QvtDisk.h"
#include "TextEncoding.h"

namespace qvt::qvtdisk {

// A native path (UTF-8), made absolute against the working folder, as the
// engine's path: the Windows form in Shift_JIS. False when it has no Windows
// form, a character Shift_JIS lacks, or does not fit the engine's 520 bytes.
bool EnginePathFromNative(const std::string& native, std::string* enginePath);
// The other way, for output; the Windows form when there is no native one.
std::string NativeFromEngine(const char* enginePath);

// Engine text to UTF-8 ("?" for what does not convert).
std::string Utf8FromText(TextView text, TextEncoding encoding);
// UTF-8 text to Shift_JIS; false when a character has no Shift_JIS form.
bool ShiftJisFromUtf8(const std::string& text, std::string* shiftJis);

// "DISK_E_FORMAT (-206)".
std::string DiskResultText(DiskResult result);

// Reports (done, total) as a bar on stderr when it is a terminal, and asks
// the console whether to stop at every report.
class ProgressBar {
 public:
  ProgressBar(Console& console, bool draw);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // A ProgressFn whose context is the bar.
  static bool Report(std::uint32_t done, std::uint32_t total, void* context);
  // Ends the bar's line (when it drew one).
  void Finish();

 private:
  Console& console_;
  bool draw_;
  bool drawn_ = false;
  int lastPermille_ = -1;
};

}  // namespace qvt::qvtdisk

#endif
