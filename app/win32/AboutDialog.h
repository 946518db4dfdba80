// The About dialog: program icon, product name, OK.
#ifndef QVT_APP_WIN32_ABOUTDIALOG_H
#define QVT_APP_WIN32_ABOUTDIALOG_H

#include "Dialog.h"

namespace qvt::win32 {

class CAboutDialog : public CModalDialog {
 public:
  CAboutDialog();

 protected:
  void OnInitDialog() override;
};

}  // namespace qvt::win32

#endif
