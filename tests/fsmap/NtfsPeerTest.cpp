// The NTFS reader on real volumes made by mkntfs and filled through ntfs-3g:
// its bits must be those of $Bitmap as ntfscat reads it, and a copy that
// keeps only the sectors it calls used must pass ntfsfix and give back
// every file.
#include <gtest/gtest.h>

#include <memory>

#include "FsHandlers.h"
#include "FsPropertyKit.h"
#include "ImageOpen.h"
#include "NtfsTestVolumes.h"
#include "TempFolder.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kStart = 2048;
constexpr std::uint64_t kMiB = 1u << 20;

struct NtfsCase {
  const char* name;
  std::uint64_t bytes;
  std::uint32_t cluster;
  std::uint64_t big;  // a last file that nearly fills the volume
};

const NtfsCase kCases[] = {
    {"c512", 16 * kMiB, 512, 0},
    {"c4096", 40 * kMiB + 1536, 4096, 0},       // not a whole number of clusters
    {"c65536full", 48 * kMiB, 65536, 38 * kMiB},  // nearly full
};

class NtfsPeer : public ::testing::TestWithParam<NtfsCase> {
 protected:
  void SetUp() override {
    std::string why;
    const NtfsCase& c = GetParam();
    if (!MakeNtfsVolume(c.name, c.bytes, c.cluster, true, c.big, &volume_, &why)) GTEST_SKIP() << why;
    disk_ = std::make_unique<RawDisk>(dir_, L"disk", kStart + volume_->sectors + 1024);
    disk_->PutEntry(0, 0, 0x07, kStart, volume_->sectors);
    PlaceVolume(disk_.get(), kStart, volume_->image);
  }
  void TearDown() override { FreeAllocationMap(map_); }
  const AllocationMap* Map() {
    map_ = MapOf(disk_.get());
    return map_;
  }

  TempFolder dir_;
  const NtfsVolume* volume_ = nullptr;
  std::unique_ptr<RawDisk> disk_;
  AllocationMap* map_ = nullptr;
};

TEST_P(NtfsPeer, BitsAreThoseOfBitmapAsNtfscatReadsIt) {
  const AllocationMap* map = Map();
  ASSERT_NE(map, nullptr);
  const AllocationSegment* segment = SegmentAt(map, kStart);
  ASSERT_NE(segment, nullptr);
  EXPECT_EQ(segment->kind, kFsNtfs);
  const std::vector<bool> used = NtfsUsedSectors(*volume_);
  const std::vector<bool> bits = MapBits(map, kStart, volume_->sectors);
  EXPECT_TRUE(UsedButFree(used, bits).empty());
  std::uint32_t differ = 0, free = 0;
  for (std::uint32_t s = 0; s < volume_->sectors; ++s) {
    differ += used[s] != bits[s];
    free += !bits[s];
  }
  EXPECT_EQ(differ, 0u);
  EXPECT_GT(free, 0u);
  // The backup boot sector lies past the last cluster.
  EXPECT_TRUE(bits[volume_->sectors - 1]);
}

TEST_P(NtfsPeer, TrimmedCopyPassesNtfsfixAndGivesBackEveryFile) {
  const AllocationMap* map = Map();
  ASSERT_NE(map, nullptr);
  const std::string trimmed = dir_.Native(L"trimmed.img").string();
  const std::string volume = dir_.Native(L"trimmed.ntfs").string();
  EXPECT_GT(WriteTrimmedCopy(disk_.get(), map, trimmed), 0u);
  ExtractVolume(trimmed, kStart, volume_->sectors, volume);
  std::string out;
  EXPECT_EQ(Shell("ntfsfix -n " + ShellQuote(volume), &out), 0) << out;
  std::uint32_t checked = 0;
  for (const PeerFile& f : volume_->files) {
    if (!f.kept) continue;
    EXPECT_EQ(Shell("ntfscat " + ShellQuote(volume) + " " + ShellQuote("/" + f.path) + " | cmp -s - " +
                    ShellQuote(f.host)),
              0)
        << f.path;
    ++checked;
  }
  EXPECT_GE(checked, 4u);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, NtfsPeer, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<NtfsCase>& p) { return std::string(p.param.name); });

TEST(NtfsThroughVmdk, MapOfAVmdkCopyIsTheMapOfTheRawDisk) {
  const NtfsVolume* volume = nullptr;
  std::string why;
  if (!MakeNtfsVolume("c4096", kCases[1].bytes, 4096, true, 0, &volume, &why)) GTEST_SKIP() << why;
  if (!HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img is not installed (package qemu-utils)";
  TempFolder dir;
  RawDisk disk(dir, L"disk", kStart + volume->sectors + 1024);
  disk.PutEntry(0, 0, 0x07, kStart, volume->sectors);
  PlaceVolume(&disk, kStart, volume->image);
  AllocationMap* raw = MapOf(&disk);
  ASSERT_NE(raw, nullptr);
  disk.Close();
  const std::string vmdk = dir.Native(L"disk.vmdk").string();
  ASSERT_EQ(Shell("qemu-img convert -f raw -O vmdk " + ShellQuote(disk.NativePath()) + " " + ShellQuote(vmdk)), 0);
  ImageHandle image = NoImage();
  ASSERT_EQ(ImageOpen(&image, dir.Engine(L"disk.vmdk").c_str(), true, 0, nullptr, nullptr), DISK_OK);
  AllocationMap* map = nullptr;
  ASSERT_EQ(BuildAllocationMap(&image, &map), DISK_OK);
  ASSERT_NE(SegmentAt(map, kStart), nullptr);
  EXPECT_EQ(SegmentAt(map, kStart)->kind, kFsNtfs);
  EXPECT_EQ(MapBits(map, 0, disk.Sectors()), MapBits(raw, 0, disk.Sectors()));
  FreeAllocationMap(map);
  FreeAllocationMap(raw);
  ImageClose(&image);
}

}  // namespace
}  // namespace qvt::test
