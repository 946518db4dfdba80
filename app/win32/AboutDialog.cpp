#include "AboutDialog.h"

#include "../../resources/StringTable.h"
#include "../../resources/resource.h"
#include "ResourceText.h"

namespace qvt::win32 {

CAboutDialog::CAboutDialog() : CModalDialog(IDD_ABOUTBOX) {}

void CAboutDialog::OnInitDialog() {
  SetDlgItemTextW(Handle(), IDC_ABOUT_PRODUCT, LoadResourceText(IDS_PRODUCT_NAME).c_str());
}

}  // namespace qvt::win32
