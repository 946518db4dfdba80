// Changing an open disk's descriptor in place, and the parent hint of the
// hard disk image property command: what is written where, what is refused
// before anything is written, and how the image follows its new parent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileLayer.h"
#include "VmdkImage.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

using test::Bytes;
using test::MemoryDisk;

constexpr std::uint32_t kSectors = 2048;

class ApplyChange : public testing::Test {
 protected:
  void SetUp() override {
    first_.Pattern(0, kSectors * 512, 0x51);
    second_.Pattern(0, kSectors * 512, 0x52);
    maker_.SingleFile(L"first.vmdk", first_);
    maker_.SingleFile(L"second.vmdk", second_);
  }
  void TearDown() override { Close(); }
  void Close() {
    VmdkImageClose(image_);
    image_ = nullptr;
  }
  DiskResult Open(const std::wstring& name, bool readOnly = false) {
    Close();
    return VmdkImageOpen(&image_, dir_.Engine(name).c_str(), readOnly, VMDK_PARENT_TOLERATE,
                         nullptr, nullptr);
  }
  DiskResult SetHint(const std::string& hint) {
    return VmdkApplyParentHint(image_, nullptr,
                               MakeView(hint.data(), static_cast<std::uint32_t>(hint.size())));
  }
  std::string Hint() const {
    return std::string(reinterpret_cast<const char*>(image_->descriptor.parentFileNameHint.data),
                       image_->descriptor.parentFileNameHint.length);
  }
  Bytes ReadAll() {
    Bytes bytes(kSectors * 512);
    EXPECT_EQ(VmdkImageRead(image_, 0, kSectors * 512, bytes.data()), DISK_OK);
    return bytes;
  }

  test::TempFolder dir_;
  test::DiskMaker maker_{dir_};
  MemoryDisk first_{kSectors};
  MemoryDisk second_{kSectors};
  MemoryDisk none_{kSectors};
  VmdkImage* image_ = nullptr;
};

TEST_F(ApplyChange, ASingleFileChildGetsItsNewHintInItsEmbeddedArea) {
  maker_.SingleFile(L"child.vmdk", none_, "first.vmdk");
  const std::string before = dir_.ReadFile(L"child.vmdk");
  ASSERT_EQ(Open(L"child.vmdk"), DISK_OK);
  EXPECT_TRUE(ReadAll() == first_.bytes);

  ASSERT_EQ(SetHint("second.vmdk"), DISK_OK);
  EXPECT_EQ(Hint(), "second.vmdk");
  EXPECT_FALSE(image_->parentMissing);
  EXPECT_TRUE(ReadAll() == second_.bytes) << "the image follows its new parent at once";
  Close();  // a writable open shares its file with nobody

  const std::string after = dir_.ReadFile(L"child.vmdk");
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(0, 512), before.substr(0, 512)) << "the header stays";
  EXPECT_EQ(after.substr(21 * 512), before.substr(21 * 512)) << "the tables and grains stay";
  const std::string area = after.substr(512, 20 * 512);
  EXPECT_NE(area.find("parentFileNameHint=\"second.vmdk\""), std::string::npos);
  EXPECT_EQ(area.find("first.vmdk"), std::string::npos);
  EXPECT_EQ(area.find_first_not_of('\0', area.find('\0')), std::string::npos)
      << "the rest of the area is cleared";

  ASSERT_EQ(Open(L"child.vmdk", true), DISK_OK);
  EXPECT_TRUE(ReadAll() == second_.bytes);
}

TEST_F(ApplyChange, ASplitChildGetsANewDescriptorFileAndKeepsItsExtents) {
  maker_.Split(L"child.vmdk", none_, {1000, 1048}, "first.vmdk");
  const std::string extent1 = dir_.ReadFile(L"child-s001.vmdk");
  const std::string extent2 = dir_.ReadFile(L"child-s002.vmdk");
  ASSERT_EQ(Open(L"child.vmdk"), DISK_OK);
  ASSERT_EQ(SetHint("second.vmdk"), DISK_OK);
  EXPECT_TRUE(ReadAll() == second_.bytes);
  Close();
  EXPECT_TRUE(dir_.ReadFile(L"child-s001.vmdk") == extent1);
  EXPECT_TRUE(dir_.ReadFile(L"child-s002.vmdk") == extent2);
  const std::string text = dir_.ReadFile(L"child.vmdk");
  EXPECT_NE(text.find("parentFileNameHint=\"second.vmdk\"\n"), std::string::npos);
  EXPECT_NE(text.find("RW 1000 SPARSE \"child-s001.vmdk\""), std::string::npos);
  EXPECT_FALSE(dir_.Exists(L"child.vmdk_QVT_TEMP"));
}

