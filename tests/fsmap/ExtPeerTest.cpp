// The ext reader on volumes made and filled by e2fsprogs (mke2fs -d, files
// then removed with debugfs), placed in an MBR partition: the map must match
// dumpe2fs's free ranges block for block, and a copy that keeps only what
// the map calls in use must pass e2fsck and give back every file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "FsmapTestKit.h"
#include "ReaderProbeKit.h"
#include "ImageOpen.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kPartitionStart = 2048;

struct ExtCase {
  const char* name;
  const char* makeOptions;  // mke2fs options besides -d
  std::uint32_t mebibytes;
  std::uint32_t files;
  std::uint32_t maxFileBytes;
};

// Small and large blocks, every descriptor shape the reader handles, and
// groups whose bitmaps were never written; the last one nearly full.
const ExtCase kCases[] = {
    {"ext2-1k", "-t ext2 -b 1024", 12, 120, 40000},
    {"ext3-4k", "-t ext3 -b 4096 -g 4096", 48, 150, 200000},
    {"ext4-4k-flex-csum", "-t ext4 -b 4096 -g 4096", 96, 200, 300000},
    {"ext4-1k-metabg-64bit", "-t ext4 -b 1024 -g 1024 -O meta_bg,^resize_inode,64bit", 24, 150, 30000},
    {"ext4-4k-uninit_bg", "-t ext4 -b 4096 -g 4096 -O ^metadata_csum,uninit_bg,^flex_bg,sparse_super2", 64, 120, 200000},
    {"ext4-2k-nearly-full", "-t ext4 -b 2048 -m 0 -J size=2 -N 256", 16, 60, 460000},
};

struct ExtVolume {
  const ExtCase* recipe;
  std::string image;    // the bare volume as made
  std::string files;    // the tree the volume must hold after the removals
  std::uint32_t sectors;
  std::unique_ptr<RawDisk> disk;
};

std::string Path(const TempFolder& dir, const std::string& name) { return (dir.Native() / name).string(); }

// Makes the volume; removes every fourth file with debugfs, from the
// volume and from the reference tree alike.
void MakeVolume(const TempFolder& dir, const ExtCase& c, ExtVolume* v) {
  const std::string src = Path(dir, std::string(c.name) + "-src");
  v->image = Path(dir, std::string(c.name) + ".vol");
  v->files = src;
  std::filesystem::create_directories(src);
  const std::vector<std::string> paths = FillTree(src, c.mebibytes, c.files, c.maxFileBytes);
  std::string out;
  ASSERT_EQ(Shell("truncate -s " + std::to_string(c.mebibytes) + "M " + ShellQuote(v->image)), 0);
  ASSERT_EQ(Shell("mke2fs -q -F " + std::string(c.makeOptions) + " -E root_owner=0:0 -d " + ShellQuote(src) +
                      " " + ShellQuote(v->image) + " 2>&1",
                  &out),
            0)
      << out;
  std::ostringstream removals;
  for (std::size_t i = 0; i < paths.size(); i += 4) {
    removals << "rm /" << paths[i] << "\n";
    std::filesystem::remove(src + "/" + paths[i]);
  }
  const std::string script = v->image + ".rm";
  std::ofstream(script) << removals.str();
  ASSERT_EQ(Shell("debugfs -w -f " + ShellQuote(script) + " " + ShellQuote(v->image) + " >/dev/null 2>&1"), 0);
  v->sectors = c.mebibytes * 2048;
}

