// CMainFrame: the program's main window.
#ifndef QVT_APP_WIN32_MAINFRAME_H
#define QVT_APP_WIN32_MAINFRAME_H

#include "Window.h"

namespace qvt::win32 {

// Window class of the main frame; the GUI tests look for it.
inline constexpr wchar_t kMainFrameClassName[] = L"QVTMainFrame";

class CMainFrame : public CWindow {
 public:
  // Creates the window; false when that fails.
  bool Create(HINSTANCE instance);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnCommand(WORD id);
  void OnInitMenuPopup(HMENU popup);
};

}  // namespace qvt::win32

#endif
