// The FAT reader on volumes made and filled by dosfstools and mtools: its
// map agrees sector for sector with sleuthkit's allocation, and a copy that
// keeps only the sectors it calls used passes fsck.fat and gives back every
// file unchanged.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FatPeerKit.h"
#include "FsHandlers.h"
#include "FsPropertyKit.h"
#include "ImageOpen.h"
#include "VmdkImage.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kVolumeStart = 2048;

const FatVolumeCase kCases[] = {
    {"Fat12SmallClustersFull", 12, 1, 2048, true},
    {"Fat12LargeClusters", 12, 16, 16384, false},
    {"Fat16SmallClusters", 16, 1, 16384, false},
    {"Fat16LargeClustersFull", 16, 16, 49152, true},
    {"Fat32SmallClustersFull", 32, 1, 40960, true},
    {"Fat32LargeClusters", 32, 4, 143360, false},
};

std::uint8_t PartitionType(int fatBits) { return fatBits == 12 ? 0x01 : fatBits == 16 ? 0x06 : 0x0C; }

class FatPeerVolumes : public ::testing::TestWithParam<FatVolumeCase> {
 protected:
  static void SetUpTestSuite() {
    if (folder_ != nullptr || !HaveFatPeers()) return;
    folder_ = new TempFolder();
    for (const FatVolumeCase& c : kCases) {
      const std::string log = MakeFatVolume(c, Scratch(c), Volume(c));
      if (!log.empty()) ADD_FAILURE() << c.name << ": " << log;
    }
  }
  void SetUp() override {
    if (folder_ == nullptr) GTEST_SKIP() << "dosfstools, mtools or sleuthkit is not on this machine";
  }
  static std::string Scratch(const FatVolumeCase& c) {
    return folder_->Native(L"scratch").string() + "/" + c.name;
  }
  static std::string Volume(const FatVolumeCase& c) {
    return folder_->Native(L"volumes").string() + "_" + c.name + ".img";
  }
  static std::uint32_t VolumeSectors(const FatVolumeCase& c) { return c.kib * 2; }

  // A disk holding the case's volume in its first MBR partition.
  std::unique_ptr<RawDisk> DiskWith(const FatVolumeCase& c) {
    auto disk = std::make_unique<RawDisk>(*folder_, std::wstring(L"disk"), kVolumeStart + VolumeSectors(c) + 64);
    disk->PutEntry(0, 0, PartitionType(c.fatBits), kVolumeStart, VolumeSectors(c));
    PlaceVolume(disk.get(), kVolumeStart, Volume(c));
    return disk;
  }

  static TempFolder* folder_;

 public:
  static TempFolder* Folder() { return folder_; }
};

TempFolder* FatPeerVolumes::folder_ = nullptr;

// The volumes are made once for the whole program (both suites below use
// them) and removed at its end.
class FatVolumesCleanup : public ::testing::Environment {
 public:
  void TearDown() override { delete FatPeerVolumes::Folder(); }
};
const ::testing::Environment* const kCleanup = ::testing::AddGlobalTestEnvironment(new FatVolumesCleanup);

TEST_P(FatPeerVolumes, MapAgreesWithSleuthkitSectorForSector) {
  const FatVolumeCase& c = GetParam();
  auto disk = DiskWith(c);
  AllocationMap* map = MapOf(disk.get());
  ASSERT_NE(map, nullptr);
  const AllocationSegment* segment = SegmentAt(map, kVolumeStart);
  ASSERT_NE(segment, nullptr);
  EXPECT_EQ(segment->kind, kFsFat);
  const std::vector<bool> bits = MapBits(map, kVolumeStart, VolumeSectors(c));
  FreeAllocationMap(map);
  disk->Close();
  const std::vector<bool> truth = BlklsAllocated(disk->NativePath(), kVolumeStart, VolumeSectors(c));
  ASSERT_EQ(truth.size(), bits.size());
  EXPECT_TRUE(UsedButFree(truth, bits).empty()) << UsedButFree(truth, bits).size() << " used sectors called free";
  std::uint32_t disagree = 0, firstDisagree = 0;
  for (std::uint32_t s = 0; s < bits.size(); ++s) {
    if (bits[s] == truth[s]) continue;
    if (disagree++ == 0) firstDisagree = s;
  }
  EXPECT_EQ(disagree, 0u) << "first at volume sector " << firstDisagree;
  std::uint32_t freeSectors = 0;
  for (bool b : bits) freeSectors += b ? 0 : 1;
  EXPECT_GT(freeSectors, 0u);
}

TEST_P(FatPeerVolumes, TrimmedCopyPassesFsckAndKeepsEveryFile) {
  const FatVolumeCase& c = GetParam();
  auto disk = DiskWith(c);
  AllocationMap* map = MapOf(disk.get());
  ASSERT_NE(map, nullptr);
  const std::string trimmed = folder_->Native(L"trimmed.img").string();
  const std::uint64_t zeroed = WriteTrimmedCopy(disk.get(), map, trimmed);
  FreeAllocationMap(map);
  EXPECT_GT(zeroed, 0u);
  const std::string volume = folder_->Native(L"trimmed-volume.img").string();
  ExtractVolume(trimmed, kVolumeStart, VolumeSectors(c), volume);
  std::string log;
  EXPECT_EQ(Shell("fsck.fat -n " + ShellQuote(volume), &log), 0) << log;
  const std::string before = folder_->Native(L"files-before").string();
  const std::string after = folder_->Native(L"files-after").string();
  ASSERT_EQ(ExtractFatFiles(Volume(c), before), "");
  ASSERT_EQ(ExtractFatFiles(volume, after), "");
  EXPECT_EQ(Shell("diff -r " + ShellQuote(before) + " " + ShellQuote(after), &log), 0) << log;
  EXPECT_EQ(Shell("test -s " + ShellQuote(after + "/docs/deep/g6.dat") + " && test -s " +
                      ShellQuote(after + "/later/again.bin")), 0) << "the extraction found no files";
}

// The same volume read through a VMDK made by qemu-img gives the same map.
TEST_F(FatPeerVolumes, VmdkOfTheDiskGivesTheSameMap) {
  const FatVolumeCase& c = kCases[2];
  if (!HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img is not on this machine";
  auto disk = DiskWith(c);
  AllocationMap* raw = MapOf(disk.get());
  ASSERT_NE(raw, nullptr);
  const std::vector<bool> rawBits = MapBits(raw, 0, disk->Sectors());
  FreeAllocationMap(raw);
  disk->Close();
  std::string log;
  ASSERT_EQ(Shell("qemu-img convert -f raw -O vmdk " + ShellQuote(disk->NativePath()) + " " +
                      ShellQuote(folder_->Native(L"disk.vmdk").string()), &log), 0) << log;
  ImageHandle image = NoImage();
  ASSERT_EQ(ImageOpen(&image, folder_->Engine(L"disk.vmdk").c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr),
            DISK_OK);
  AllocationMap* map = nullptr;
  ASSERT_EQ(BuildAllocationMap(&image, &map), DISK_OK);
  ASSERT_NE(SegmentAt(map, kVolumeStart), nullptr);
  EXPECT_EQ(SegmentAt(map, kVolumeStart)->kind, kFsFat);
  EXPECT_EQ(MapBits(map, 0, disk->Sectors()), rawBits);
  FreeAllocationMap(map);
  ImageClose(&image);
}

INSTANTIATE_TEST_SUITE_P(Mkfs, FatPeerVolumes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FatVolumeCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qvt::test