class ExtPeer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveTool("mke2fs") || !HaveTool("debugfs") || !HaveTool("dumpe2fs") || !HaveTool("e2fsck")) return;
    dir_ = new TempFolder();
    for (const ExtCase& c : kCases) {
      auto* v = new ExtVolume{&c, "", "", 0, nullptr};
      MakeVolume(*dir_, c, v);
      if (::testing::Test::HasFatalFailure()) {
        delete v;
        return;
      }
      v->disk = std::make_unique<RawDisk>(*dir_, std::wstring(c.name, c.name + std::strlen(c.name)),
                                          kPartitionStart + v->sectors + 2048);
      v->disk->PutEntry(0, 0, 0x83, kPartitionStart, v->sectors);
      PlaceVolume(v->disk.get(), kPartitionStart, v->image);
      volumes_.push_back(v);
    }
  }
  static void TearDownTestSuite() {
    for (ExtVolume* v : volumes_) delete v;
    volumes_.clear();
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "e2fsprogs (mke2fs, debugfs, dumpe2fs, e2fsck) not on this machine";
  }
  static TempFolder* dir_;
  static std::vector<ExtVolume*> volumes_;
};

TempFolder* ExtPeer::dir_ = nullptr;
std::vector<ExtVolume*> ExtPeer::volumes_;

// dumpe2fs's view: block size, and per block whether it is in use.
void Dumpe2fsView(const std::string& image, std::uint32_t* blockSize, std::vector<bool>* inUse) {
  std::string out;
  ASSERT_EQ(Shell("dumpe2fs " + ShellQuote(image) + " 2>/dev/null", &out), 0);
  std::istringstream lines(out);
  std::string line;
  std::uint64_t blocks = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> free;
  while (std::getline(lines, line)) {
    if (line.rfind("Block count:", 0) == 0) blocks = std::stoull(line.substr(12));
    if (line.rfind("Block size:", 0) == 0) *blockSize = static_cast<std::uint32_t>(std::stoul(line.substr(11)));
    const std::string tag = "  Free blocks: ";
    if (line.rfind(tag, 0) != 0) continue;
    std::istringstream ranges(line.substr(tag.size()));
    std::string range;
    while (std::getline(ranges, range, ',')) {
      if (range.find_first_of("0123456789") == std::string::npos) continue;
      const std::size_t dash = range.find('-');
      const std::uint64_t a = std::stoull(range);
      const std::uint64_t b = dash == std::string::npos ? a : std::stoull(range.substr(dash + 1));
      free.emplace_back(a, b);
    }
  }
  ASSERT_GT(blocks, 0u);
  inUse->assign(blocks, true);
  for (const auto& [a, b] : free) {
    for (std::uint64_t k = a; k <= b && k < blocks; ++k) (*inUse)[k] = false;
  }
}

TEST_F(ExtPeer, MapMatchesDumpe2fsFreeRangesAndNeverFreesAUsedSector) {
  for (ExtVolume* v : volumes_) {
    SCOPED_TRACE(v->recipe->name);
    std::uint32_t blockSize = 0;
    std::vector<bool> blockInUse;
    Dumpe2fsView(v->image, &blockSize, &blockInUse);
    const std::vector<bool> truth = SectorsOfBlocks(blockInUse, blockSize / 512, v->sectors);
    AllocationMap* map = MapOf(v->disk.get());
    ASSERT_NE(map, nullptr);
    const AllocationSegment* segment = SegmentAt(map, kPartitionStart);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->kind, kFsExt);
    const std::vector<bool> bits = MapBits(map, kPartitionStart, v->sectors);
    FreeAllocationMap(map);
    EXPECT_TRUE(UsedButFree(truth, bits).empty()) << UsedButFree(truth, bits).size() << " used sectors called free";
    std::size_t differ = 0, firstDiffer = 0;
    for (std::uint32_t s = 0; s < v->sectors; ++s) {
      if (truth[s] != bits[s] && differ++ == 0) firstDiffer = s;
    }
    EXPECT_EQ(differ, 0u) << "first at volume sector " << firstDiffer;
    EXPECT_NE(std::count(bits.begin(), bits.end(), false), 0) << "nothing would be trimmed";
  }
}

