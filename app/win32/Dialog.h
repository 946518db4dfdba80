// A modal dialog from a resource template, bound to a C++ object: the dialog
// procedure keeps `this` from WM_INITDIALOG on and routes to small virtual
// handlers. What goes in and comes out is plain data of the derived class.
#ifndef QVT_APP_WIN32_DIALOG_H
#define QVT_APP_WIN32_DIALOG_H

#include <windows.h>

namespace qvt::win32 {

class CModalDialog {
 public:
  explicit CModalDialog(int templateId) : templateId_(templateId) {}
  virtual ~CModalDialog() = default;
  CModalDialog(const CModalDialog&) = delete;
  CModalDialog& operator=(const CModalDialog&) = delete;

  // Runs the dialog owned by `owner`; the id of the button that ended it,
  // or -1 when the dialog could not be created.
  INT_PTR DoModal(HWND owner);

 protected:
  HWND Handle() const { return hwnd_; }
  virtual void OnInitDialog() {}
  // Return true when the command was handled. The default ends the dialog on
  // OK and Cancel.
  virtual bool OnCommand(WORD id, WORD code);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  int templateId_;
  HWND hwnd_ = nullptr;
};

}  // namespace qvt::win32

#endif
