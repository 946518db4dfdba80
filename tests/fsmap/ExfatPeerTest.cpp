// The exFAT reader on real volumes made by mkfs.exfat and filled through
// exfat-fuse: its bits must match the sectors blkls calls used, and a copy
// that keeps only the sectors it calls used must pass fsck.exfat and give
// back every file.
#include <gtest/gtest.h>

#include <memory>

#include "ExfatTestVolumes.h"
#include "FsHandlers.h"
#include "FsPropertyKit.h"
#include "ImageOpen.h"
#include "TempFolder.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kStart = 2048;
constexpr std::uint64_t kMiB = 1u << 20;

struct ExfatCase {
  const char* name;
  std::uint64_t bytes;
  std::uint32_t cluster;
  bool fill;
  std::uint64_t big;
};

const ExfatCase kCases[] = {
    {"empty4096", 8 * kMiB, 4096, false, 0},
    {"c512", 16 * kMiB, 512, true, 0},
    {"c4096", 32 * kMiB, 4096, true, 0},
    {"c65536full", 48 * kMiB, 65536, true, 38 * kMiB},
};

// Compares every kept file of `files` with the volume `image`, mounted
// read-only through a loop device; the number compared, or -1 when the
// machine cannot mount.
int CompareFiles(const std::string& image, const std::string& mnt, const std::vector<PeerFile>& files) {
  std::string loop;
  if (Shell("losetup -r -f --show " + ShellQuote(image), &loop) != 0) return -1;
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  int compared = -1;
  if (Shell("mkdir -p " + ShellQuote(mnt) + " && mount.exfat-fuse -o ro " + ShellQuote(loop) + " " +
            ShellQuote(mnt)) == 0) {
    compared = 0;
    for (const PeerFile& f : files) {
      if (!f.kept) continue;
      EXPECT_EQ(Shell("cmp -s " + ShellQuote(mnt + "/" + f.path) + " " + ShellQuote(f.host)), 0) << f.path;
      ++compared;
    }
    const std::string m = ShellQuote(mnt);
    Shell("umount " + m + " || { sleep 1; umount " + m + "; } || umount -l " + m);
  }
  Shell("losetup -d " + ShellQuote(loop));
  return compared;
}

class ExfatPeer : public ::testing::TestWithParam<ExfatCase> {
 protected:
  void SetUp() override {
    std::string why;
    const ExfatCase& c = GetParam();
    if (!MakeExfatVolume(c.name, c.bytes, c.cluster, c.fill, c.big, &volume_, &why)) GTEST_SKIP() << why;
    disk_ = std::make_unique<RawDisk>(dir_, L"disk", kStart + volume_->sectors + 1024);
    disk_->PutEntry(0, 0, 0x07, kStart, volume_->sectors);  // NTFS-typed: kind 4 after kind 0 fails
    PlaceVolume(disk_.get(), kStart, volume_->image);
  }
  void TearDown() override { FreeAllocationMap(map_); }
  const AllocationMap* Map() {
    map_ = MapOf(disk_.get());
    return map_;
  }

  TempFolder dir_;
  const ExfatVolume* volume_ = nullptr;
  std::unique_ptr<RawDisk> disk_;
  AllocationMap* map_ = nullptr;
};

TEST_P(ExfatPeer, BitsAreTheSectorsBlklsCallsUsed) {
  const AllocationMap* map = Map();
  ASSERT_NE(map, nullptr);
  ASSERT_NE(SegmentAt(map, kStart), nullptr);
  EXPECT_EQ(SegmentAt(map, kStart)->kind, kFsExfat);
  const std::vector<bool> bits = MapBits(map, kStart, volume_->sectors);
  EXPECT_TRUE(UsedButFree(volume_->used, bits).empty());
  const std::uint32_t heapEnd = volume_->heapOffset + volume_->clusters * volume_->clusterSectors;
  std::uint32_t differ = 0, free = 0;
  for (std::uint32_t s = 0; s < volume_->sectors; ++s) {
    const bool inHeap = s >= volume_->heapOffset && s < heapEnd;
    if (!inHeap) {
      EXPECT_TRUE(bits[s]) << s;  // boot region, FAT, the tail
    }
    if (inHeap) differ += bits[s] != volume_->used[s];
    free += !bits[s];
  }
  EXPECT_EQ(differ, 0u);
  EXPECT_GT(free, 0u);
}

TEST_P(ExfatPeer, TrimmedCopyPassesFsckAndGivesBackEveryFile) {
  const AllocationMap* map = Map();
  ASSERT_NE(map, nullptr);
  const std::string trimmed = dir_.Native(L"trimmed.img").string();
  const std::string volume = dir_.Native(L"trimmed.exfat").string();
  EXPECT_GT(WriteTrimmedCopy(disk_.get(), map, trimmed), 0u);
  ExtractVolume(trimmed, kStart, volume_->sectors, volume);
  std::string out;
  EXPECT_EQ(Shell("fsck.exfat -n " + ShellQuote(volume), &out), 0) << out;
  if (volume_->files.empty()) return;
  const int compared = CompareFiles(volume, dir_.Native(L"mnt").string(), volume_->files);
  if (compared < 0) GTEST_SKIP() << "exfat-fuse could not mount the trimmed copy";
  EXPECT_GE(compared, 8);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, ExfatPeer, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExfatCase>& p) { return std::string(p.param.name); });

TEST(ExfatThroughVmdk, MapOfAVmdkCopyIsTheMapOfTheRawDisk) {
  const ExfatVolume* volume = nullptr;
  std::string why;
  if (!MakeExfatVolume("c4096", kCases[2].bytes, 4096, true, 0, &volume, &why)) GTEST_SKIP() << why;
  if (!HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img is not installed (package qemu-utils)";
  TempFolder dir;
  RawDisk disk(dir, L"disk", kStart + volume->sectors + 1024);
  disk.PutEntry(0, 1, 0x07, kStart, volume->sectors);
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
  EXPECT_EQ(SegmentAt(map, kStart)->kind, kFsExfat);
  EXPECT_EQ(MapBits(map, 0, disk.Sectors()), MapBits(raw, 0, disk.Sectors()));
  FreeAllocationMap(map);
  FreeAllocationMap(raw);
  ImageClose(&image);
}

}  // namespace
}  // namespace qvt::test
