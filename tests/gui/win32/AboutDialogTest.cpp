#include <string>

#include "RunningQvt.h"
#include "resource.h"

namespace qvt::gui {
namespace {

TEST_F(RunningQvt, AboutShowsTheIconAndProductNameAndClosesWithEnter) {
  PostCommand(main_, ID_APP_ABOUT);
  HWND about = WaitForWindow(qvt_.Id(), L"#32770", L"QVTについて");
  ASSERT_NE(about, nullptr) << "the About dialog did not appear";

  EXPECT_EQ(WindowText(GetDlgItem(about, IDC_ABOUT_PRODUCT)), L"QVT Version 1.0");
  EXPECT_EQ(WindowText(GetDlgItem(about, IDOK)), L"OK");
  HWND icon = GetDlgItem(about, IDC_ABOUT_ICON);
  ASSERT_NE(icon, nullptr);
  EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0) << "the program icon is missing";
  EXPECT_EQ(GetWindow(about, GW_OWNER), main_) << "the dialog must be owned by the main window";

  std::wstring error;
  EXPECT_TRUE(SaveWindowPng(about, ArtifactDirectory() + L"\\about-dialog.png", &error))
      << testing::PrintToString(error);

  ASSERT_TRUE(PressKeys(about, {VK_RETURN}));
  EXPECT_TRUE(WaitForWindowGone(about)) << "Enter did not close the About dialog";
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_TRUE(qvt_.IsRunning());
}

}  // namespace
}  // namespace qvt::gui
