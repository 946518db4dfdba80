#include "ReplaceSet.h"

#include <gtest/gtest.h>

#include <string>

#include "Heap.h"
#include "TempFolder.h"

namespace qvt {
namespace {

using test::TempFolder;

constexpr char kDel[] = "_QVT_DEL";

class ReplaceSetTest : public testing::Test {
 protected:
  void SetUp() override { ReplaceSetInit(&set_); }
  void TearDown() override {
    ReplaceSetRollback(&set_);
    InjectAllocationFailureAfter(-1);
  }

  // Registers a replacement of `name` whose temporary copy holds `copy`.
  void Stage(ReplaceEntry* entry, const std::wstring& name, const char* copy) {
    ASSERT_EQ(ReplaceEntrySet(entry, dir_.Engine(name).c_str()), DISK_OK);
    dir_.WriteFile(name + L"_QVT_TEMP", copy);
  }

  // No temporary or backup file is left anywhere in the folder.
  void ExpectNoLeftovers() {
    for (const auto& item : std::filesystem::directory_iterator(dir_.Native())) {
      const std::string name = item.path().filename().u8string();
      EXPECT_EQ(name.find("_QVT_TEMP"), std::string::npos) << name;
      EXPECT_EQ(name.find(kDel), std::string::npos) << name;
    }
  }