TEST_F(ApplyChange, AHintToNothingLeavesTheChildParentMissing) {
  maker_.SingleFile(L"child.vmdk", none_, "first.vmdk");
  ASSERT_EQ(Open(L"child.vmdk"), DISK_OK);
  ASSERT_EQ(SetHint("elsewhere\\gone.vmdk"), DISK_OK);
  EXPECT_TRUE(image_->parentMissing);
  EXPECT_EQ(Hint(), "elsewhere\\gone.vmdk");
  // And back: the property command can mend what it broke.
  ASSERT_EQ(SetHint("first.vmdk"), DISK_OK);
  EXPECT_FALSE(image_->parentMissing);
}

TEST_F(ApplyChange, BadRequestsAreRefusedBeforeAnythingIsWritten) {
  maker_.SingleFile(L"child.vmdk", none_, "first.vmdk");
  const std::string before = dir_.ReadFile(L"child.vmdk");
  ASSERT_EQ(Open(L"child.vmdk"), DISK_OK);
  const struct {
    const char* hint;
    DiskResult result;
  } cases[] = {
      {"/tmp/first.vmdk", DISK_E_FORMAT},
      {"child.vmdk", DISK_E_FORMAT},  // the disk itself
      {"CHILD.VMDK", DISK_E_FORMAT},
      {"a\\\\b.vmdk", DISK_E_FORMAT},
      {"", DISK_E_FORMAT},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetHint(c.hint), c.result) << c.hint;
    EXPECT_EQ(Hint(), "first.vmdk");
  }

  // A change whose text would no longer parse.
  _VMWARE_VMDK_CHANGE_PARAM* change = VmdkAllocChange();
  ASSERT_NE(change, nullptr);
  change->setCreateType = 1;
  change->createType = MakeView("bogusType", 9);
  change->extentCount = 1;
  EXPECT_EQ(VmdkApplyChange(image_, *change, nullptr, ENC_SHIFT_JIS, ENC_SHIFT_JIS), DISK_E_FORMAT);
  // One that gives the single file's extent another size.
  change->setCreateType = 0;
  ASSERT_TRUE(VmdkChangeSetExtent(change, 0, kSectors / 2, "child.vmdk", 10, false));
  EXPECT_EQ(VmdkApplyChange(image_, *change, nullptr, ENC_SHIFT_JIS, ENC_SHIFT_JIS), DISK_E_FORMAT);
  // One whose text is longer than the 20-sector area.
  change->extents[0].replace = 0;
  const std::string cid(10300, 'c');
  change->setCid = 1;
  change->cid = MakeView(cid.data(), static_cast<std::uint32_t>(cid.size()));
  EXPECT_EQ(VmdkApplyChange(image_, *change, nullptr, ENC_SHIFT_JIS, ENC_SHIFT_JIS), DISK_E_LIMIT);
  VmdkFreeChange(change);
  Close();
  EXPECT_TRUE(dir_.ReadFile(L"child.vmdk") == before) << "nothing was written";

  ASSERT_EQ(Open(L"first.vmdk"), DISK_OK);
  EXPECT_EQ(SetHint("second.vmdk"), DISK_E_FORMAT) << "a base disk has no parent hint";
  ASSERT_EQ(Open(L"child.vmdk", true), DISK_OK);
  EXPECT_EQ(SetHint("second.vmdk"), DISK_E_LIMIT) << "opened read-only";
  EXPECT_TRUE(dir_.ReadFile(L"child.vmdk") == before);
}

// Opens the first file it is asked for, then no more.
int OpenOnce(void* context, const char* path, bool readOnly, FileStream* out) {
  auto* left = static_cast<int*>(context);
  if ((*left)-- <= 0) return -1;
  return ExtentOpenPlain(nullptr, path, readOnly, out);
}

