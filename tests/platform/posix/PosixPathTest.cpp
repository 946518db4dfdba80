// Windows paths <-> POSIX names, and the UTF-16 <-> UTF-8 conversion under
// them.
#include "PlatformFile.h"
#include "PlatformTestSupport.h"
#include "posix/PosixSupport.h"

#include <sys/stat.h>

namespace qvt::platform::test {
namespace {

TEST(PosixPathTest, WindowsPathsBecomePosixNames) {
  const struct {
    std::wstring windows;
    const char* native;
  } cases[] = {
      {L"Z:\\home\\u\\a.vmdk", "/home/u/a.vmdk"},
      {L"z:\\tmp", "/tmp"},
      {L"Z:\\", "/"},
      {L"Z:/mixed\\separators", "/mixed/separators"},
      {L"\\rooted\\no drive", "/rooted/no drive"},
      {L"\\", "/"},
      {L"relative\\dir\\f.txt", "relative/dir/f.txt"},
      {L"f.txt", "f.txt"},
      {L"..\\up", "../up"},
      {L"Z:\\仮想マシン\\表示ソ.vmdk",
       "/\xE4\xBB\xAE\xE6\x83\xB3\xE3\x83\x9E\xE3\x82\xB7\xE3\x83\xB3/"
       "\xE8\xA1\xA8\xE7\xA4\xBA\xE3\x82\xBD.vmdk"},
      {L"Z:\\" + Units({0xD83D, 0xDE00}) + L".txt", "/\xF0\x9F\x98\x80.txt"},  // U+1F600
      {L"Z:\\" + Units({0xDBFF, 0xDFFF}), "/\xF4\x8F\xBF\xBF"},                 // U+10FFFF
      {L"Z:\\\u00E9\u07FF\u0800\uFFFD", "/\xC3\xA9\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    std::string native;
    ASSERT_TRUE(NativePathFromWindows(c.windows, &native)) << c.native;
    EXPECT_EQ(native, c.native);
  }
}

TEST(PosixPathTest, PathsWithoutAPosixMeaningFail) {
  const struct {
    std::wstring windows;
    const char* why;
  } cases[] = {
      {L"C:\\Windows", "another drive"},
      {L"a:\\x", "another drive"},
      {L"Z:", "a drive's current folder"},
      {L"Z:relative", "a drive's current folder"},
      {L"C:relative", "another drive, relative"},
      {L"\\\\server\\share\\f", "a network path"},
      {L"//server/share/f", "a network path with slashes"},
      {L"\\\\?\\Z:\\f", "a device path"},
      {L"", "nothing"},
      {L"Z:\\a" + Units({0xD800}) + L"b", "an unpaired high surrogate"},
      {L"Z:\\a" + Units({0xDC00}), "an unpaired low surrogate"},
      {L"Z:\\a" + Units({0xD800}), "a high surrogate at the end"},
      {L"Z:\\a" + Units({0xDC00, 0xD800}), "surrogates the wrong way round"},
      {L"Z:\\a" + Units({0x1F600}), "no UTF-16 unit"},
      {std::wstring(L"Z:\\a\0b", 6), "a NUL inside"},
  };
  for (const auto& c : cases) {
    std::string native = "unchanged";
    EXPECT_FALSE(NativePathFromWindows(c.windows, &native)) << c.why;
    EXPECT_EQ(native, "unchanged") << c.why;
  }
}

TEST(PosixPathTest, PosixNamesBecomeWindowsPaths) {
  const struct {
    std::string native;
    std::wstring windows;
  } cases[] = {
      {"/home/u/a.vmdk", L"Z:\\home\\u\\a.vmdk"},
      {"/", L"Z:\\"},
      {"relative/f.txt", L"relative\\f.txt"},
      {"f", L"f"},
      {"/\xE8\xA1\xA8\xE7\xA4\xBA\xE3\x82\xBD", L"Z:\\表示ソ"},
      {"/\xF0\x9F\x98\x80", L"Z:\\" + Units({0xD83D, 0xDE00})},
      {"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsPathFromNative(c.native), c.windows) << c.native;
  }
}

// Malformed UTF-8 gives an empty path (and never a read past the end).
TEST(PosixPathTest, MalformedUtf8GivesNoPath) {
  const struct {
    std::string native;
    const char* why;
  } cases[] = {
      {"/a\x80", "a stray continuation byte"},
      {"/a\xC3", "a lead byte at the end"},
      {"/a\xE8\xA1", "a three-byte character cut short"},
      {"/a\xF0\x9F\x98", "a four-byte character cut short"},
      {"/a\xC3(", "a lead byte without its continuation"},
      {"/a\xC0\xAF", "an overlong slash"},
      {"/a\xE0\x80\xAF", "an overlong three-byte form"},
      {"/a\xED\xA0\x80", "an encoded surrogate"},
      {"/a\xF4\x90\x80\x80", "above U+10FFFF"},
      {"/a\xFF", "byte 0xFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsPathFromNative(c.native), L"") << c.why;
  }
}

TEST(PosixPathTest, ConversionsRoundTrip) {
  const std::wstring paths[] = {
      L"Z:\\仮想マシン\\表示ソ.vmdk",
      L"Z:\\a b\\c" + Units({0xD83D, 0xDE00}),
      L"rel\\x",
  };
  for (const std::wstring& path : paths) {
    std::string native;
    ASSERT_TRUE(NativePathFromWindows(path, &native));
    EXPECT_EQ(WindowsPathFromNative(native), path);
  }
}

// The name on disk is the UTF-8 spelling, so other programs see it.
TEST(PosixPathTest, FilesAreCreatedUnderTheirUtf8Names) {
  std::wstring folder;
  ASSERT_TRUE(MakeTempFolder(&folder));
  std::string nativeFolder;
  ASSERT_TRUE(NativePathFromWindows(folder, &nativeFolder));
  const bool written = WriteWholeFile(folder + L"\\表", "x");
  struct stat st;
  const bool found = stat((nativeFolder + "/\xE8\xA1\xA8").c_str(), &st) == 0;
  RemoveTree(folder);
  EXPECT_TRUE(written);
  EXPECT_TRUE(found);
}

TEST(PosixUtfTest, NulIsKeptOnlyWhenAllowed) {
  const std::wstring withNul(L"a\0b", 3);
  std::string out;
  ASSERT_TRUE(posix::Utf16ToUtf8(withNul, true, &out));
  EXPECT_EQ(out, std::string("a\0b", 3));
  EXPECT_FALSE(posix::Utf16ToUtf8(withNul, false, &out));
}

}  // namespace
}  // namespace qvt::platform::test
