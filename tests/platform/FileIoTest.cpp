// Opening, positioned transfers, sizes, sharing and questions about names.
#include <cstring>
#include <vector>

#include "Clock.h"
#include "PlatformFile.h"
#include "PlatformTestSupport.h"

namespace qvt::platform::test {
namespace {

class FileIoTest : public FolderTest {};

// Closes the file at the end of a test, whatever the test asserted.
struct OpenFile {
  NativeFile file;
  ~OpenFile() { FileClose(&file); }
};

TEST_F(FileIoTest, WritesAndReadsBackAtOffsets) {
  const std::wstring path = Child(L"data.bin");
  OpenFile f;
  ASSERT_TRUE(FileCreate(path, &f.file));
  const std::string first = Pattern(3000, 1);
  const std::string second = Pattern(777, 2);
  ASSERT_TRUE(FileWriteAt(f.file, 0, 3000, first.data()));
  ASSERT_TRUE(FileWriteAt(f.file, 5000, 777, second.data()));
  std::uint64_t size = 0;
  ASSERT_TRUE(FileGetSize(f.file, &size));
  EXPECT_EQ(size, 5777u);

  std::string back(777, '\0');
  ASSERT_TRUE(FileReadAt(f.file, 5000, 777, &back[0]));
  EXPECT_EQ(back, second);
  std::string gap(2000, 'x');
  ASSERT_TRUE(FileReadAt(f.file, 3000, 2000, &gap[0]));
  EXPECT_EQ(gap, std::string(2000, '\0'));
  std::string middle(100, '\0');
  ASSERT_TRUE(FileReadAt(f.file, 1234, 100, &middle[0]));
  EXPECT_EQ(middle, first.substr(1234, 100));
}

TEST_F(FileIoTest, ReadsAndWritesPast4GiBInASparseFile) {
  const std::wstring path = Child(L"sparse.bin");
  OpenFile f;
  ASSERT_TRUE(FileCreate(path, &f.file));
  const std::uint64_t size = 5ull << 30;
  if (!MakeSparse(f.file) || !FileSetSize(f.file, size)) {
    GTEST_SKIP() << "the filesystem refuses a sparse 5 GiB file";
  }
  const std::uint64_t offset = (4ull << 30) + 12345;  // above 32 bits
  const std::string data = Pattern(4096, 3);
  ASSERT_TRUE(FileWriteAt(f.file, offset, 4096, data.data()));
  std::string back(4096, '\0');
  ASSERT_TRUE(FileReadAt(f.file, offset, 4096, &back[0]));
  EXPECT_EQ(back, data);
  // The same offset cut to 32 bits must not hold the data.
  std::string low(4096, 'x');
  ASSERT_TRUE(FileReadAt(f.file, offset & 0xFFFFFFFFu, 4096, &low[0]));
  EXPECT_EQ(low, std::string(4096, '\0'));
  std::uint64_t got = 0;
  ASSERT_TRUE(FileGetSize(f.file, &got));
  EXPECT_EQ(got, size);
  std::string tail(16, '\0');
  EXPECT_TRUE(FileReadAt(f.file, size - 16, 16, &tail[0]));
  EXPECT_FALSE(FileReadAt(f.file, size - 16, 17, &tail[0]));
}

TEST_F(FileIoTest, ReadsThatRunPastTheEndFail) {
  const std::wstring path = Child(L"short.bin");
  ASSERT_TRUE(WriteWholeFile(path, Pattern(100)));
  OpenFile f;
  ASSERT_TRUE(FileOpen(path, FileAccess::kReadShared, &f.file));
  struct Case {
    std::uint64_t offset;
    std::uint32_t length;
    bool ok;
  };
  const Case cases[] = {
      {0, 100, true}, {99, 1, true}, {60, 50, false}, {100, 1, false}, {1000, 4, false},
      {100, 0, true},  // nothing asked, nothing missing
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.length + 1);
    EXPECT_EQ(FileReadAt(f.file, c.offset, c.length, buffer.data()), c.ok)
        << "offset " << c.offset << " length " << c.length;
  }
}

TEST_F(FileIoTest, SetSizeCutsAndExtendsWithZeros) {
  const std::wstring path = Child(L"resize.bin");
  const std::string data = Pattern(1000);
  ASSERT_TRUE(WriteWholeFile(path, data));
  {
    OpenFile f;
    ASSERT_TRUE(FileOpen(path, FileAccess::kReadWriteAlone, &f.file));
    ASSERT_TRUE(FileSetSize(f.file, 300));
    ASSERT_TRUE(FileSetSize(f.file, 600));
  }
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, &back));
  EXPECT_EQ(back, data.substr(0, 300) + std::string(300, '\0'));
}

