// qvt_screenshot PNG-PATH: starts QVT.exe (beside this program), saves a
// picture of its main window to PNG-PATH and closes it again. Used to show
// the program where no display is at hand.
#include <cstdio>
#include <string>

#include "GuiHarness.h"
#include "MainFrame.h"

int wmain(int argc, wchar_t** argv) {
  using namespace qvt::gui;
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: qvt_screenshot PNG-PATH\n");
    return 2;
  }
  std::wstring error;
  Process qvt = Process::Start(QvtExecutable(), &error);
  if (!qvt.IsStarted()) {
    std::fwprintf(stderr, L"%ls\n", error.c_str());
    return 1;
  }
  HWND window = WaitForWindow(qvt.Id(), qvt::win32::kMainFrameClassName, nullptr);
  if (window == nullptr) {
    std::fwprintf(stderr, L"QVT.exe showed no main window within %lu ms\n",
                  static_cast<unsigned long>(kWaitMs));
    return 1;
  }
  const bool saved = SaveWindowPng(window, argv[1], &error);
  if (!saved) std::fwprintf(stderr, L"%ls\n", error.c_str());
  DWORD code = 0;
  CloseAndWait(qvt, window, &code);
  return saved ? 0 : 1;
}
