// Renaming with and without replacing, and deleting.
#include "PlatformFile.h"
#include "PlatformTestSupport.h"

namespace qvt::platform::test {
namespace {

class FileMoveTest : public FolderTest {};

std::string Content(const std::wstring& path) {
  std::string bytes;
  return ReadWholeFile(path, &bytes) ? bytes : std::string("<unreadable>");
}

TEST_F(FileMoveTest, MovesAFileToAFreeName) {
  ASSERT_TRUE(WriteWholeFile(Child(L"a.bin"), "first"));
  ASSERT_TRUE(DirectoryCreate(Child(L"sub")));
  ASSERT_TRUE(FileMove(Child(L"a.bin"), Child(L"sub\\b.bin")));
  EXPECT_FALSE(PathExists(Child(L"a.bin")));
  EXPECT_EQ(Content(Child(L"sub\\b.bin")), "first");
}

TEST_F(FileMoveTest, MovesAFolderWithItsContent) {
  ASSERT_TRUE(DirectoryCreate(Child(L"old")));
  ASSERT_TRUE(WriteWholeFile(Child(L"old\\x.txt"), "x"));
  ASSERT_TRUE(FileMove(Child(L"old"), Child(L"new")));
  EXPECT_FALSE(PathExists(Child(L"old")));
  EXPECT_TRUE(IsDirectory(Child(L"new")));
  EXPECT_EQ(Content(Child(L"new\\x.txt")), "x");
}

TEST_F(FileMoveTest, AMoveOntoAnExistingNameFailsAndChangesNothing) {
  struct Case {
    const wchar_t* what;
    bool targetIsFolder;
  };
  for (const Case& c : {Case{L"file", false}, Case{L"folder", true}}) {
    const std::wstring from = Child(std::wstring(L"from-") + c.what);
    const std::wstring to = Child(std::wstring(L"to-") + c.what);
    ASSERT_TRUE(WriteWholeFile(from, "source"));
    if (c.targetIsFolder) {
      ASSERT_TRUE(DirectoryCreate(to));
    } else {
      ASSERT_TRUE(WriteWholeFile(to, "target"));
    }
    EXPECT_FALSE(FileMove(from, to)) << c.what;
    EXPECT_EQ(Content(from), "source") << c.what;
    if (c.targetIsFolder) {
      EXPECT_TRUE(IsDirectory(to));
    } else {
      EXPECT_EQ(Content(to), "target");
    }
  }
}

TEST_F(FileMoveTest, MoveReplacingReplacesAnExistingFile) {
  ASSERT_TRUE(WriteWholeFile(Child(L"new.bin"), "new"));
  ASSERT_TRUE(WriteWholeFile(Child(L"old.bin"), "old and longer"));
  ASSERT_TRUE(FileMoveReplacing(Child(L"new.bin"), Child(L"old.bin")));
  EXPECT_FALSE(PathExists(Child(L"new.bin")));
  EXPECT_EQ(Content(Child(L"old.bin")), "new");
  // and to a free name as well
  ASSERT_TRUE(FileMoveReplacing(Child(L"old.bin"), Child(L"free.bin")));
  EXPECT_EQ(Content(Child(L"free.bin")), "new");
}

TEST_F(FileMoveTest, MovingAMissingFileFails) {
  EXPECT_FALSE(FileMove(Child(L"missing"), Child(L"b")));
  EXPECT_FALSE(FileMoveReplacing(Child(L"missing"), Child(L"b")));
  EXPECT_FALSE(PathExists(Child(L"b")));
}

TEST_F(FileMoveTest, DeleteRemovesFilesOnly) {
  ASSERT_TRUE(WriteWholeFile(Child(L"f.bin"), "f"));
  ASSERT_TRUE(DirectoryCreate(Child(L"folder")));
  EXPECT_TRUE(FileDelete(Child(L"f.bin")));
  EXPECT_FALSE(PathExists(Child(L"f.bin")));
  EXPECT_FALSE(FileDelete(Child(L"f.bin")));
  EXPECT_FALSE(FileDelete(Child(L"folder")));
  EXPECT_TRUE(IsDirectory(Child(L"folder")));
}

}  // namespace
}  // namespace qvt::platform::test
