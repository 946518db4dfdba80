#include <string>

#include "RunningQvt.h"
#include "resource.h"

namespace qvt::gui {
namespace {

TEST_F(RunningQvt, MainWindowHasItsCaptionAndMenuBar) {
  EXPECT_EQ(WindowText(main_), L"QVT");
  // The menu's items are read from the resource (ResourcesTest): menus belong
  // to their process under Wine and cannot be read from here.
  EXPECT_NE(GetMenu(main_), nullptr);

  std::wstring error;
  const std::wstring shot = ArtifactDirectory() + L"\\main-window.png";
  EXPECT_TRUE(SaveWindowPng(main_, shot, &error)) << testing::PrintToString(error);
  EXPECT_NE(GetFileAttributesW(shot.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(RunningQvt, ExitCommandEndsTheProgramWithCodeZero) {
  PostCommand(main_, ID_APP_EXIT);
  DWORD code = 99;
  ASSERT_TRUE(qvt_.WaitForExit(kWaitMs, &code)) << "QVT.exe did not end after 終了";
  EXPECT_EQ(code, 0u);
}

TEST_F(RunningQvt, AltF4ClosesTheProgram) {
  ASSERT_TRUE(PressKeys(main_, {VK_MENU, VK_F4}));
  DWORD code = 99;
  ASSERT_TRUE(qvt_.WaitForExit(kWaitMs, &code)) << "QVT.exe did not end after Alt+F4";
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace qvt::gui