TEST_F(ApplyChange, AFailedReopenLeavesTheImageClosed) {
  maker_.Split(L"child.vmdk", none_, {2048}, "first.vmdk");
  int left = 1;
  VmdkOpenOptions options;
  options.open = &OpenOnce;
  options.openContext = &left;
  ASSERT_EQ(VmdkImageOpen(&image_, dir_.Engine(L"child.vmdk").c_str(), false,
                          VMDK_PARENT_TOLERATE, nullptr, nullptr, &options),
            DISK_OK);
  EXPECT_EQ(SetHint("second.vmdk"), DISK_E_OPEN) << "the reopen cannot open the extent";
  EXPECT_NE(dir_.ReadFile(L"child.vmdk").find("second.vmdk"), std::string::npos)
      << "the descriptor file is not held open";
  EXPECT_EQ(image_->extentCount, 0u);
  Bytes sector(512);
  EXPECT_EQ(VmdkImageRead(image_, 0, 512, sector.data()), DISK_E_LIMIT);
  EXPECT_EQ(SetHint("first.vmdk"), DISK_E_LIMIT);
}

TEST(ParentHintCheck, TakesWellFormedPathsToAnotherDisk) {
  const char* disk = "C:\\vm\\child\\disk.vmdk";
  const struct {
    const char* hint;
    bool ok;
    const char* resolved;
  } cases[] = {
      {"base.vmdk", true, "C:\\vm\\child\\base.vmdk"},
      {"..\\base\\disk.vmdk", true, "C:\\vm\\base\\disk.vmdk"},
      {"D:\\other\\disk.vmdk", true, "D:\\other\\disk.vmdk"},
      {"\x83\x5C.vmdk", true, "C:\\vm\\child\\\x83\x5C.vmdk"},  // a trail byte 0x5C
      {"DISK.VMDK", false, nullptr},
      {"..\\child\\disk.vmdk", false, nullptr},
      {"C:\\vm\\child\\disk.vmdk", false, nullptr},
      {"../base.vmdk", false, nullptr},
      {"/vm/base.vmdk", false, nullptr},
      {"\\\\server\\share\\disk.vmdk", false, nullptr},
      {"C:base.vmdk", false, nullptr},
      {"base.vmdk\\", false, nullptr},
      {"..\\..\\..\\base.vmdk", false, nullptr},  // above the root
      {"a\x01.vmdk", false, nullptr},
      {"\x83", false, nullptr},  // a lead byte without its trail
  };
  for (const auto& c : cases) {
    PathBuffer resolved;
    const std::string hint = c.hint;
    const DiskResult r = VmdkCheckParentHint(
        disk, MakeView(hint.data(), static_cast<std::uint32_t>(hint.size())), ENC_SHIFT_JIS,
        &resolved);
    EXPECT_EQ(r, c.ok ? DISK_OK : DISK_E_FORMAT) << c.hint;
    if (c.ok && r == DISK_OK) {
      EXPECT_STREQ(resolved.CString(), c.resolved) << c.hint;
    }
  }
}

TEST_F(ApplyChange, TheHintReadsOutInTheDialogsEncoding) {
  maker_.SingleFile(L"child.vmdk", none_, "\x83\x5C\\first.vmdk");
  ASSERT_EQ(Open(L"child.vmdk"), DISK_OK);
  std::uint8_t storage[64];
  ByteBuffer out;
  BufferInit(&out, storage, sizeof storage);
  ASSERT_EQ(VmdkImageParentHint(image_, &out, ENC_UTF16LE), DISK_OK);
  const std::uint8_t expected[] = {0xBD, 0x30, '\\', 0, 'f', 0};
  ASSERT_GE(out.length, sizeof expected);
  EXPECT_EQ(Bytes(out.data, out.data + sizeof expected), Bytes(expected, expected + sizeof expected));
  BufferInit(&out, storage, 8);
  EXPECT_EQ(VmdkImageParentHint(image_, &out, ENC_UTF16LE), DISK_E_LIMIT);
  ASSERT_EQ(Open(L"first.vmdk"), DISK_OK);
  BufferInit(&out, storage, sizeof storage);
  EXPECT_EQ(VmdkImageParentHint(image_, &out, ENC_SHIFT_JIS), DISK_E_FORMAT);
}

}  // namespace
}  // namespace qvt
