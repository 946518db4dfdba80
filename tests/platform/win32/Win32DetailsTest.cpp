// What only the Win32 side does: UTF-8 as the "native" path form, the
// shell's recycle bin, and the thread's ANSI code page (932 under the
// project's Wine prefix).
#include <windows.h>

#include "CodePage.h"
#include "PlatformFile.h"
#include "PlatformTestSupport.h"

namespace qvt::platform::test {
namespace {

TEST(Win32PathTest, NativePathsAreTheUtf8Spelling) {
  const struct {
    std::wstring windows;
    std::string native;
  } cases[] = {
      {L"C:\\a\\b.vmdk", "C:\\a\\b.vmdk"},
      {L"Z:\\仮想マシン\\表示ソ.vmdk",
       "Z:\\\xE4\xBB\xAE\xE6\x83\xB3\xE3\x83\x9E\xE3\x82\xB7\xE3\x83\xB3\\"
       "\xE8\xA1\xA8\xE7\xA4\xBA\xE3\x82\xBD.vmdk"},
      {L"\\\\server\\share\\" + Units({0xD83D, 0xDE00}), "\\\\server\\share\\\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    std::string native;
    ASSERT_TRUE(NativePathFromWindows(c.windows, &native));
    EXPECT_EQ(native, c.native);
    EXPECT_EQ(WindowsPathFromNative(c.native), c.windows);
  }
}

TEST(Win32PathTest, BrokenTextGivesNoPath) {
  std::string native = "unchanged";
  EXPECT_FALSE(NativePathFromWindows(L"C:\\a" + Units({0xD800}) + L"b", &native));
  EXPECT_FALSE(NativePathFromWindows(L"C:\\a" + Units({0xDC00}), &native));
  EXPECT_FALSE(NativePathFromWindows(L"", &native));
  EXPECT_EQ(native, "unchanged");
  for (const char* broken : {"C:\\a\x80", "C:\\a\xE8\xA1", "C:\\a\xC0\xAF", "C:\\\xED\xA0\x80"}) {
    EXPECT_EQ(WindowsPathFromNative(broken), L"") << broken;
  }
}

class Win32RecycleTest : public FolderTest {};

// Where the shell puts the file is its own business (under Wine, the host's
// trash); the file must be gone from its folder.
TEST_F(Win32RecycleTest, ARecycledFileLeavesItsFolder) {
  ASSERT_TRUE(WriteWholeFile(Child(L"表示 ソ.vmdk"), Pattern(3000)));
  ASSERT_TRUE(FileRecycle(Child(L"表示 ソ.vmdk")));
  EXPECT_FALSE(PathExists(Child(L"表示 ソ.vmdk")));
}

TEST_F(Win32RecycleTest, OnlyOneFullyNamedFileIsRecycled) {
  ASSERT_TRUE(WriteWholeFile(Child(L"a1.txt"), "a"));
  ASSERT_TRUE(WriteWholeFile(Child(L"a2.txt"), "a"));
  wchar_t current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(Folder().c_str()));
  const bool relative = FileRecycle(L"a1.txt");
  const bool rooted = FileRecycle(Folder().substr(2) + L"\\a1.txt");  // "\..." without drive
  SetCurrentDirectoryW(current);
  EXPECT_FALSE(relative);
  EXPECT_FALSE(rooted);
  EXPECT_FALSE(FileRecycle(Child(L"a*.txt")));
  EXPECT_FALSE(FileRecycle(Child(L"a?.txt")));
  EXPECT_FALSE(FileRecycle(Child(L"a1.txt") + std::wstring(1, L'\0') + Child(L"a2.txt")));
  EXPECT_TRUE(PathExists(Child(L"a1.txt")));
  EXPECT_TRUE(PathExists(Child(L"a2.txt")));
}

class Win32AnsiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CPINFOEXW info;
    if (!GetCPInfoExW(CP_THREAD_ACP, 0, &info) || info.CodePage != 932) {
      GTEST_SKIP() << "the thread's ANSI code page is not 932";
    }
  }
};

TEST_F(Win32AnsiTest, Cp932TextConvertsBothWays) {
  const struct {
    std::string bytes;
    std::wstring wide;
  } cases[] = {
      {"plain", L"plain"},
      {"\x95\x5c\x8e\xa6\x83\x5c", L"表示ソ"},
      {"\xb1", L"\uFF71"},
      {"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnsiToWide(c.bytes), c.wide);
    EXPECT_EQ(WideToAnsi(c.wide), c.bytes);
  }
}

TEST_F(Win32AnsiTest, WhatCannotBeConvertedIsMarked) {
  EXPECT_EQ(WideToAnsi(L"a\u00E9b"), "a?b");           // no best fit to 'e'
  EXPECT_EQ(WideToAnsi(L"\u00A5"), "?");               // no best fit to a backslash
  EXPECT_EQ(WideToAnsi(L"x" + Units({0xD800}) + L"y"), "x?y");
  EXPECT_EQ(AnsiToWide("a\x81"), L"a\uFFFD");          // a lead byte at the end
  EXPECT_EQ(AnsiToWide("\x81\x20z"), L"\uFFFD z");      // a lead byte with a bad trail
  EXPECT_EQ(AnsiToWide("\x95\x5c\xfd"), L"表\uFFFD");  // a byte CP932 lacks
}

}  // namespace
}  // namespace qvt::platform::test