TEST_F(ExtPeer, TrimmedCopyPassesE2fsckAndGivesBackEveryFile) {
  for (ExtVolume* v : volumes_) {
    SCOPED_TRACE(v->recipe->name);
    AllocationMap* map = MapOf(v->disk.get());
    ASSERT_NE(map, nullptr);
    const std::string trimmed = Path(*dir_, std::string(v->recipe->name) + "-trimmed.img");
    const std::string volume = trimmed + ".vol";
    EXPECT_GT(WriteTrimmedCopy(v->disk.get(), map, trimmed), 0u);
    FreeAllocationMap(map);
    ExtractVolume(trimmed, kPartitionStart, v->sectors, volume);
    std::string out;
    EXPECT_EQ(Shell("e2fsck -fn " + ShellQuote(volume) + " 2>&1", &out), 0) << out;
    const std::string back = Path(*dir_, std::string(v->recipe->name) + "-back");
    std::filesystem::create_directories(back);
    ASSERT_EQ(Shell("debugfs -R " + ShellQuote("rdump / " + back) + " " + ShellQuote(volume) + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(Shell("diff -r --exclude=lost+found " + ShellQuote(v->files) + " " + ShellQuote(back) + " 2>&1", &out), 0)
        << out;
    std::filesystem::remove_all(back);
    std::filesystem::remove(trimmed);
    std::filesystem::remove(volume);
  }
}

TEST_F(ExtPeer, AVmdkOfTheDiskGivesTheSameMap) {
  if (!HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img not on this machine";
  ExtVolume* v = volumes_[2];
  const std::string vmdk = Path(*dir_, "ext4.vmdk");
  v->disk->Close();
  ASSERT_EQ(Shell("qemu-img convert -O vmdk " + ShellQuote(v->disk->NativePath()) + " " + ShellQuote(vmdk)), 0);
  AllocationMap* raw = MapOf(v->disk.get());
  ASSERT_NE(raw, nullptr);
  const std::vector<bool> want = MapBits(raw, 0, v->disk->Sectors());
  FreeAllocationMap(raw);
  v->disk->Close();
  ImageHandle image = NoImage();
  ASSERT_EQ(ImageOpen(&image, vmdk.c_str(), true, 0, nullptr, nullptr), DISK_OK);
  AllocationMap* map = nullptr;
  ASSERT_EQ(BuildAllocationMap(&image, &map), DISK_OK);
  ASSERT_NE(SegmentAt(map, kPartitionStart), nullptr);
  EXPECT_EQ(SegmentAt(map, kPartitionStart)->kind, kFsExt);
  EXPECT_EQ(MapBits(map, 0, v->disk->Sectors()), want);
  FreeAllocationMap(map);
  ImageClose(&image);
}

TEST_F(ExtPeer, DamageToRealSuperblocksAndDescriptorsNeverFreesAUsedSector) {
  for (std::size_t k : {std::size_t{2}, std::size_t{3}, std::size_t{4}}) {
    ExtVolume* v = volumes_[k];
    SCOPED_TRACE(v->recipe->name);
    std::uint32_t blockSize = 0;
    std::vector<bool> blockInUse;
    Dumpe2fsView(v->image, &blockSize, &blockInUse);
    const std::vector<bool> truth = SectorsOfBlocks(blockInUse, blockSize / 512, v->sectors);
    const std::uint64_t volume = static_cast<std::uint64_t>(kPartitionStart) * 512;
    const std::uint64_t table = volume + (blockSize == 1024 ? 2 : 1) * static_cast<std::uint64_t>(blockSize);
    const std::vector<ByteRegion> regions{{volume + 1024, 400}, {table, 512}};
    RunByteMutations(v->disk.get(), kExtHandler, kPartitionStart, v->sectors, regions, truth, 200,
                     static_cast<std::uint32_t>(k));
  }
}

TEST_F(ExtPeer, RunningOutOfMemoryOnARealVolumeGivesNomemAndLeaksNothing) {
  ExtVolume* v = volumes_[3];
  RunAllocationFailures(kExtHandler, v->disk->Open(), kPartitionStart, v->sectors);
}

}  // namespace
}  // namespace qvt::test
