// A top-level window bound to a C++ object: the window procedure finds the
// object through the window's user data and routes each message to the
// virtual HandleMessage. No exception leaves the window procedure.
#ifndef QVT_APP_WIN32_WINDOW_H
#define QVT_APP_WIN32_WINDOW_H

#include <windows.h>

namespace qvt::win32 {

class CWindow {
 public:
  CWindow() = default;
  virtual ~CWindow() = default;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;

  HWND Handle() const { return hwnd_; }

 protected:
  // Registers the class once per process; false when that fails.
  static bool RegisterClassOnce(HINSTANCE instance, const wchar_t* className, HICON icon);
  HWND CreateTopLevel(HINSTANCE instance, const wchar_t* className, const wchar_t* caption,
                      HMENU menu);

  // Messages not handled go to DefWindowProc.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
};

}  // namespace qvt::win32

#endif
