// Generated HFS Plus and HFSX volumes, first checked by a reader that shares
// no code with the generator (sleuthkit), then used to
// check the reader: its map matches the blocks the generator allocated and
// sleuthkit's allocation, and a trimmed copy still gives back every file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FsHandlers.h"
#include "FsPropertyKit.h"
#include "HfsPlusPeerKit.h"
#include "HfsPlusVolume.h"
#include "ImageOpen.h"
#include "VmdkImage.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kVolumeStart = 2048;
constexpr std::uint8_t kAppleHfsType = 0xAF;

struct HfsCase {
  const char* name;
  std::uint32_t blockSize, totalBlocks;
  bool hfsx, fragmented, nearlyFull;
};

const HfsCase kCases[] = {
    {"HfsPlus512ByteBlocks", 512, 40960, false, false, false},
    {"HfsPlus4KiBFragmentedAllocation", 4096, 6000, false, true, false},
    {"Hfsx4KiB", 4096, 4000, true, false, false},
    {"Hfsx8KiBFragmentedNearlyFull", 8192, 2000, true, true, true},
};

void PrintTo(const HfsCase& c, std::ostream* os) { *os << c.name; }

HfsPlusRecipe SpecOf(const HfsCase& c) {
  HfsPlusRecipe recipe{c.blockSize, c.totalBlocks, c.hfsx, c.fragmented, SomeHfsPlusFiles(c.blockSize, 7)};
  if (c.nearlyFull) {
    // One file over all but ~40 of the blocks left.
    HfsPlusFile big{"bulk.dat", true, true, std::vector<std::uint8_t>((c.totalBlocks - 120) * std::size_t{c.blockSize})};
    for (std::size_t k = 0; k < big.data.size(); ++k) big.data[k] = static_cast<std::uint8_t>(k / 4093 + k);
    recipe.files.push_back(big);
  }
  return recipe;
}

std::string HfsPath(const HfsPlusFile& f) { return (f.inDocs ? "docs/" : "") + f.name; }

class HfsPlusVolumes : public ::testing::TestWithParam<HfsCase> {
 protected:
  void SetUp() override {
    spec_ = SpecOf(GetParam());
    ASSERT_TRUE(MakeHfsPlusVolume(spec_, &volume_));
    volumeSectors_ = static_cast<std::uint32_t>(volume_.bytes.size() / 512);
    volumePath_ = dir_.Native(L"volume.img").string();
    std::ofstream(volumePath_, std::ios::binary)
        .write(reinterpret_cast<const char*>(volume_.bytes.data()), static_cast<std::streamsize>(volume_.bytes.size()));
    disk_ = std::make_unique<RawDisk>(dir_, L"disk", kVolumeStart + volumeSectors_ + 100);
    disk_->PutEntry(0, 0, kAppleHfsType, kVolumeStart, volumeSectors_);
    disk_->Put(static_cast<std::uint64_t>(kVolumeStart) * 512, volume_.bytes);
  }
  std::vector<bool> GeneratorSectors() const {
    std::vector<bool> used(volumeSectors_);
    for (std::uint32_t s = 0; s < volumeSectors_; ++s) used[s] = volume_.blockUsed[s / (spec_.blockSize / 512)];
    return used;
  }
  void ExpectSleuthkitFiles(const std::string& volume) {
    std::map<std::string, std::vector<std::uint8_t>> found;
    ASSERT_EQ(SleuthkitFiles(volume, &found), "");
    EXPECT_EQ(found.size(), spec_.files.size());
    for (const HfsPlusFile& f : spec_.files) {
      ASSERT_TRUE(found.count(HfsPath(f))) << HfsPath(f);
      EXPECT_TRUE(found[HfsPath(f)] == f.data) << HfsPath(f);
    }
  }
  TempFolder dir_;
  HfsPlusRecipe spec_;
  HfsPlusVolume volume_;
  std::uint32_t volumeSectors_ = 0;
  std::string volumePath_;
  std::unique_ptr<RawDisk> disk_;
};