  TempFolder dir_;
  ReplaceSet set_;
};

TEST_F(ReplaceSetTest, EntryNamesTheTemporaryCopyAfterTheLiveFile) {
  ReplaceEntry entry;
  ASSERT_EQ(ReplaceEntrySet(&entry, "C:\\vm\\a.vmdk"), DISK_OK);
  EXPECT_STREQ(entry.live.CString(), "C:\\vm\\a.vmdk");
  EXPECT_STREQ(entry.temp.CString(), "C:\\vm\\a.vmdk_QVT_TEMP");
  const std::string tooLong = "C:\\" + std::string(510, 'a');  // fits, but not with the suffix
  EXPECT_EQ(ReplaceEntrySet(&entry, tooLong.c_str()), DISK_E_LIMIT);
  EXPECT_TRUE(entry.live.IsEmpty());
  EXPECT_TRUE(entry.temp.IsEmpty());
}

TEST_F(ReplaceSetTest, CommitPutsEveryCopyInPlaceAndLeavesNoBackup) {
  dir_.WriteFile(L"d.vmdk", "old descriptor");
  dir_.WriteFile(L"d-s001.vmdk", "old extent 1");
  dir_.WriteFile(L"d-s002.vmdk", "old extent 2");
  set_.created = 1;
  Stage(&set_.main, L"d.vmdk", "new descriptor");
  ASSERT_EQ(ReplaceSetAllocExtents(&set_, 2), DISK_OK);
  Stage(&set_.extents[0], L"d-s001.vmdk", "new extent 1");
  Stage(&set_.extents[1], L"d-s002.vmdk", "new extent 2");

  ASSERT_EQ(ReplaceSetCommit(&set_, kDel, false), DISK_OK);
  EXPECT_EQ(dir_.ReadFile(L"d.vmdk"), "new descriptor");
  EXPECT_EQ(dir_.ReadFile(L"d-s001.vmdk"), "new extent 1");
  EXPECT_EQ(dir_.ReadFile(L"d-s002.vmdk"), "new extent 2");
  ExpectNoLeftovers();
  EXPECT_EQ(set_.extentCount, 0u);
  EXPECT_EQ(set_.extents, nullptr);
  EXPECT_EQ(set_.created, 0);
}

TEST_F(ReplaceSetTest, CommitOfANewFileMovesItInAndDeletesNothing) {
  dir_.WriteFile(L"other.vmdk", "untouched");
  ASSERT_EQ(ReplaceSetAllocExtents(&set_, 1), DISK_OK);
  Stage(&set_.extents[0], L"new.vmdk", "fresh");
  ASSERT_EQ(ReplaceSetCommit(&set_, kDel, false), DISK_OK);
  EXPECT_EQ(dir_.ReadFile(L"new.vmdk"), "fresh");
  EXPECT_EQ(dir_.ReadFile(L"other.vmdk"), "untouched");
  ExpectNoLeftovers();
}

TEST_F(ReplaceSetTest, MainEntryIsOnlyCommittedWhenItsCopyWasCreated) {
  dir_.WriteFile(L"d.vmdk", "live");
  Stage(&set_.main, L"d.vmdk", "copy");
  set_.created = 0;
  ASSERT_EQ(ReplaceSetCommit(&set_, kDel, false), DISK_OK);
  EXPECT_EQ(dir_.ReadFile(L"d.vmdk"), "live");
}

TEST_F(ReplaceSetTest, FailedCommitKeepsTheLiveFileUnderItsName) {
  dir_.WriteFile(L"a.vmdk", "A live");
  dir_.WriteFile(L"b.vmdk", "B live");
  ASSERT_EQ(ReplaceSetAllocExtents(&set_, 2), DISK_OK);
  Stage(&set_.extents[0], L"a.vmdk", "A new");
  ASSERT_EQ(ReplaceEntrySet(&set_.extents[1], dir_.Engine(L"b.vmdk").c_str()), DISK_OK);
  // b's temporary copy is missing: moving it in fails.
  EXPECT_EQ(ReplaceSetCommit(&set_, kDel, false), DISK_E_CREATE);
  EXPECT_EQ(dir_.ReadFile(L"a.vmdk"), "A new") << "entries before the failure stay committed";
  EXPECT_EQ(dir_.ReadFile(L"b.vmdk"), "B live");
  EXPECT_FALSE(dir_.Exists(L"b.vmdk_QVT_DEL"));
  EXPECT_EQ(set_.extentCount, 0u);
}

TEST_F(ReplaceSetTest, BackupNameThatDoesNotFitIsALimit) {
  const std::wstring name = std::wstring(200, L'n') + L".vmdk";
  dir_.WriteFile(name, "live");
  ASSERT_EQ(ReplaceSetAllocExtents(&set_, 1), DISK_OK);
  Stage(&set_.extents[0], name, "copy");
  const std::string longSuffix(400, 'x');
  EXPECT_EQ(ReplaceSetCommit(&set_, longSuffix.c_str(), false), DISK_E_LIMIT);
  EXPECT_EQ(dir_.ReadFile(name), "live");
}

TEST_F(ReplaceSetTest, CommitToTheRecycleBinRemovesTheBackupFromTheFolder) {
#ifndef _WIN32
  const std::string trash = (dir_.Native() / "data").string();
  setenv("XDG_DATA_HOME", trash.c_str(), 1);
#endif
  dir_.WriteFile(L"d.vmdk", "old");
  set_.created = 1;
  Stage(&set_.main, L"d.vmdk", "new");
  EXPECT_EQ(ReplaceSetCommit(&set_, kDel, true), DISK_OK);
  EXPECT_EQ(dir_.ReadFile(L"d.vmdk"), "new");
  EXPECT_FALSE(dir_.Exists(L"d.vmdk_QVT_DEL"));
#ifndef _WIN32
  EXPECT_EQ(dir_.ReadFile(L"data\\Trash\\files\\d.vmdk_QVT_DEL"), "old")
      << "the old disk can still be restored";
  unsetenv("XDG_DATA_HOME");
#endif
}

TEST_F(ReplaceSetTest, RollbackDeletesTheCopiesAndLeavesTheLiveFilesAlone) {
  const std::string live = std::string("\x00\x01\xFF live bytes", 14);
  dir_.WriteFile(L"d.vmdk", live);
  dir_.WriteFile(L"d-s001.vmdk", live + "1");
  set_.created = 1;
  Stage(&set_.main, L"d.vmdk", "copy");
  ASSERT_EQ(ReplaceSetAllocExtents(&set_, 2), DISK_OK);
  Stage(&set_.extents[0], L"d-s001.vmdk", "copy 1");
  // A registered copy that never got written counts as removed.
  ASSERT_EQ(ReplaceEntrySet(&set_.extents[1], dir_.Engine(L"d-s002.vmdk").c_str()), DISK_OK);

  ASSERT_EQ(ReplaceSetRollback(&set_), DISK_OK);
  EXPECT_EQ(dir_.ReadFile(L"d.vmdk"), live);
  EXPECT_EQ(dir_.ReadFile(L"d-s001.vmdk"), live + "1");
  ExpectNoLeftovers();
  EXPECT_EQ(set_.extentCount, 0u);
  EXPECT_EQ(set_.created, 0);
}

TEST_F(ReplaceSetTest, ExtentListThatCannotBeAllocatedIsOutOfMemory) {
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(ReplaceSetAllocExtents(&set_, 3), DISK_E_NOMEM);
  EXPECT_EQ(set_.extentCount, 0u);
  EXPECT_EQ(set_.extents, nullptr);
}

}  // namespace
}  // namespace qvt
