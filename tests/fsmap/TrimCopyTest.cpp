// Trimmed standalone copies of real guest disks: a volume made and filled by
// the filesystem's own tools (some files then deleted, their data left in
// the free space), its map built by the readers, and the disk copied to a
// new VMDK with that map. The copy's volume must pass the filesystem's
// checker, give back every file, and hold exactly the grains that carry a
// non-zero sector the map calls in use.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "FatPeerKit.h"
#include "FsPropertyKit.h"
#include "FsmapTestKit.h"
#include "ImageOpen.h"
#include "ReaderProbeKit.h"
#include "VmdkCopy.h"
#include "VmdkImage.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kVolumeStart = 2048;
constexpr std::uint32_t kGrainSectors = 128;

enum FsKind { EXT4, FAT32 };

struct TrimCase {
  const char* name;
  FsKind fs;
  std::uint32_t mebibytes;
  // The guest disk as qemu-img converts it from the raw disk. Not a raw
  // disk, which has no emptiness query, nor a stream-optimized one, whose
  // compressed grains count as data: copies of those carry every grain.
  const char* subformat;
};
void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.name; }

const TrimCase kCases[] = {
    {"ext4_in_monolithic_sparse", EXT4, 48, "monolithicSparse"},
    {"fat32_in_split_sparse", FAT32, 40, "twoGbMaxExtentSparse"},
};

std::string Path(const TempFolder& dir, const std::string& name) {
  return (dir.Native() / name).string();
}

// mke2fs fills the volume from a tree; every fourth file is then removed.
std::string MakeExt4(const TempFolder& dir, const TrimCase& c, const std::string& volume) {
  const std::string src = Path(dir, std::string(c.name) + "-src");
  std::filesystem::create_directories(src);
  const std::vector<std::string> paths = FillTree(src, 7, 150, 300000);
  std::string out;
  if (Shell("truncate -s " + std::to_string(c.mebibytes) + "M " + ShellQuote(volume)) != 0 ||
      Shell("mke2fs -q -F -t ext4 -b 4096 -E root_owner=0:0 -d " + ShellQuote(src) + " " +
                ShellQuote(volume) + " 2>&1",
            &out) != 0) {
    return "mke2fs: " + out;
  }
  std::ostringstream removals;
  for (std::size_t i = 0; i < paths.size(); i += 4) removals << "rm /" << paths[i] << "\n";
  const std::string script = volume + ".rm";
  std::ofstream(script) << removals.str();
  const std::string remove = "debugfs -w -f " + ShellQuote(script) + " " + ShellQuote(volume);
  if (Shell(remove + " 2>&1", &out) != 0) {
    return "debugfs: " + out;
  }
  return std::string();
}

std::string MakeVolume(const TempFolder& dir, const TrimCase& c, const std::string& volume) {
  if (c.fs == EXT4) return MakeExt4(dir, c, volume);
  const FatVolumeCase fat{c.name, 32, 1, c.mebibytes * 1024, false};
  return MakeFatVolume(fat, Path(dir, std::string(c.name) + "-scratch"), volume);
}

bool HaveTools(const TrimCase& c) {
  if (!HaveTool("qemu-img")) return false;
  if (c.fs == EXT4) return HaveTool("mke2fs") && HaveTool("debugfs") && HaveTool("e2fsck");
  return HaveFatPeers();
}

// The checker, read-only; its status (0: clean).
int Check(const TrimCase& c, const std::string& volume, std::string* out) {
  if (c.fs == EXT4) return Shell("e2fsck -fn " + ShellQuote(volume) + " 2>&1", out);
  return Shell("fsck.fat -n " + ShellQuote(volume) + " 2>&1", out);
}

// Every file of the volume into `folder`; "" on success.
std::string Extract(const TrimCase& c, const std::string& volume, const std::string& folder) {
  if (c.fs == FAT32) return ExtractFatFiles(volume, folder);
  std::filesystem::create_directories(folder);
  std::string out;
  if (Shell("debugfs -R " + ShellQuote("rdump / " + folder) + " " + ShellQuote(volume) + " 2>&1",
            &out) != 0) {
    return out;
  }
  return std::string();
}

// Sectors [first, first + count) of an engine image into a native file.
DiskResult SaveRange(ImageHandle* image, std::uint32_t first, std::uint32_t count,
                     const std::string& native) {
  std::ofstream out(native, std::ios::binary | std::ios::trunc);
  constexpr std::uint32_t kChunk = 2048;
  std::vector<char> buffer(kChunk * 512);
  for (std::uint32_t done = 0; done < count; done += kChunk) {
    const std::uint32_t n = std::min(kChunk, count - done);
    const DiskResult r =
        ImageRead(image, std::uint64_t{first + done} * 512, n * 512, buffer.data());
    if (r != DISK_OK) return r;
    out.write(buffer.data(), static_cast<std::streamsize>(n) * 512);
  }
  return out ? DISK_OK : DISK_E_WRITE;
}

