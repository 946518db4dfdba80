#include "EnginePath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TextConvert.h"

namespace qvt {
namespace {

// Test texts are written in UTF-8 and turned into the encoding under test.
std::string In(const std::string& utf8, TextEncoding e) {
  std::uint8_t storage[4096];
  ByteBuffer b;
  BufferInit(&b, storage, sizeof(storage));
  if (!TextConvertAppend(&b, e, MakeView(utf8.data(), static_cast<std::uint32_t>(utf8.size())),
                         ENC_UTF8)) {
    ADD_FAILURE() << "cannot express the test text " << utf8;
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

std::string Utf8Of(TextView v, TextEncoding e) {
  std::uint8_t storage[4096];
  ByteBuffer b;
  BufferInit(&b, storage, sizeof(storage));
  if (!TextConvertAppend(&b, ENC_UTF8, v, e)) return "<unconvertible>";
  return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

TextView ViewOf(const std::string& s) {
  return MakeView(s.data(), static_cast<std::uint32_t>(s.size()));
}

struct NormalizeCase {
  const char* path;
  const char* expected;  // nullptr: must fail
};

class Normalize : public testing::TestWithParam<std::tuple<NormalizeCase, TextEncoding>> {};

TEST_P(Normalize, KeepsTheRootAndFoldsDots) {
  const auto& [c, e] = GetParam();
  const std::string path = In(c.path, e);
  PathBuffer out;
  const bool ok = PathNormalize(ViewOf(path), e, &out);
  if (c.expected == nullptr) {
    EXPECT_FALSE(ok) << c.path;
    return;
  }
  ASSERT_TRUE(ok) << c.path;
  EXPECT_EQ(Utf8Of(BufferView(out.buffer), e), c.expected);
  // Terminated in the buffer's encoding, behind the counted text.
  for (std::uint32_t i = 0; i < UnitSize(e); ++i) EXPECT_EQ(out.storage[out.buffer.length + i], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Normalize,
    testing::Combine(
        testing::Values(NormalizeCase{"C:\\a\\.\\b\\..\\c", "C:\\a\\c"},
                        NormalizeCase{"C:\\..\\x", nullptr},
                        NormalizeCase{"C:\\a\\b\\", "C:\\a\\b"},
                        NormalizeCase{"C:\\", "C:\\"},
                        NormalizeCase{"c:\\a/b//c", "c:\\a\\b\\c"},
                        NormalizeCase{"\\a\\..\\b", "\\b"},
                        NormalizeCase{"\\..\\b", nullptr},
                        NormalizeCase{"\\\\server\\share\\..\\x", "\\\\server\\x"},
                        NormalizeCase{"\\\\server\\share\\..\\..\\x", nullptr},
                        NormalizeCase{"a\\..\\..\\b", "..\\b"},
                        NormalizeCase{"..\\..\\b", "..\\..\\b"},
                        NormalizeCase{"C:\\ソ\\表\\..\\x.vmdk", "C:\\ソ\\x.vmdk"},
                        NormalizeCase{"C:\\表\\.\\ソ\\", "C:\\表\\ソ"}),
        testing::Values(ENC_SHIFT_JIS, ENC_UTF16LE, ENC_UTF8, ENC_UTF32BE)));

TEST(PathNormalize, FailsWhenTheResultDoesNotFit) {
  const std::string longPath = "C:\\" + std::string(600, 'a');
  PathBuffer out;
  EXPECT_FALSE(PathNormalize(ViewOf(longPath), ENC_SHIFT_JIS, &out));
  EXPECT_EQ(out.buffer.length, 0u);
  // 519 bytes of text and the terminator fill the 520 bytes; 520 do not fit.
  const std::string fits = "C:\\" + std::string(516, 'a');
  EXPECT_TRUE(PathNormalize(ViewOf(fits), ENC_SHIFT_JIS, &out));
  const std::string tooLong = "C:\\" + std::string(517, 'a');
  EXPECT_FALSE(PathNormalize(ViewOf(tooLong), ENC_SHIFT_JIS, &out));
}

struct ResolveCase {
  const char* base;
  const char* path;
  const char* expected;
};

class Resolve : public testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, AppendsRelativePathsToTheBaseFolder) {
  const ResolveCase& c = GetParam();
  // Base in UTF-16LE, the path in Shift_JIS, the result in Shift_JIS: the
  // mix a child disk's parent hint meets.
  const std::string base = In(c.base, ENC_UTF16LE);
  const std::string path = In(c.path, ENC_SHIFT_JIS);
  PathBuffer out;
  const bool ok =
      PathResolve(ViewOf(base), ENC_UTF16LE, ViewOf(path), ENC_SHIFT_JIS, &out, ENC_SHIFT_JIS);
  if (c.expected == nullptr) {
    EXPECT_FALSE(ok);
    return;
  }
  ASSERT_TRUE(ok);
  EXPECT_EQ(Utf8Of(BufferView(out.buffer), ENC_SHIFT_JIS), c.expected);
  EXPECT_EQ(std::strlen(out.CString()), out.buffer.length);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Resolve,
    testing::Values(ResolveCase{"C:\\vm\\child\\c.vmdk", "..\\base\\b.vmdk", "C:\\vm\\base\\b.vmdk"},
                    ResolveCase{"C:\\vm\\child\\c.vmdk", "b.vmdk", "C:\\vm\\child\\b.vmdk"},
                    ResolveCase{"C:\\vm\\child\\c.vmdk", "D:\\x\\.\\y.vmdk", "D:\\x\\y.vmdk"},
                    ResolveCase{"C:\\vm\\c.vmdk", "..\\..\\b.vmdk", nullptr},
                    ResolveCase{"C:\\仮想\\ソ\\c.vmdk", "..\\表\\b.vmdk", "C:\\仮想\\表\\b.vmdk"},
                    ResolveCase{"c.vmdk", "b.vmdk", "b.vmdk"}));

struct SplitCase {
  const char* path;
  const char* directory;
  const char* base;
  const char* extension;
};

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, CutsAtTheLastSeparatorAndTheLastDot) {
  const SplitCase& c = GetParam();
  for (TextEncoding e : {ENC_SHIFT_JIS, ENC_UTF16BE}) {
    const std::string path = In(c.path, e);
    TextView d, b, x;
    PathSplit(ViewOf(path), e, &d, &b, &x);
    EXPECT_EQ(Utf8Of(d, e), c.directory) << c.path;
    EXPECT_EQ(Utf8Of(b, e), c.base) << c.path;
    EXPECT_EQ(Utf8Of(x, e), c.extension) << c.path;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Split,
                         testing::Values(SplitCase{"C:\\vm\\disk.vmdk", "C:\\vm\\", "disk", "vmdk"},
                                         SplitCase{"disk", "", "disk", ""},
                                         SplitCase{"C:\\a.b\\c", "C:\\a.b\\", "c", ""},
                                         SplitCase{"a/b.c.d", "a/", "b.c", "d"},
                                         SplitCase{"C:\\ソ\\表.vmdk", "C:\\ソ\\", "表", "vmdk"},
                                         SplitCase{"C:\\vm\\", "C:\\vm\\", "", ""}));

struct RelativeCase {
  const char* from;
  const char* to;
  const char* expected;
};

class Relative : public testing::TestWithParam<RelativeCase> {};

TEST_P(Relative, ClimbsOutOfTheUnsharedFolders) {
  const RelativeCase& c = GetParam();
  for (TextEncoding e : {ENC_SHIFT_JIS, ENC_UTF16LE}) {
    const std::string from = In(c.from, e);
    const std::string to = In(c.to, e);
    PathBuffer out;
    ASSERT_TRUE(PathMakeRelative(ViewOf(from), ViewOf(to), e, &out));
    EXPECT_EQ(Utf8Of(BufferView(out.buffer), e), c.expected) << c.from << " -> " << c.to;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Relative,
    testing::Values(RelativeCase{"C:\\vm\\child", "C:\\vm\\base\\disk.vmdk", "..\\base\\disk.vmdk"},
                    RelativeCase{"C:\\A\\B", "c:\\a\\x.vmdk", "..\\x.vmdk"},
                    RelativeCase{"C:\\vm\\", "C:\\vm\\disk.vmdk", "disk.vmdk"},
                    RelativeCase{"C:\\vm", "C:\\vm\\disk.vmdk", "disk.vmdk"},
                    RelativeCase{"C:\\a", "C:\\b\\c\\d.vmdk", "..\\b\\c\\d.vmdk"},
                    RelativeCase{"C:\\vm\\a\\b", "C:\\vm\\a\\b\\c\\d.vmdk", "c\\d.vmdk"},
                    RelativeCase{"C:\\ソ", "C:\\ソ\\x.vmdk", "x.vmdk"},
                    RelativeCase{"C:\\ソ", "C:\\ゾ\\x.vmdk", "..\\ゾ\\x.vmdk"}));

TEST(PathMakeRelative, FailsWhenTheResultDoesNotFit) {
  std::string from = "C:";
  for (int i = 0; i < 200; ++i) from += "\\a";
  const std::string to = "C:\\" + std::string(300, 'b');
  PathBuffer out;
  EXPECT_FALSE(PathMakeRelative(ViewOf(from), ViewOf(to), ENC_SHIFT_JIS, &out));
  EXPECT_EQ(out.buffer.length, 0u);
}

}  // namespace
}  // namespace qvt