TEST_P(HfsPlusVolumes, SleuthkitReadsTheGeneratedVolume) {
  if (!HaveSleuthkit()) GTEST_SKIP() << "sleuthkit is not on this machine";
  std::string log;
  ASSERT_EQ(Shell("fsstat -f hfs " + ShellQuote(volumePath_), &log), 0) << log;
  EXPECT_NE(log.find(GetParam().hfsx ? "HFSX" : "HFS+"), std::string::npos) << log;
  ExpectSleuthkitFiles(volumePath_);
  EXPECT_EQ(SleuthkitBlocks(volumePath_, spec_.totalBlocks), volume_.blockUsed);
}

TEST_P(HfsPlusVolumes, MapMatchesTheAllocatedBlocks) {
  AllocationMap* map = MapOf(disk_.get());
  ASSERT_NE(map, nullptr);
  ASSERT_NE(SegmentAt(map, kVolumeStart), nullptr);
  EXPECT_EQ(SegmentAt(map, kVolumeStart)->kind, kFsHfsPlus);
  const std::vector<bool> bits = MapBits(map, kVolumeStart, volumeSectors_);
  FreeAllocationMap(map);
  EXPECT_TRUE(UsedButFree(GeneratorSectors(), bits).empty());
  EXPECT_TRUE(bits == GeneratorSectors());
  EXPECT_GT(std::count(bits.begin(), bits.end(), false), 0);
}

TEST_P(HfsPlusVolumes, TrimmedCopyKeepsEveryFile) {
  AllocationMap* map = MapOf(disk_.get());
  ASSERT_NE(map, nullptr);
  const std::string trimmed = dir_.Native(L"trimmed.img").string();
  EXPECT_GT(WriteTrimmedCopy(disk_.get(), map, trimmed), 0u);
  FreeAllocationMap(map);
  const std::string volume = dir_.Native(L"trimmed-volume.img").string();
  ExtractVolume(trimmed, kVolumeStart, volumeSectors_, volume);
  if (HaveSleuthkit()) {
    ExpectSleuthkitFiles(volume);
    EXPECT_EQ(SleuthkitBlocks(volume, spec_.totalBlocks), volume_.blockUsed);
  }
  if (!HaveSleuthkit()) GTEST_SKIP() << "sleuthkit is not on this machine";
}

// The fragmented volumes, read through a VMDK made by qemu-img.
class HfsPlusInVmdk : public HfsPlusVolumes {};

TEST_P(HfsPlusInVmdk, GivesTheSameMapAsTheRawDisk) {
  if (!HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img is not on this machine";
  AllocationMap* raw = MapOf(disk_.get());
  ASSERT_NE(raw, nullptr);
  const std::vector<bool> rawBits = MapBits(raw, 0, disk_->Sectors());
  FreeAllocationMap(raw);
  disk_->Close();
  std::string log;
  ASSERT_EQ(Shell("qemu-img convert -f raw -O vmdk " + ShellQuote(disk_->NativePath()) + " " +
                      ShellQuote(dir_.Native(L"disk.vmdk").string()), &log), 0) << log;
  ImageHandle image = NoImage();
  ASSERT_EQ(ImageOpen(&image, dir_.Engine(L"disk.vmdk").c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr), DISK_OK);
  AllocationMap* map = nullptr;
  ASSERT_EQ(BuildAllocationMap(&image, &map), DISK_OK);
  EXPECT_EQ(SegmentAt(map, kVolumeStart)->kind, kFsHfsPlus);
  EXPECT_TRUE(MapBits(map, 0, disk_->Sectors()) == rawBits);
  FreeAllocationMap(map);
  ImageClose(&image);
}

INSTANTIATE_TEST_SUITE_P(Generated, HfsPlusVolumes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HfsCase>& i) { return std::string(i.param.name); });
INSTANTIATE_TEST_SUITE_P(Generated, HfsPlusInVmdk, ::testing::Values(kCases[1], kCases[3]),
                         [](const ::testing::TestParamInfo<HfsCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qvt::test