TEST_F(FileIoTest, CreateTruncatesAnExistingFile) {
  const std::wstring path = Child(L"again.bin");
  ASSERT_TRUE(WriteWholeFile(path, Pattern(500)));
  OpenFile f;
  ASSERT_TRUE(FileCreate(path, &f.file));
  std::uint64_t size = 1;
  ASSERT_TRUE(FileGetSize(f.file, &size));
  EXPECT_EQ(size, 0u);
}

TEST_F(FileIoTest, OpenFailsForMissingFilesAndFolders) {
  ASSERT_TRUE(DirectoryCreate(Child(L"folder")));
  struct Case {
    const wchar_t* name;
    FileAccess access;
  };
  const Case cases[] = {
      {L"missing.bin", FileAccess::kReadShared},
      {L"missing.bin", FileAccess::kReadWriteAlone},
      {L"folder", FileAccess::kReadShared},
      {L"folder", FileAccess::kReadWriteAlone},
  };
  for (const Case& c : cases) {
    NativeFile file;
    EXPECT_FALSE(FileOpen(Child(c.name), c.access, &file)) << c.name;
    EXPECT_FALSE(file.IsOpen()) << c.name;
    FileClose(&file);
  }
  NativeFile created;
  EXPECT_FALSE(FileCreate(Child(L"folder"), &created));
  EXPECT_FALSE(FileCreate(Child(L"no-such-folder\\a.bin"), &created));
  FileClose(&created);
}

TEST_F(FileIoTest, SharingFollowsTheAccess) {
  const std::wstring path = Child(L"shared.bin");
  ASSERT_TRUE(WriteWholeFile(path, "abc"));
  struct Case {
    FileAccess first;
    FileAccess second;
    bool secondOpens;
  };
  const Case cases[] = {
      {FileAccess::kReadShared, FileAccess::kReadShared, true},
      {FileAccess::kReadShared, FileAccess::kReadWriteAlone, false},
      {FileAccess::kReadWriteAlone, FileAccess::kReadShared, false},
      {FileAccess::kReadWriteAlone, FileAccess::kReadWriteAlone, false},
  };
  for (const Case& c : cases) {
    OpenFile first;
    ASSERT_TRUE(FileOpen(path, c.first, &first.file));
    OpenFile second;
    EXPECT_EQ(FileOpen(path, c.second, &second.file), c.secondOpens)
        << static_cast<int>(c.first) << " then " << static_cast<int>(c.second);
  }
  // A created file is held alone until it is closed.
  OpenFile creator;
  ASSERT_TRUE(FileCreate(path, &creator.file));
  OpenFile reader;
  EXPECT_FALSE(FileOpen(path, FileAccess::kReadShared, &reader.file));
  FileClose(&creator.file);
  EXPECT_TRUE(FileOpen(path, FileAccess::kReadShared, &reader.file));
}

