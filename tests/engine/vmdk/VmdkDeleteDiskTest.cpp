#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "FileLayer.h"
#include "Heap.h"
#include "TempFolder.h"
#include "VmdkDescriptor.h"
#include "VmdkDescriptorTestSupport.h"

namespace qvt {
namespace {

using test::Changed;
using test::EmbeddedDisk;
using test::kBaseText;
using test::TempFolder;

const char kSplitText[] =
    "# Disk DescriptorFile\n"
    "version=1\n"
    "CID=1\n"
    "parentCID=ffffffff\n"
    "createType=\"twoGbMaxExtentSparse\"\n"
    "RW 8 SPARSE \"d-s001.vmdk\"\n"
    "RW 8 SPARSE \"d-s002.vmdk\"\n"
    "RW 8 SPARSE \"d-s003.vmdk\"\n"
    "ddb.adapterType = \"ide\"\n";

const char kFlatText[] =
    "version=1\n"
    "CID=1\n"
    "parentCID=ffffffff\n"
    "createType=\"monolithicFlat\"\n"
    "RW 8 FLAT \"f-flat.vmdk\" 0\n"
    "ddb.adapterType = \"ide\"\n";

class DeleteDisk : public testing::Test {
 protected:
  void TearDown() override { InjectAllocationFailureAfter(-1); }

  DiskResult Delete(const std::wstring& name, bool toRecycleBin = false) {
    return VmdkDeleteDisk(dir_.Engine(name).c_str(), toRecycleBin);
  }

  void WriteSplit() {
    dir_.WriteFile(L"d.vmdk", kSplitText);
    for (const wchar_t* e : {L"d-s001.vmdk", L"d-s002.vmdk", L"d-s003.vmdk"}) {
      dir_.WriteFile(e, EmbeddedDisk("", 0));
    }
  }

