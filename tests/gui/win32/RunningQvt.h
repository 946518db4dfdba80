// Test fixture: a QVT.exe started for the test, with its main window found;
// ended at the end of the test whatever happened.
#ifndef QVT_TESTS_GUI_RUNNINGQVT_H
#define QVT_TESTS_GUI_RUNNINGQVT_H

#include <gtest/gtest.h>

#include <string>

#include "GuiHarness.h"
#include "MainFrame.h"

namespace qvt::gui {

// Starts `exe` and waits for its main window; the window or nullptr.
inline HWND StartQvt(const std::wstring& exe, Process* process) {
  std::wstring error;
  *process = Process::Start(exe, &error);
  if (!process->IsStarted()) {
    ADD_FAILURE() << "could not start QVT.exe: " << testing::PrintToString(error);
    return nullptr;
  }
  HWND window = WaitForWindow(process->Id(), win32::kMainFrameClassName, nullptr);
  if (window == nullptr) {
    ADD_FAILURE() << "no main window of QVT.exe appeared within " << kWaitMs << " ms";
  }
  return window;
}

class RunningQvt : public testing::Test {
 protected:
  void SetUp() override {
    main_ = StartQvt(QvtExecutable(), &qvt_);
    ASSERT_NE(main_, nullptr);
  }

  void TearDown() override {
    if (qvt_.IsRunning() && IsWindow(main_)) {
      DWORD code = 0;
      CloseAndWait(qvt_, main_, &code);
    }
  }

  Process qvt_;
  HWND main_ = nullptr;
};

}  // namespace qvt::gui

#endif