TEST_F(FileIoTest, CloseMarksTheFileClosed) {
  NativeFile file;
  ASSERT_TRUE(FileCreate(Child(L"closed.bin"), &file));
  EXPECT_TRUE(file.IsOpen());
  FileClose(&file);
  EXPECT_FALSE(file.IsOpen());
  FileClose(&file);  // nothing for a closed file
  char byte = 0;
  EXPECT_FALSE(FileReadAt(file, 0, 1, &byte));
  EXPECT_FALSE(FileWriteAt(file, 0, 1, &byte));
  std::uint64_t size;
  EXPECT_FALSE(FileGetSize(file, &size));
  EXPECT_FALSE(FileSetSize(file, 0));
}

TEST_F(FileIoTest, ExistenceAndFolderQuestions) {
  ASSERT_TRUE(WriteWholeFile(Child(L"a.txt"), "a"));
  ASSERT_TRUE(DirectoryCreate(Child(L"sub")));
  struct Case {
    const wchar_t* name;
    bool exists;
    bool folder;
  };
  const Case cases[] = {
      {L"a.txt", true, false},  {L"sub", true, true},    {L"missing", false, false},
      {L"a.tx?", false, false}, {L"*", false, false},    {L"su*", false, false},
      {L"sub\\a.txt", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathExists(Child(c.name)), c.exists) << c.name;
    EXPECT_EQ(IsDirectory(Child(c.name)), c.folder) << c.name;
  }
  EXPECT_FALSE(PathExists(L""));
}

TEST_F(FileIoTest, FoldersAreMadeAndRemovedOnlyWhenEmpty) {
  const std::wstring sub = Child(L"sub");
  ASSERT_TRUE(DirectoryCreate(sub));
  EXPECT_TRUE(IsDirectory(sub));
  EXPECT_FALSE(DirectoryCreate(sub));  // exists already
  EXPECT_FALSE(DirectoryCreate(Child(L"no\\deeper")));
  ASSERT_TRUE(WriteWholeFile(sub + L"\\f.txt", "x"));
  EXPECT_FALSE(DirectoryRemove(sub));
  EXPECT_TRUE(PathExists(sub + L"\\f.txt"));
  ASSERT_TRUE(FileDelete(sub + L"\\f.txt"));
  EXPECT_TRUE(DirectoryRemove(sub));
  EXPECT_FALSE(PathExists(sub));
}

TEST_F(FileIoTest, LastWriteTimeIsAFileTimeOfNow) {
  const std::wstring path = Child(L"time.txt");
  ASSERT_TRUE(WriteWholeFile(path, "t"));
  std::uint64_t written = 0;
  ASSERT_TRUE(FileLastWriteTime(path, &written));
  // A FILETIME in 100 ns units since 1601: within a day of the clock (a
  // unit or epoch mistake is off by centuries).
  const std::uint64_t now = CurrentFileTime();
  const std::uint64_t day = 864000000000ull;
  EXPECT_LT(written, now + day);
  EXPECT_GT(written, now - day);
  std::uint64_t unused;
  EXPECT_FALSE(FileLastWriteTime(Child(L"missing"), &unused));
}

TEST_F(FileIoTest, LastWriteTimeGivesTheTimeSetExactly) {
  const std::wstring path = Child(L"time.txt");
  ASSERT_TRUE(WriteWholeFile(path, "t"));
  // FILETIMEs on both sides of the Unix epoch, with 100 ns digits.
  const std::uint64_t times[] = {
      126256467067000000ull,  // 2001-02-03 04:05:06.7 UTC
      116444736000000001ull,  // 1970-01-01 00:00:00.0000001 UTC
      133500000001234567ull,  // 2024-01-17 21:20:00.1234567 UTC
  };
  for (const std::uint64_t t : times) {
    ASSERT_TRUE(SetLastWriteTime(path, t));
    std::uint64_t got = 0;
    ASSERT_TRUE(FileLastWriteTime(path, &got));
    EXPECT_EQ(got, t);
  }
}

}  // namespace
}  // namespace qvt::platform::test
