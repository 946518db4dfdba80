// Program entry: single-instance check, COM and common controls, C runtime
// locale, the main window and its message loop.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <clocale>

#include "../../resources/resource.h"
#include "MainFrame.h"
#include "SingleInstance.h"

namespace {

int RunMessageLoop(HWND frame, HACCEL accelerators) {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 1;
    if (accelerators != nullptr && TranslateAcceleratorW(frame, accelerators, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int RunMainFrame(HINSTANCE instance, int showCommand) {
  qvt::win32::CMainFrame frame;
  if (!frame.Create(instance)) return 1;
  ShowWindow(frame.Handle(), showCommand);
  UpdateWindow(frame.Handle());
  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  return RunMessageLoop(frame.Handle(), accelerators);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  std::wstring executablePath;
  if (!qvt::win32::GetExecutablePath(executablePath)) return 1;

  // A second start of the same executable ends here, without a word.
  qvt::win32::SingleInstanceMutex instanceMutex(executablePath);
  if (!instanceMutex.IsFirstInstance()) return 1;

  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_BAR_CLASSES | ICC_COOL_CLASSES;
  InitCommonControlsEx(&controls);
  std::setlocale(LC_ALL, "");

  const int exitCode = RunMainFrame(instance, showCommand);

  std::setlocale(LC_ALL, "C");
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;  // the mutex is released as instanceMutex goes
}
