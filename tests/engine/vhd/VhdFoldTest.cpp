// The folds and their commit and discard: what the folded image reads as,
// the blocks it gains, the locators it is left with, and that the live
// image is never touched before the commit, whatever fails on the way.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpen.h"
#include "TempFolder.h"
#include "VhdImage.h"
#include "VhdTestKit.h"

namespace qvt {
namespace {

using test::Bytes;
constexpr std::uint32_t kBlock = 512 * 1024;

class VhdFolding : public ::testing::Test {
 protected:
  std::string Path(const wchar_t* name) const { return dir_.Engine(name); }
  // g (dynamic) <- b <- a, each with sectors of its own, a's overlapping b's.
  void SetUp() override {
    test::WriteBytes(dir_, L"g.vhd", test::DynamicImage({}));
    ASSERT_EQ(test::EngineWrite(Path(L"g.vhd"), 0, 3 * 512, 0x10), DISK_OK);
    ASSERT_EQ(VhdCreateChild(Path(L"g.vhd").c_str(), Path(L"b.vhd").c_str()), DISK_OK);
    ASSERT_EQ(test::EngineWrite(Path(L"b.vhd"), 1024, 4096, 0x20), DISK_OK);
    ASSERT_EQ(test::EngineWrite(Path(L"b.vhd"), kBlock + 512, 1024, 0x21), DISK_OK);
    ASSERT_EQ(VhdCreateChild(Path(L"b.vhd").c_str(), Path(L"a.vhd").c_str()), DISK_OK);
    ASSERT_EQ(test::EngineWrite(Path(L"a.vhd"), 2048, 1024, 0x30), DISK_OK);
    ASSERT_EQ(test::EngineWrite(Path(L"a.vhd"), 200 * 512, 512, 0x31), DISK_OK);
    seen_ = Read(L"a.vhd");
    live_ = test::ReadBytes(dir_, L"a.vhd");
  }
  std::string Read(const wchar_t* name) const {
    DiskResult r = DISK_OK;
    std::string bytes = test::EngineRead(Path(name), &r);
    EXPECT_EQ(r, DISK_OK);
    return bytes;
  }

  test::TempFolder dir_;
  std::string seen_;
  Bytes live_;
};

TEST_F(VhdFolding, FoldingTheParentKeepsWhatTheChildSeesAndNamesTheGrandparent) {
  ReplaceEntry entry;
  ASSERT_EQ(VhdFoldParent(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry), DISK_OK);
  EXPECT_STREQ(entry.temp.CString(), Path(L"a.vhd_QVT_TEMP").c_str());
  EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_);
  ASSERT_EQ(VhdCommitFold(&entry, false), DISK_OK);
  EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_TEMP"));
  EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_DEL"));
  PathBuffer parent;
  ASSERT_EQ(VhdParentOf(Path(L"a.vhd").c_str(), &parent), DISK_OK);
  EXPECT_STREQ(parent.CString(), Path(L"g.vhd").c_str());
  EXPECT_EQ(Read(L"a.vhd"), seen_);
}

TEST_F(VhdFolding, ABlockOnlyTheParentHoldsIsAppendedWhole) {
  ReplaceEntry entry;
  ASSERT_EQ(VhdFoldParent(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry), DISK_OK);
  const Bytes folded = test::ReadBytes(dir_, L"a.vhd_QVT_TEMP");
  // Block 1 is b's alone; it follows a's one block, bitmap and every disk
  // sector of it (336: the disk ends there), and the footer follows it.
  const std::uint64_t aBlock = test::PeekBE32(live_, 1536) * 512ull;
  const std::uint64_t appended = test::PeekBE32(folded, 1540) * 512ull;
  EXPECT_EQ(appended, live_.size() - 512);
  EXPECT_EQ(folded.size(), appended + 512 + 336 * 512 + 512);
  EXPECT_EQ(folded[appended], 0x60);  // sectors 1 and 2 of the block
  EXPECT_EQ(test::PeekBE32(folded, 1536) * 512ull, aBlock);
  ASSERT_EQ(VhdDiscardFold(&entry), DISK_OK);
  EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_TEMP"));
  EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_);
}

TEST_F(VhdFolding, FoldingTheChainMakesAStandAloneDynamicImage) {
  ReplaceEntry entry;
  ASSERT_EQ(VhdFoldChain(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry), DISK_OK);
  EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_);
  ASSERT_EQ(VhdCommitFold(&entry, false), DISK_OK);
  std::filesystem::remove(dir_.Native(L"b.vhd"));
  std::filesystem::remove(dir_.Native(L"g.vhd"));
  const Bytes folded = test::ReadBytes(dir_, L"a.vhd");
  EXPECT_EQ(test::PeekBE32(folded, 60), 3u);
  EXPECT_EQ(test::PeekBE32(folded, folded.size() - 512 + 60), 3u);
  for (std::size_t i = 512 + 40; i < 512 + 768; ++i) {
    if (i < 512 + 64 || i >= 512 + 576) {
      EXPECT_EQ(folded[i], 0) << i;
    }
  }
  EXPECT_EQ(Read(L"a.vhd"), seen_);
}

