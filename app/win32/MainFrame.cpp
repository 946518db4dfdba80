#include "MainFrame.h"

#include "../../resources/resource.h"
#include "AboutDialog.h"

namespace qvt::win32 {
namespace {

// Commands of the menu bar that this frame carries out; every other item of
// the menu is shown disabled.
bool IsAvailable(UINT id) {
  switch (id) {
    case ID_APP_EXIT:
    case ID_APP_ABOUT:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool CMainFrame::Create(HINSTANCE instance) {
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  if (!RegisterClassOnce(instance, kMainFrameClassName, icon)) return false;
  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  if (menu == nullptr) return false;
  if (CreateTopLevel(instance, kMainFrameClassName, L"QVT", menu) == nullptr) {
    DestroyMenu(menu);
    return false;
  }
  return true;
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_INITMENUPOPUP:
      OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return Default(message, wParam, lParam);
  }
}

void CMainFrame::OnCommand(WORD id) {
  if (!IsAvailable(id)) return;
  switch (id) {
    case ID_APP_EXIT:
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      break;
    case ID_APP_ABOUT: {
      CAboutDialog about;
      about.DoModal(Handle());
      break;
    }
    default:
      break;
  }
}

void CMainFrame::OnInitMenuPopup(HMENU popup) {
  const int count = GetMenuItemCount(popup);
  for (int i = 0; i < count; ++i) {
    const UINT id = GetMenuItemID(popup, i);
    if (id == 0 || id == static_cast<UINT>(-1)) continue;  // separator or submenu
    EnableMenuItem(popup, static_cast<UINT>(i),
                   MF_BYPOSITION | (IsAvailable(id) ? MF_ENABLED : MF_GRAYED));
  }
}

}  // namespace qvt::win32