  TempFolder dir_;
};

TEST_F(DeleteDisk, ASingleFileDiskIsOneFile) {
  const std::string disk = EmbeddedDisk(Changed(kBaseText, "\"base.vmdk\"", "\"one.vmdk\""), 20);
  dir_.WriteFile(L"one.vmdk", disk);
  dir_.WriteFile(L"other.vmdk", disk);
  EXPECT_EQ(Delete(L"one.vmdk"), DISK_OK);
  EXPECT_FALSE(dir_.Exists(L"one.vmdk"));
  EXPECT_TRUE(dir_.Exists(L"other.vmdk"));
}

TEST_F(DeleteDisk, ASplitDiskGoesWithAllItsExtents) {
  WriteSplit();
  dir_.WriteFile(L"d-s004.vmdk", "not part of the disk");
  EXPECT_EQ(Delete(L"d.vmdk"), DISK_OK);
  for (const wchar_t* f : {L"d.vmdk", L"d-s001.vmdk", L"d-s002.vmdk", L"d-s003.vmdk"}) {
    EXPECT_FALSE(dir_.Exists(f));
  }
  EXPECT_TRUE(dir_.Exists(L"d-s004.vmdk"));
}

TEST_F(DeleteDisk, AFlatDiskGoesWithItsDataFile) {
  // monolithicFlat is no split layout, but its data lies in a file of its
  // own, which would stay behind as an orphan of the disk's full size.
  dir_.WriteFile(L"f.vmdk", kFlatText);
  dir_.WriteFile(L"f-flat.vmdk", std::string(4096, '\0'));
  EXPECT_EQ(Delete(L"f.vmdk"), DISK_OK);
  EXPECT_FALSE(dir_.Exists(L"f.vmdk"));
  EXPECT_FALSE(dir_.Exists(L"f-flat.vmdk"));
}

TEST_F(DeleteDisk, AnExtentThatCannotBeDeletedStopsTheDeletion) {
  WriteSplit();
  std::filesystem::remove(dir_.Native(L"d-s002.vmdk"));
  EXPECT_EQ(Delete(L"d.vmdk"), DISK_E_FORMAT);
  EXPECT_FALSE(dir_.Exists(L"d-s001.vmdk"));
  EXPECT_TRUE(dir_.Exists(L"d-s003.vmdk"));
  EXPECT_TRUE(dir_.Exists(L"d.vmdk")) << "the descriptor still names what is left";
}

TEST_F(DeleteDisk, ExtentsOutsideTheDescriptorsFolderDeleteNothing) {
  std::filesystem::create_directories(dir_.Native(L"vm"));
  std::filesystem::create_directories(dir_.Native(L"vm\\sub"));
  dir_.WriteFile(L"victim.vmdk", "another disk's data");
  dir_.WriteFile(L"vm\\sub\\deep.vmdk", "data");
  dir_.WriteFile(L"vm\\d-s001.vmdk", "data");
  const std::string outside[] = {"..\\victim.vmdk", dir_.Engine(L"victim.vmdk"), "sub\\deep.vmdk",
                                 "", "."};
  for (const std::string& name : outside) {
    dir_.WriteFile(L"vm\\d.vmdk", Changed(kSplitText, "RW 8 SPARSE \"d-s003.vmdk\"\n",
                                          "RW 8 SPARSE \"" + name + "\"\n"));
    EXPECT_EQ(Delete(L"vm\\d.vmdk"), DISK_E_FORMAT) << name;
    EXPECT_TRUE(dir_.Exists(L"vm\\d.vmdk")) << name;
    EXPECT_TRUE(dir_.Exists(L"vm\\d-s001.vmdk")) << "nothing deleted for " << name;
  }
  EXPECT_TRUE(dir_.Exists(L"victim.vmdk"));
  EXPECT_TRUE(dir_.Exists(L"vm\\sub\\deep.vmdk"));
}

TEST_F(DeleteDisk, ExtentNamesInTheFolderMayBeWrittenInAnyCaseOrForm) {
  WriteSplit();
  dir_.WriteFile(L"d.vmdk", Changed(kSplitText, "\"d-s002.vmdk\"", "\".\\d-s002.vmdk\""));
  EXPECT_EQ(Delete(L"d.vmdk"), DISK_OK);
  EXPECT_FALSE(dir_.Exists(L"d-s002.vmdk"));
}

TEST_F(DeleteDisk, ADiskThatCannotBeReadStays) {
  dir_.WriteFile(L"bad.vmdk", Changed(kSplitText, "version=1", "version=2"));
  EXPECT_EQ(Delete(L"missing.vmdk"), DISK_E_OPEN);
  EXPECT_EQ(Delete(L"bad.vmdk"), DISK_E_READ);
  EXPECT_TRUE(dir_.Exists(L"bad.vmdk"));
}

TEST_F(DeleteDisk, OutOfMemoryBeforeTheFirstDeletionDeletesNothing) {
  // Every allocation fails once, in turn. Those of the operation itself
  // (the record, the text, the extent paths) come before the first file
  // goes; the file layer's own ones make an open or a deletion fail.
  int noMemory = 0;
  DiskResult r = DISK_E_NOMEM;
  for (long n = 0; n < 50 && r != DISK_OK; ++n) {
    WriteSplit();
    InjectAllocationFailureAfter(n);
    r = Delete(L"d.vmdk");
    InjectAllocationFailureAfter(-1);
    EXPECT_TRUE(r == DISK_OK || r == DISK_E_NOMEM || r == DISK_E_OPEN || r == DISK_E_FORMAT)
        << n << ": " << r;
    if (r != DISK_E_NOMEM) continue;
    ++noMemory;
    for (const wchar_t* f : {L"d.vmdk", L"d-s001.vmdk", L"d-s002.vmdk", L"d-s003.vmdk"}) {
      EXPECT_TRUE(dir_.Exists(f)) << n;
    }
  }
  EXPECT_EQ(r, DISK_OK);
  EXPECT_EQ(noMemory, 3);
}

TEST_F(DeleteDisk, ToTheRecycleBin) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows recycle bin is the user's own; only the POSIX one can be "
                  "pointed at a test folder";
#else
  // The freedesktop Trash of a private data folder, not the user's own.
  const std::string trash = (dir_.Native() / "data").string();
  setenv("XDG_DATA_HOME", trash.c_str(), 1);
  WriteSplit();
  EXPECT_EQ(Delete(L"d.vmdk", true), DISK_OK);
  for (const wchar_t* f : {L"d.vmdk", L"d-s001.vmdk", L"d-s002.vmdk", L"d-s003.vmdk"}) {
    EXPECT_FALSE(dir_.Exists(f));
  }
  EXPECT_EQ(dir_.ReadFile(L"data\\Trash\\files\\d.vmdk"), kSplitText) << "it can be restored";
  EXPECT_TRUE(dir_.Exists(L"data\\Trash\\files\\d-s003.vmdk"));
  unsetenv("XDG_DATA_HOME");
#endif
}

}  // namespace
}  // namespace qvt
