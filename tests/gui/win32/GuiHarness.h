// Driving QVT.exe from a test: start it, find its windows, look at them,
// send them commands and keys, and end it. Every wait is bounded.
#ifndef QVT_TESTS_GUI_GUIHARNESS_H
#define QVT_TESTS_GUI_GUIHARNESS_H

#include <windows.h>

#include <string>
#include <vector>

namespace qvt::gui {

// How long a window may take to appear or a process to end before a test
// gives up; Wine's first start of a program can take seconds.
constexpr DWORD kWaitMs = 30000;

// The folder of the running test program; QVT.exe is built beside it.
std::wstring ProgramDirectory();
std::wstring QvtExecutable();
// <build>/artifacts, created when missing.
std::wstring ArtifactDirectory();

// A started process. Ends it (and waits) when it goes out of scope while it
// still runs, so that no test leaves a QVT behind.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts `exe` with no arguments; error text in `error` on failure.
  static Process Start(const std::wstring& exe, std::wstring* error);

  bool IsStarted() const { return handle_ != nullptr; }
  DWORD Id() const { return id_; }
  bool IsRunning() const;
  // Waits up to `ms`; true with the exit code when the process ended.
  bool WaitForExit(DWORD ms, DWORD* exitCode);
  void Kill();

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

// Waits for a visible top-level window of the process with that class (any
// class when null) and caption (any when null); nullptr after `ms`.
HWND WaitForWindow(DWORD processId, const wchar_t* className, const wchar_t* caption,
                   DWORD ms = kWaitMs);
// Waits until the window is gone; false after `ms`.
bool WaitForWindowGone(HWND window, DWORD ms = kWaitMs);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
// The texts of the menu's items, as the menu shows them ("" for separators).
std::vector<std::wstring> MenuItemTexts(HMENU menu);
// The state flags (MF_GRAYED, ...) of the item with that command id.
UINT MenuItemState(HMENU menu, UINT commandId);

void PostCommand(HWND window, UINT commandId);
// Brings the window to the front and types the keys through the system's
// input queue, as a user would: each key pressed in order, then all released
// in reverse (so {VK_MENU, VK_F4} is Alt+F4).
bool PressKeys(HWND window, const std::vector<WORD>& keys);

// Saves the window's picture on the screen as a PNG file.
bool SaveWindowPng(HWND window, const std::wstring& path, std::wstring* error);

// Closes the main window and waits for the process to end; its exit code.
bool CloseAndWait(Process& process, HWND window, DWORD* exitCode);

}  // namespace qvt::gui

#endif
