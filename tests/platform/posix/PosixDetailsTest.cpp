// What only the POSIX side does: the locale's charset as the ANSI code page,
// the zone offset from TZ, permission bits on copies, and the rename that
// never replaces when renameat2 is missing.
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

#include "Clock.h"
#include "CodePage.h"
#include "PlatformFile.h"
#include "PlatformTestSupport.h"
#include "posix/PosixSupport.h"

namespace qvt::platform::test {
namespace {

// Sets the C locale's character type for the scope; ok() is false when the
// system lacks the locale.
class ScopedCtype {
 public:
  explicit ScopedCtype(const char* name) {
    const char* old = std::setlocale(LC_CTYPE, nullptr);
    old_ = old != nullptr ? old : "C";
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~ScopedCtype() { std::setlocale(LC_CTYPE, old_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string old_;
  bool ok_;
};

struct AnsiCase {
  std::string bytes;
  std::wstring wide;
  const char* what;
};

TEST(PosixAnsiTest, TheCLocaleIsAscii) {
  ScopedCtype ctype("C");
  ASSERT_TRUE(ctype.ok());
  EXPECT_EQ(AnsiToWide("plain text.vmx"), L"plain text.vmx");
  EXPECT_EQ(WideToAnsi(L"plain text.vmx"), "plain text.vmx");
  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
  const AnsiCase toAnsi[] = {
      {"a?b", L"a\u00E9b", "e acute"},
      {"?", L"表", "kanji"},
      {"x?y", L"x" + Units({0xD83D, 0xDE00}) + L"y", "a surrogate pair is one character"},
      {"?", Units({0xD800}), "an unpaired surrogate"},
  };
  for (const AnsiCase& c : toAnsi) EXPECT_EQ(WideToAnsi(c.wide), c.bytes) << c.what;
  EXPECT_EQ(AnsiToWide("a\x80z"), L"a\uFFFDz");
}

TEST(PosixAnsiTest, AUtf8LocaleConvertsEveryCharacter) {
  ScopedCtype ctype("C.UTF-8");
  if (!ctype.ok()) GTEST_SKIP() << "the C.UTF-8 locale is not installed";
  const AnsiCase both[] = {
      {"\xE8\xA1\xA8\xE7\xA4\xBA\xE3\x82\xBD", L"表示ソ", "kanji and kana"},
      {"\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00}), "beyond the BMP"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3), "a NUL inside"},
  };
  for (const AnsiCase& c : both) {
    EXPECT_EQ(AnsiToWide(c.bytes), c.wide) << c.what;
    EXPECT_EQ(WideToAnsi(c.wide), c.bytes) << c.what;
  }
  const AnsiCase undecodable[] = {
      {"a\xFFz", L"a\uFFFDz", "a byte no UTF-8 has"},
      {"\xE8\xA1", L"\uFFFD\uFFFD", "a character cut off at the end: each byte"},
      {"\xE8(", L"\uFFFD(", "a lead byte without its continuation"},
  };
  for (const AnsiCase& c : undecodable) EXPECT_EQ(AnsiToWide(c.bytes), c.wide) << c.what;
  EXPECT_EQ(WideToAnsi(L"a" + Units({0xDC00}) + L"b"), "a?b");
}

TEST(PosixAnsiTest, AJapaneseLocaleUsesItsCharset) {
  ScopedCtype ctype("ja_JP.UTF-8");
  if (!ctype.ok()) GTEST_SKIP() << "the ja_JP.UTF-8 locale is not installed";
  EXPECT_EQ(WideToAnsi(L"仮想"), "\xE4\xBB\xAE\xE6\x83\xB3");
  EXPECT_EQ(AnsiToWide("\xE4\xBB\xAE\xE6\x83\xB3"), L"仮想");
}

// Sets TZ for the scope.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_;
  std::string old_;
};

TEST(PosixClockTest, LocalFileTimeToFileTimeTakesOffTheZoneOffset) {
  const std::int64_t minute = 600000000;
  const std::uint64_t local = 133500000000000000ull;
  const struct {
    const char* zone;
    std::int64_t minutesEastOfUtc;
  } cases[] = {{"UTC0", 0}, {"JST-9", 540}, {"EST5", -300}, {"<+0530>-5:30", 330}};
  for (const auto& c : cases) {
    ScopedZone zone(c.zone);
    const auto expected = static_cast<std::uint64_t>(static_cast<std::int64_t>(local) -
                                                     c.minutesEastOfUtc * minute);
    EXPECT_EQ(LocalFileTimeToFileTime(local), expected) << c.zone;
  }
}

TEST(PosixClockTest, LocalTimeFollowsTheZone) {
  ScopedZone zone("JST-9");
  const LocalTime t = CurrentLocalTime();
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  // Nine hours ahead; allow the minute to turn between the two readings.
  const int localMinutes = t.hour * 60 + t.minute;
  const int utcMinutes = utc.tm_hour * 60 + utc.tm_min;
  const int ahead = ((localMinutes - utcMinutes) % 1440 + 1440) % 1440;
  EXPECT_GE(ahead, 9 * 60 - 1);
  EXPECT_LE(ahead, 9 * 60 + 1);
}

class PosixCopyTest : public FolderTest {};

TEST_F(PosixCopyTest, TheCopyHasTheSourcesPermissionBits) {
  for (const mode_t mode : {0640, 0755, 0600, 0444}) {
    const std::wstring source = Child(L"source.bin");
    const std::wstring target = Child(L"target.bin");
    ASSERT_TRUE(WriteWholeFile(source, "x"));
    std::string nativeSource;
    std::string nativeTarget;
    ASSERT_TRUE(NativePathFromWindows(source, &nativeSource));
    ASSERT_TRUE(NativePathFromWindows(target, &nativeTarget));
    ASSERT_EQ(chmod(nativeSource.c_str(), mode), 0);
    ASSERT_EQ(FileCopyWithProgress(source, target, nullptr, nullptr), kCopyDone);
    struct stat st;
    ASSERT_EQ(stat(nativeTarget.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode) << std::oct << mode;
    chmod(nativeSource.c_str(), 0600);
    chmod(nativeTarget.c_str(), 0600);
    ASSERT_TRUE(FileDelete(source));
    ASSERT_TRUE(FileDelete(target));
  }
}

class PosixRenameTest : public FolderTest {
 protected:
  std::string Native(const wchar_t* name) {
    std::string native;
    EXPECT_TRUE(NativePathFromWindows(Child(name), &native));
    return native;
  }
};

// Both ways of renaming without replacing: with renameat2 and without it.
TEST_F(PosixRenameTest, NeitherWayReplacesATarget) {
  using Rename = int (*)(const char*, const char*);
  const struct {
    Rename rename;
    const char* how;
  } ways[] = {{posix::RenameNoReplace, "renameat2"}, {posix::RenameNoReplaceFallback, "fallback"}};
  for (const auto& way : ways) {
    ASSERT_TRUE(WriteWholeFile(Child(L"a"), "a"));
    ASSERT_TRUE(WriteWholeFile(Child(L"b"), "b"));
    ASSERT_TRUE(DirectoryCreate(Child(L"d")));
    ASSERT_TRUE(DirectoryCreate(Child(L"e")));
    EXPECT_EQ(way.rename(Native(L"a").c_str(), Native(L"b").c_str()), EEXIST) << way.how;
    EXPECT_EQ(way.rename(Native(L"d").c_str(), Native(L"e").c_str()), EEXIST) << way.how;
    EXPECT_EQ(way.rename(Native(L"a").c_str(), Native(L"d").c_str()), EEXIST) << way.how;
    std::string content;
    ASSERT_TRUE(ReadWholeFile(Child(L"b"), &content));
    EXPECT_EQ(content, "b") << way.how;

    EXPECT_EQ(way.rename(Native(L"a").c_str(), Native(L"c").c_str()), 0) << way.how;
    EXPECT_FALSE(PathExists(Child(L"a"))) << way.how;
    ASSERT_TRUE(ReadWholeFile(Child(L"c"), &content));
    EXPECT_EQ(content, "a") << way.how;
    EXPECT_EQ(way.rename(Native(L"d").c_str(), Native(L"f").c_str()), 0) << way.how;
    EXPECT_TRUE(IsDirectory(Child(L"f"))) << way.how;
    EXPECT_FALSE(PathExists(Child(L"d"))) << way.how;
    EXPECT_EQ(way.rename(Native(L"missing").c_str(), Native(L"g").c_str()), ENOENT) << way.how;

    for (const wchar_t* name : {L"b", L"c"}) ASSERT_TRUE(FileDelete(Child(name)));
    for (const wchar_t* name : {L"e", L"f"}) ASSERT_TRUE(DirectoryRemove(Child(name)));
  }
}

}  // namespace
}  // namespace qvt::platform::test
