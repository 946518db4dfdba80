#include "PathRules.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace qvt {
namespace {

struct Two {
  const wchar_t* path;
  const wchar_t* a;
  const wchar_t* b;
};

struct Three {
  const wchar_t* a;
  const wchar_t* b;
  const wchar_t* c;
};

TEST(SplitExtension, TakesTheLastDotOfTheFileName) {
  const Two cases[] = {
      {L"C:\\vm\\base.vmx", L"C:\\vm\\base", L".vmx"},
      {L"dir.old\\name", L"dir.old\\name", L""},
      {L"a.b.c", L"a.b", L".c"},
      {L"noext", L"noext", L""},
      {L"C:\\ソ\\表.vmdk", L"C:\\ソ\\表", L".vmdk"},
  };
  for (const Two& c : cases) {
    std::wstring stem, ext;
    SplitExtension(c.path, &stem, &ext);
    EXPECT_EQ(stem, c.a) << c.path;
    EXPECT_EQ(ext, c.b) << c.path;
  }
}

TEST(SplitFileName, KeepsTheBackslashWithTheFolder) {
  const Two cases[] = {
      {L"C:\\vm\\a.vmdk", L"C:\\vm\\", L"a.vmdk"},
      {L"name.vmdk", L"", L"name.vmdk"},
      {L"C:\\vm\\", L"C:\\vm\\", L""},
  };
  for (const Two& c : cases) {
    std::wstring folder, name;
    SplitFileName(c.path, &folder, &name);
    EXPECT_EQ(folder, c.a) << c.path;
    EXPECT_EQ(name, c.b) << c.path;
  }
}

struct Four {
  const wchar_t* path;
  const wchar_t* dir;
  const wchar_t* base;
  const wchar_t* ext;
};

TEST(SplitPathParts, FollowsTheCLibraryRules) {
  const Four cases[] = {
      {L"C:\\vm\\disk.vmdk", L"C:\\vm\\", L"disk", L"vmdk"},
      {L"C:/vm/a.b.vmdk", L"C:/vm/", L"a.b", L"vmdk"},
      {L"C:disk.vmdk", L"C:", L"disk", L"vmdk"},
      {L"dir.x\\file", L"dir.x\\", L"file", L""},
      {L"file", L"", L"file", L""},
  };
  for (const Four& c : cases) {
    std::wstring dir, base, ext;
    SplitPathParts(c.path, &dir, &base, &ext);
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(base, c.base) << c.path;
    EXPECT_EQ(ext, c.ext) << c.path;
  }
}

TEST(IsAbsolutePath, NeedsABackslashOrADriveWithBackslash) {
  EXPECT_TRUE(IsAbsolutePath(L"\\share"));
  EXPECT_TRUE(IsAbsolutePath(L"C:\\"));
  EXPECT_TRUE(IsAbsolutePath(L"d:\\vm\\a.vmdk"));
  EXPECT_FALSE(IsAbsolutePath(L""));
  EXPECT_FALSE(IsAbsolutePath(L"C:"));
  EXPECT_FALSE(IsAbsolutePath(L"C:a.vmdk"));
  EXPECT_FALSE(IsAbsolutePath(L"..\\a.vmdk"));
  EXPECT_FALSE(IsAbsolutePath(L"1:\\a"));
}

struct Normal {
  const wchar_t* path;
  const wchar_t* expected;  // nullptr: fails
};

TEST(NormalizePath, FoldsDotsAndKeepsTheRoot) {
  const Normal cases[] = {
      {L"C:\\a\\.\\b\\..\\c", L"C:\\a\\c"},
      {L"C:\\a/b\\\\c\\", L"C:\\a\\b\\c"},
      {L"D:\\vm\\child\\..\\base\\base.vmdk", L"D:\\vm\\base\\base.vmdk"},
      {L"D:\\a\\..\\..\\..\\x", nullptr},
      {L"D:\\..", nullptr},
      {L"a\\..\\b", L"b"},
      {L"..\\b", nullptr},
      {L"\\a\\..\\b", L"\\b"},
      {L"\\\\srv\\share\\x\\..\\y", L"\\\\srv\\share\\y"},
  };
  for (const Normal& c : cases) {
    std::wstring out = L"unchanged";
    const bool ok = NormalizePath(c.path, &out);
    if (c.expected == nullptr) {
      EXPECT_FALSE(ok) << c.path;
      EXPECT_EQ(out, L"unchanged");
    } else {
      ASSERT_TRUE(ok) << c.path;
      EXPECT_EQ(out, c.expected);
    }
  }
}

TEST(NormalizePath, FailsWhenTheResultIsLongerThanTheWorkingLimit) {
  std::wstring out;
  EXPECT_TRUE(NormalizePath(L"C:\\" + std::wstring(517, L'a'), &out));
  EXPECT_FALSE(NormalizePath(L"C:\\" + std::wstring(518, L'a'), &out));
  // Only the result counts: a long path that folds short is fine.
  EXPECT_TRUE(NormalizePath(L"C:\\" + std::wstring(600, L'a') + L"\\..\\b", &out));
  EXPECT_EQ(out, L"C:\\b");
}

TEST(MakeAbsolutePath, ResolvesAgainstTheBaseFolder) {
  std::wstring out;
  ASSERT_TRUE(MakeAbsolutePath(L"..\\base\\base.vmdk", L"D:\\vm\\child", &out));
  EXPECT_EQ(out, L"D:\\vm\\base\\base.vmdk");
  ASSERT_TRUE(MakeAbsolutePath(L"E:\\x\\y.vmdk", L"D:\\vm", &out));
  EXPECT_EQ(out, L"E:\\x\\y.vmdk");
  ASSERT_TRUE(MakeAbsolutePath(L"a.vmdk", L"D:\\ソ", &out));
  EXPECT_EQ(out, L"D:\\ソ\\a.vmdk");
  EXPECT_FALSE(MakeAbsolutePath(L"..\\..\\..\\x", L"D:\\a", &out));
}

TEST(RelativePath, ClimbsFromTheBaseFolder) {
  const Three cases[] = {
      {L"D:\\vm\\child\\", L"D:\\vm\\base\\base.vmdk", L"..\\base\\base.vmdk"},
      {L"D:\\vm\\child\\", L"D:\\vm\\child\\c.vmdk", L"c.vmdk"},
      {L"D:\\vm\\child\\c.vmx", L"D:\\vm\\base\\b.vmdk", L"..\\base\\b.vmdk"},
      {L"D:\\VM\\Child\\", L"d:\\vm\\child\\x\\c.vmdk", L"x\\c.vmdk"},
      {L"D:\\a\\b\\c\\", L"D:\\x.vmdk", L"..\\..\\..\\x.vmdk"},
      {L"D:\\ソ\\", L"D:\\ゾ\\x.vmdk", L"..\\ゾ\\x.vmdk"},
  };
  for (const Three& c : cases) EXPECT_EQ(RelativePath(c.a, c.b), c.c) << c.a << " -> " << c.b;
}

TEST(RelativePath, ResultOverTheLimitEndsTheCommand) {
  std::wstring base = L"D:";
  for (int i = 0; i < 200; ++i) base += L"\\a";
  base += L"\\";
  EXPECT_THROW(RelativePath(base, L"D:\\" + std::wstring(200, L'b')), std::bad_alloc);
}

TEST(RelativeIfSameDrive, GivesTheFullPathAcrossDrives) {
  bool relative = false;
  EXPECT_EQ(RelativeIfSameDrive(L"C:\\docs\\", L"c:\\docs\\tree.qvt", &relative), L"tree.qvt");
  EXPECT_TRUE(relative);
  EXPECT_EQ(RelativeIfSameDrive(L"C:\\docs\\", L"D:\\vm\\", &relative), L"D:\\vm");
  EXPECT_FALSE(relative);
  EXPECT_EQ(RelativeIfSameDrive(L"C:\\docs\\", L"C:\\vm\\base\\", &relative), L"..\\vm\\base");
  EXPECT_TRUE(IsSameDrive(L"c:\\a", L"C:\\b"));
  EXPECT_FALSE(IsSameDrive(L"", L"C:\\b"));
}

TEST(StripTrailingBackslash, RemovesOneAtMost) {
  std::wstring p = L"C:\\vm\\\\";
  StripTrailingBackslash(&p);
  EXPECT_EQ(p, L"C:\\vm\\");
  std::wstring empty;
  StripTrailingBackslash(&empty);
  EXPECT_EQ(empty, L"");
}

TEST(IsValidPath, AcceptsRelativeAndDrivePathsOnly) {
  struct Case {
    const wchar_t* path;
    bool valid;
  };
  const Case cases[] = {
      {L"..\\base\\b.vmdk", true}, {L"C:\\vm\\b.vmdk", true}, {L"C:\\", true},
      {L"b.vmdk", true},           {L"1:\\x", false},         {L"C:x", false},
      {L"C:\\a\\\\b", false},      {L"\\\\server\\s", false}, {L"\\a", false},
      {L"C:\\\\a", false},         {L"a/b", false},           {L"a:b", false},
      {L"a*", false},              {L"a?", false},            {L"a\"b", false},
      {L"a<b", false},             {L"a>b", false},           {L"a|b", false},
      {L"C:\\ソ\\表", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidPath(c.path), c.valid) << c.path;
}

TEST(EqualsNoCase, FoldsEachUnitAndNeedsEqualLengths) {
  EXPECT_TRUE(EqualsNoCase(L"A.VMDK", L"a.vmdk"));
  EXPECT_FALSE(EqualsNoCase(L"a.vmdk", L"a.vmdk "));
  EXPECT_FALSE(EqualsNoCase(L"a.vmdk", L"b.vmdk"));
  EXPECT_TRUE(EqualsNoCase(L"", L""));
}

}  // namespace
}  // namespace qvt