// Grains of the disk holding a non-zero sector that the map marks in use,
// and the sectors marked in use.
void CountInUse(const std::string& rawNative, const AllocationMap* map, std::uint32_t sectors,
                std::uint64_t* grains, std::uint64_t* usedSectors) {
  const std::vector<std::uint8_t> raw = ReadBytes(rawNative);
  ASSERT_EQ(raw.size(), std::size_t{sectors} * 512);
  const std::vector<bool> used = MapBits(map, 0, sectors);
  *grains = 0;
  *usedSectors = 0;
  for (std::uint32_t g = 0; g * kGrainSectors < sectors; ++g) {
    bool holds = false;
    for (std::uint32_t s = g * kGrainSectors; s < std::min(sectors, (g + 1) * kGrainSectors); ++s) {
      if (!used[s]) continue;
      ++*usedSectors;
      const std::uint8_t* p = raw.data() + std::size_t{s} * 512;
      holds = holds || std::any_of(p, p + 512, [](std::uint8_t b) { return b != 0; });
    }
    if (holds) ++*grains;
  }
}

std::uint64_t OwnGrainsOf(const std::string& enginePath) {
  VmdkImage* image = nullptr;
  EXPECT_EQ(VmdkImageOpen(&image, enginePath.c_str(), true, VMDK_PARENT_NONE, nullptr, nullptr),
            DISK_OK);
  std::uint64_t grains = 0;
  if (image != nullptr) {
    EXPECT_EQ(VmdkImageCountGrains(image, &grains), DISK_OK);
  }
  VmdkImageClose(image);
  return grains;
}

// The layout the independent copy asks for: derived from the source.
VmdkLayout DerivedLayout() {
  VmdkLayout layout{};
  layout.mode = kVmdkLayoutDerived;
  layout.adapter = kVmdkAdapterLsiLogic;
  layout.hwVersionIndex = 7;
  layout.encoding = kVmdkEncodingNone;
  return layout;
}

class TrimCopy : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimCopy, CopyPassesTheCheckerGivesBackEveryFileAndHoldsOnlyInUseGrains) {
  const TrimCase& c = GetParam();
  if (!HaveTools(c)) GTEST_SKIP() << "the tools for " << c.name << " are not on this machine";
  TempFolder dir;
  const std::string volume = Path(dir, "made.vol");
  const std::string log = MakeVolume(dir, c, volume);
  ASSERT_TRUE(log.empty()) << log;
  const std::uint32_t volumeSectors = c.mebibytes * 2048;
  RawDisk disk(dir, L"disk", kVolumeStart + volumeSectors + 2048);
  disk.PutEntry(0, 0, c.fs == EXT4 ? 0x83 : 0x0C, kVolumeStart, volumeSectors);
  PlaceVolume(&disk, kVolumeStart, volume);
  disk.Close();

  ASSERT_EQ(Shell("qemu-img convert -O vmdk -o subformat=" + std::string(c.subformat) + " " +
                  ShellQuote(disk.NativePath()) + " " + ShellQuote(Path(dir, "guest.vmdk"))),
            0);
  ImageHandle source = NoImage();
  ASSERT_EQ(ImageOpen(&source, dir.Engine(L"guest.vmdk").c_str(), true, 0, nullptr, nullptr),
            DISK_OK);
  AllocationMap* map = nullptr;
  ASSERT_EQ(BuildAllocationMap(&source, &map), DISK_OK);

  const VmdkLayout layout = DerivedLayout();
  const std::string copy = dir.Engine(L"copy.vmdk");
  const std::string whole = dir.Engine(L"whole.vmdk");
  EXPECT_EQ(VmdkCopyImage(copy.c_str(), &source, map, nullptr, nullptr, layout), DISK_OK);
  EXPECT_EQ(VmdkCopyImage(whole.c_str(), &source, nullptr, nullptr, nullptr, layout), DISK_OK);

  std::uint64_t wantGrains = 0;
  std::uint64_t usedSectors = 0;
  CountInUse(disk.NativePath(), map, disk.Sectors(), &wantGrains, &usedSectors);
  FreeAllocationMap(map);
  ImageClose(&source);

  const std::uint64_t grains = OwnGrainsOf(copy);
  EXPECT_EQ(grains, wantGrains);
  EXPECT_LT(grains, OwnGrainsOf(whole)) << "the deleted files' data was not trimmed";
  const auto copyBytes = std::filesystem::file_size(dir.Native(L"copy.vmdk"));
  RecordProperty("copy_bytes", std::to_string(copyBytes));
  RecordProperty("in_use_bytes", std::to_string(usedSectors * 512));
  std::cout << c.name << ": copy " << copyBytes << " bytes, " << grains << " grains; "
            << usedSectors * 512 << " bytes in use; untrimmed "
            << std::filesystem::file_size(dir.Native(L"whole.vmdk")) << " bytes\n";

  ImageHandle copied = NoImage();
  ASSERT_EQ(ImageOpen(&copied, copy.c_str(), true, 0, nullptr, nullptr), DISK_OK);
  const std::string copiedVolume = Path(dir, "copy.vol");
  EXPECT_EQ(SaveRange(&copied, kVolumeStart, volumeSectors, copiedVolume), DISK_OK);
  ImageClose(&copied);
  std::string out;
  EXPECT_EQ(Check(c, copiedVolume, &out), 0) << out;
  const std::string madeFiles = Path(dir, "made-files");
  const std::string copyFiles = Path(dir, "copy-files");
  ASSERT_EQ(Extract(c, volume, madeFiles), "");
  ASSERT_EQ(Extract(c, copiedVolume, copyFiles), "");
  EXPECT_EQ(Shell("diff -r " + ShellQuote(madeFiles) + " " + ShellQuote(copyFiles) + " 2>&1", &out),
            0)
      << out;
}

INSTANTIATE_TEST_SUITE_P(Volumes, TrimCopy, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TrimCase>& i) {
                           return std::string(i.param.name);
                         });

}  // namespace
}  // namespace qvt::test
