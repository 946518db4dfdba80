#include "FileSystem.h"

#include <gtest/gtest.h>

#include <string>

#include "TempFolder.h"

namespace qvt {
namespace {

using test::TempFolder;

class FileSystem : public testing::Test {
 protected:
  TempFolder dir_;
};

TEST_F(FileSystem, HandlesReadAndWriteExactlyAtOffsets) {
  FileHandle f = CreateNewFile(dir_.Windows(L"a.vmss"));
  ASSERT_TRUE(f.IsOpen());
  ASSERT_TRUE(WriteAt(f, 10, 4, "data"));
  std::uint64_t size = 0;
  ASSERT_TRUE(GetFileSize(f, &size));
  EXPECT_EQ(size, 14u);
  CloseFile(&f);
  EXPECT_FALSE(f.IsOpen());
  CloseFile(&f);  // an empty handle closes to nothing

  f = OpenFile(dir_.Windows(L"a.vmss"), true);
  ASSERT_TRUE(f.IsOpen());
  char buffer[4];
  ASSERT_TRUE(ReadAt(f, 10, 4, buffer));
  EXPECT_EQ(std::string(buffer, 4), "data");
  EXPECT_FALSE(ReadAt(f, 12, 4, buffer)) << "short read";
  CloseFile(&f);
  EXPECT_FALSE(OpenFile(dir_.Windows(L"missing"), true).IsOpen());
  EXPECT_FALSE(ReadAt(FileHandle{}, 0, 1, buffer));
}

TEST_F(FileSystem, MoveCopyAndDeleteWithJapaneseNames) {
  const std::wstring a = dir_.WriteFile(L"元ソ.vmx", "config");
  const std::wstring b = dir_.Windows(L"先表.vmx");
  ASSERT_TRUE(CopyPath(a, b));
  EXPECT_EQ(dir_.ReadFile(L"先表.vmx"), "config");
  dir_.WriteFile(L"先表.vmx", "changed");
  ASSERT_TRUE(CopyPath(a, b)) << "a copy overwrites its target";
  EXPECT_EQ(dir_.ReadFile(L"先表.vmx"), "config");

  EXPECT_FALSE(MovePath(a, b)) << "a move never replaces";
  const std::wstring c = dir_.Windows(L"移動.vmx");
  ASSERT_TRUE(MovePath(a, c));
  EXPECT_FALSE(PathExists(a));
  EXPECT_TRUE(PathExists(c));

  ASSERT_TRUE(DeletePath(c, false));
  EXPECT_FALSE(PathExists(c));
  EXPECT_FALSE(DeletePath(c, false));
}

TEST_F(FileSystem, DeleteToTheRecycleBinKeepsTheFileRestorable) {
#ifndef _WIN32
  const std::string data = (dir_.Native() / "data").string();
  setenv("XDG_DATA_HOME", data.c_str(), 1);
#endif
  const std::wstring f = dir_.WriteFile(L"old.vmdk", "disk");
  ASSERT_TRUE(DeletePath(f, true));
  EXPECT_FALSE(PathExists(f));
#ifndef _WIN32
  EXPECT_EQ(dir_.ReadFile(L"data\\Trash\\files\\old.vmdk"), "disk");
  EXPECT_TRUE(dir_.Exists(L"data\\Trash\\info\\old.vmdk.trashinfo"));
  unsetenv("XDG_DATA_HOME");
#endif
}

TEST_F(FileSystem, EngineStreamReachesTheSameFile) {
  dir_.WriteFile(L"記述.vmdk", "# Disk DescriptorFile");
  FileStream s{};
  ASSERT_TRUE(OpenEngineStream(dir_.Windows(L"記述.vmdk"), true, &s));
  char head[6];
  ASSERT_TRUE(StreamRead(&s, 0, 6, head));
  EXPECT_EQ(std::string(head, 6), "# Disk");
  StreamClose(&s);
}

}  // namespace
}  // namespace qvt
