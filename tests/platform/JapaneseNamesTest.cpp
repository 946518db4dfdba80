// A machine folder and a disk named in kanji and kana, through every call.
#include "PlatformFile.h"
#include "PlatformTestSupport.h"

namespace qvt::platform::test {
namespace {

class JapaneseNamesTest : public FolderTest {};

bool CountReports(std::uint64_t done, std::uint64_t total, void* context) {
  if (done <= total) ++*static_cast<int*>(context);
  return true;
}

TEST_F(JapaneseNamesTest, AFolderAndADiskNamedInJapaneseGoThroughEveryCall) {
  // ソ and 表 end in byte 0x5C in CP932, the backslash.
  const std::wstring folder = Child(L"仮想マシン");
  const std::wstring disk = folder + L"\\表示ソ.vmdk";
  const std::wstring copy = folder + L"\\複製 ソフト.vmdk";
  const std::wstring moved = folder + L"\\移動済み・表.vmdk";
  const std::string data = Pattern(70000);

  ASSERT_TRUE(DirectoryCreate(folder));
  EXPECT_TRUE(IsDirectory(folder));
  ASSERT_TRUE(WriteWholeFile(disk, data));
  EXPECT_TRUE(PathExists(disk));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(disk, &back));
  EXPECT_TRUE(back == data);

  int reports = 0;
  ASSERT_EQ(FileCopyWithProgress(disk, copy, CountReports, &reports), kCopyDone);
  EXPECT_GT(reports, 0);
  ASSERT_TRUE(ReadWholeFile(copy, &back));
  EXPECT_TRUE(back == data);

  ASSERT_TRUE(FileMove(copy, moved));
  EXPECT_FALSE(PathExists(copy));
  EXPECT_TRUE(PathExists(moved));

  {
    ScopedRecycleBin bin(Child(L"ごみ箱の家"));
    ASSERT_TRUE(FileRecycle(moved));
  }
  EXPECT_FALSE(PathExists(moved));

  ASSERT_TRUE(FileDelete(disk));
  EXPECT_FALSE(PathExists(disk));
  ASSERT_TRUE(DirectoryRemove(folder));
  EXPECT_FALSE(PathExists(folder));
}

}  // namespace
}  // namespace qvt::platform::test
