#include <string>

#include "RunningQvt.h"

namespace qvt::gui {
namespace {

// A copy of QVT.exe in a folder of its own, removed when the test ends.
class QvtCopy {
 public:
  QvtCopy() {
    folder_ = ArtifactDirectory() + L"\\copy-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    path_ = folder_ + L"\\QVT.exe";
    copied_ = CopyFileW(QvtExecutable().c_str(), path_.c_str(), FALSE) != FALSE;
  }
  ~QvtCopy() {
    DeleteFileW(path_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  bool Copied() const { return copied_; }
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring folder_;
  std::wstring path_;
  bool copied_ = false;
};

TEST_F(RunningQvt, SecondStartAtTheSamePathExitsWithCodeOne) {
  std::wstring error;
  Process second = Process::Start(QvtExecutable(), &error);
  ASSERT_TRUE(second.IsStarted()) << testing::PrintToString(error);
  DWORD code = 0;
  ASSERT_TRUE(second.WaitForExit(kWaitMs, &code)) << "the second QVT.exe kept running";
  EXPECT_EQ(code, 1u);

  EXPECT_TRUE(qvt_.IsRunning()) << "the first instance must be left alone";
  EXPECT_TRUE(IsWindow(main_));
}

TEST_F(RunningQvt, CopyAtAnotherPathRunsBesideTheFirst) {
  QvtCopy copy;
  ASSERT_TRUE(copy.Copied());
  Process other;
  HWND otherMain = StartQvt(copy.Path(), &other);
  ASSERT_NE(otherMain, nullptr);
  EXPECT_NE(otherMain, main_);
  EXPECT_TRUE(qvt_.IsRunning());

  DWORD code = 99;
  EXPECT_TRUE(CloseAndWait(other, otherMain, &code));
  EXPECT_EQ(code, 0u);
}

TEST(SingleInstance, StartsAgainOnceTheFirstHasEnded) {
  Process first;
  HWND window = StartQvt(QvtExecutable(), &first);
  ASSERT_NE(window, nullptr);
  DWORD code = 99;
  ASSERT_TRUE(CloseAndWait(first, window, &code));

  Process again;
  HWND againWindow = StartQvt(QvtExecutable(), &again);
  ASSERT_NE(againWindow, nullptr) << "the ended instance must have given up its claim";
  EXPECT_TRUE(CloseAndWait(again, againWindow, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace qvt::gui
