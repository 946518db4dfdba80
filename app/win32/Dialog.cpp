#include "Dialog.h"

#include <exception>
#include <new>

namespace qvt::win32 {

INT_PTR CModalDialog::DoModal(HWND owner) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId_), owner, &CModalDialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CModalDialog::OnCommand(WORD id, WORD /*code*/) {
  if (id == IDOK || id == IDCANCEL) {
    EndDialog(hwnd_, id);
    return true;
  }
  return false;
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CModalDialog*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
  }
  if (self == nullptr) return FALSE;

  try {
    switch (message) {
      case WM_INITDIALOG:
        self->OnInitDialog();
        return TRUE;  // focus to the first control
      case WM_COMMAND:
        return self->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
      default:
        return FALSE;
    }
  } catch (const std::bad_alloc&) {
    return FALSE;  // ends the command being handled, as in CWindow
  } catch (...) {
    std::terminate();
  }
}

}  // namespace qvt::win32