TEST_F(VhdFolding, ImagesOfOtherSizesAreRefusedLeavingTheWorkingCopy) {
  test::DynamicShape other;
  other.cylinders = 21;
  test::WriteBytes(dir_, L"o.vhd", test::DynamicImage(other));
  ASSERT_EQ(VhdCreateChild(Path(L"o.vhd").c_str(), Path(L"oc.vhd").c_str()), DISK_OK);
  for (auto fold : {&VhdFoldParent, &VhdFoldChain}) {
    ReplaceEntry entry;
    EXPECT_EQ(fold(Path(L"a.vhd").c_str(), Path(L"oc.vhd").c_str(), &entry), DISK_E_FORMAT);
    EXPECT_TRUE(dir_.Exists(L"a.vhd_QVT_TEMP"));
    EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_);
    ASSERT_EQ(VhdDiscardFold(&entry), DISK_OK);
    EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_TEMP"));
  }
}

TEST_F(VhdFolding, AGrandparentOnAnotherDriveLeavesNoRelativeLocators) {
  // b names its parent only by an absolute Unicode name on drive Y:.
  Bytes b = test::ReadBytes(dir_, L"b.vhd");
  std::memset(b.data() + 512 + 64, 0, 512 + 192);
  const std::string far = "Y:\\far\\g.vhd";
  for (std::size_t i = 0; i < far.size(); ++i) b[512 + 64 + 2 * i + 1] = static_cast<std::uint8_t>(far[i]);
  test::Reseal(&b);
  test::WriteBytes(dir_, L"b.vhd", b);
  ReplaceEntry entry;
  ASSERT_EQ(VhdFoldParent(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry), DISK_OK);
  const Bytes folded = test::ReadBytes(dir_, L"a.vhd_QVT_TEMP");
  auto entryAt = [](int i) { return 512 + 576 + 24 * static_cast<std::uint64_t>(i); };
  EXPECT_EQ(test::PeekBE32(folded, entryAt(0)), 0x57326B75u);
  EXPECT_EQ(test::PeekBE32(folded, entryAt(2)), 0x5769326Bu);
  for (int e : {1, 3}) {
    for (int i = 0; i < 24; ++i) EXPECT_EQ(folded[entryAt(e) + i], 0) << e;
  }
  const std::uint64_t data = test::PeekBE64(folded, entryAt(2) + 16);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(folded.data()) + data,
                        test::PeekBE32(folded, entryAt(2) + 8)),
            far);
  VhdImage* image = nullptr;
  PathBuffer parent;
  ASSERT_EQ(VhdImageOpen(&image, entry.temp.CString(), true, VHD_OPEN_TOLERATE, &parent), DISK_OK);
  EXPECT_STREQ(parent.CString(), far.c_str());
  VhdImageClose(image);
  ASSERT_EQ(VhdDiscardFold(&entry), DISK_OK);
}

TEST_F(VhdFolding, AFoldThatFailsHalfwayLeavesTheLiveImageAsItWas) {
  const Bytes parent = test::ReadBytes(dir_, L"b.vhd");
  for (auto fold : {&VhdFoldParent, &VhdFoldChain}) {
    int failures = 0;
    for (long n = 0; n < 60; ++n) {
      for (int kind = 0; kind < 3; ++kind) {
        ReplaceEntry entry;
        if (kind == 0) InjectFileFaults(-1, n);
        if (kind == 1) InjectFileFaults(n, -1);
        if (kind == 2) InjectAllocationFailureAfter(n);
        const DiskResult r = fold(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry);
        InjectFileFaults(-1, -1);
        InjectAllocationFailureAfter(-1);
        if (r != DISK_OK) ++failures;
        EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_) << n << " " << kind;
        EXPECT_EQ(test::ReadBytes(dir_, L"b.vhd"), parent) << n << " " << kind;
        EXPECT_EQ(VhdDiscardFold(&entry), DISK_OK);
        EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_TEMP"));
      }
    }
    EXPECT_GT(failures, 20);
  }
  EXPECT_EQ(Read(L"a.vhd"), seen_);
}

TEST_F(VhdFolding, ACommitStopsAtABackupNameThatIsTaken) {
  ReplaceEntry none;
  EXPECT_EQ(VhdCommitFold(&none, false), DISK_OK);
  EXPECT_EQ(VhdDiscardFold(&none), DISK_OK);
  ReplaceEntry entry;
  ASSERT_EQ(VhdFoldParent(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry), DISK_OK);
  dir_.WriteFile(L"a.vhd_QVT_DEL", "in the way");
  EXPECT_EQ(VhdCommitFold(&entry, false), DISK_E_CREATE);
  EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_);
  EXPECT_TRUE(dir_.Exists(L"a.vhd_QVT_TEMP"));
}

TEST_F(VhdFolding, ACommitWhoseCopyCannotTakeTheNameGivesTheImageItsNameBack) {
  ReplaceEntry entry;
  ASSERT_EQ(VhdFoldParent(Path(L"a.vhd").c_str(), Path(L"b.vhd").c_str(), &entry), DISK_OK);
  std::filesystem::remove(dir_.Native(L"a.vhd_QVT_TEMP"));  // the second rename must fail
  EXPECT_EQ(VhdCommitFold(&entry, false), DISK_E_CREATE);
  EXPECT_EQ(test::ReadBytes(dir_, L"a.vhd"), live_);
  EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_DEL"));
}

}  // namespace
}  // namespace qvt
