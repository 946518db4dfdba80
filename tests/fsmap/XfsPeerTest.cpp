// The XFS reader on volumes made by mkfs.xfs (version 4: -m crc=0 -n
// ftype=0, filled from a proto file), placed in an MBR partition: the map
// must free exactly the extents of the by-block-number trees (xfs_db
// freesp, less the free-list blocks it counts too), and a copy that keeps
// only what the map calls in use must pass xfs_repair and give back every
// file, read through xfs_db's block maps (this kernel no longer mounts
// version 4). A default (version 5) volume must stay wholly in use.
// Version 4 cannot be mounted here, so files cannot be removed after
// mkfs; the two-level and damaged trees are covered by XfsLaidTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "FsmapTestKit.h"
#include "ImageOpen.h"
#include "ReaderProbeKit.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kPartitionStart = 2048;
constexpr std::uint32_t kMebibytes = 300;  // mkfs.xfs's smallest

struct XfsCase {
  const char* name;
  const char* makeOptions;
  std::uint32_t files;
  std::uint32_t maxFileBytes;
  bool readable;  // the reader's format
};

const XfsCase kCases[] = {
    {"v4-4k", "-m crc=0 -n ftype=0", 150, 400000, true},
    {"v4-512", "-m crc=0 -n ftype=0 -b size=512", 120, 100000, true},
    {"v4-1k-filled", "-m crc=0 -n ftype=0 -b size=1024 -d agcount=2", 90, 3000000, true},
    {"v5-default", "", 40, 100000, false},
};

struct XfsVolume {
  const XfsCase* recipe;
  std::string image;
  std::string files;
  std::vector<std::string> paths;
  std::uint32_t sectors;
  std::unique_ptr<RawDisk> disk;
};

std::string Path(const TempFolder& dir, const std::string& name) { return (dir.Native() / name).string(); }

// A proto file that copies the tree `src` in (folders, then files, each
// closed by "$").
void WriteProto(const std::string& src, const std::string& proto) {
  std::ostringstream out;
  out << "boot\n0 0\nd--755 0 0\n";
  std::function<void(const std::filesystem::path&)> walk = [&](const std::filesystem::path& dir) {
    std::vector<std::filesystem::directory_entry> entries(std::filesystem::directory_iterator(dir), {});
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) {
      if (e.is_directory()) {
        out << e.path().filename().string() << " d--755 0 0\n";
        walk(e.path());
        out << "$\n";
      } else {
        out << e.path().filename().string() << " ---644 0 0 " << e.path().string() << "\n";
      }
    }
  };
  walk(src);
  out << "$\n";
  std::ofstream(proto) << out.str();
}

void MakeVolume(const TempFolder& dir, const XfsCase& c, XfsVolume* v) {
  const std::string src = Path(dir, std::string(c.name) + "-src");
  v->image = Path(dir, std::string(c.name) + ".vol");
  v->files = src;
  std::filesystem::create_directories(src);
  v->paths = FillTree(src, c.files, c.files, c.maxFileBytes);
  WriteProto(src, v->image + ".proto");
  std::string out;
  ASSERT_EQ(Shell("truncate -s " + std::to_string(kMebibytes) + "M " + ShellQuote(v->image)), 0);
  ASSERT_EQ(Shell("mkfs.xfs -q -f " + std::string(c.makeOptions) + " -p " + ShellQuote(v->image + ".proto") + " " +
                      ShellQuote(v->image) + " 2>&1",
                  &out),
            0)
      << out;
  v->sectors = kMebibytes * 2048;
}

class XfsPeer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveTool("mkfs.xfs") || !HaveTool("xfs_db") || !HaveTool("xfs_repair")) return;
    dir_ = new TempFolder();
    for (const XfsCase& c : kCases) {
      auto* v = new XfsVolume{&c, "", "", {}, 0, nullptr};
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
    for (XfsVolume* v : volumes_) delete v;
    volumes_.clear();
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "xfsprogs (mkfs.xfs, xfs_db, xfs_repair) not on this machine";
  }
  static TempFolder* dir_;
  static std::vector<XfsVolume*> volumes_;
};

TempFolder* XfsPeer::dir_ = nullptr;
std::vector<XfsVolume*> XfsPeer::volumes_;

struct XfsFacts {
  std::uint32_t blockSize = 0, agBlocks = 0, agCount = 0;
};

XfsFacts FactsOf(const std::string& image) {
  std::string out;
  EXPECT_EQ(Shell("xfs_db -r -c 'sb 0' -c 'print agcount agblocks blocksize' " + ShellQuote(image), &out), 0);
  XfsFacts f;
  std::istringstream lines(out);
  std::string name, eq;
  std::uint64_t value = 0;
  while (lines >> name >> eq >> value) {
    if (name == "agcount") f.agCount = static_cast<std::uint32_t>(value);
    if (name == "agblocks") f.agBlocks = static_cast<std::uint32_t>(value);
    if (name == "blocksize") f.blockSize = static_cast<std::uint32_t>(value);
  }
  return f;
}

// Per block: in use unless xfs_db's freesp lists it. `freeList` gets the
// free-list blocks, which freesp counts as free and the trees do not.
std::vector<bool> FreespView(const std::string& image, const XfsFacts& f, std::vector<bool>* freeList) {
  std::string out;
  EXPECT_EQ(Shell("xfs_db -r -c 'freesp -d' " + ShellQuote(image), &out), 0);
  const std::uint64_t blocks = static_cast<std::uint64_t>(f.agBlocks) * f.agCount;
  std::vector<bool> inUse(blocks, true);
  freeList->assign(blocks, false);
  std::istringstream lines(out);
  std::string line;
  // The extents come first, then a histogram headed "from to extents ...".
  while (std::getline(lines, line) && line.find("from") == std::string::npos) {
    std::istringstream fields(line);
    std::uint64_t ag = 0, start = 0, count = 0;
    if (!(fields >> ag >> start >> count)) continue;
    for (std::uint64_t k = 0; k < count; ++k) inUse.at(ag * f.agBlocks + start + k) = false;
  }
  for (std::uint32_t ag = 0; ag < f.agCount; ++ag) {
    EXPECT_EQ(Shell("xfs_db -r -c 'agfl " + std::to_string(ag) + "' -c 'print bno' " + ShellQuote(image), &out), 0);
    std::istringstream entries(out.substr(out.find('=') + 1));
    std::string entry;
    while (entries >> entry) {
      const std::string value = entry.substr(entry.find(':') + 1);
      if (value != "null") freeList->at(ag * f.agBlocks + std::stoull(value)) = true;
    }
  }
  return inUse;
}

TEST_F(XfsPeer, MapFreesExactlyTheTreesExtentsAndNeverAUsedSector) {
  for (XfsVolume* v : volumes_) {
    SCOPED_TRACE(v->recipe->name);
    AllocationMap* map = MapOf(v->disk.get());
    ASSERT_NE(map, nullptr);
    const AllocationSegment* segment = SegmentAt(map, kPartitionStart);
    ASSERT_NE(segment, nullptr);
    const std::int32_t kind = segment->kind;
    const std::vector<bool> bits = MapBits(map, kPartitionStart, v->sectors);
    FreeAllocationMap(map);
    if (!v->recipe->readable) {
      EXPECT_EQ(kind, kSegmentUnrecognised);
      EXPECT_EQ(std::count(bits.begin(), bits.end(), false), 0);
      continue;
    }
    EXPECT_EQ(kind, kFsXfs);
    const XfsFacts f = FactsOf(v->image);
    std::vector<bool> freeList;
    std::vector<bool> blockInUse = FreespView(v->image, f, &freeList);
    const std::vector<bool> freespTruth = SectorsOfBlocks(blockInUse, f.blockSize / 512, v->sectors);
    EXPECT_TRUE(UsedButFree(freespTruth, bits).empty());
    for (std::size_t b = 0; b < blockInUse.size(); ++b) blockInUse[b] = blockInUse[b] || freeList[b];
    EXPECT_EQ(bits, SectorsOfBlocks(blockInUse, f.blockSize / 512, v->sectors));
    EXPECT_NE(std::count(bits.begin(), bits.end(), false), 0);
  }
}

// Every file of `paths` read from `volume` through its block map, with one
// xfs_db run: each file's "core.size" line opens its extents.
std::vector<std::vector<std::uint8_t>> ReadThroughBmaps(const std::string& volume, const XfsFacts& f,
                                                        const std::vector<std::string>& paths) {
  const std::string commands = volume + ".cmds";
  {
    std::ofstream out(commands);
    for (const std::string& path : paths) out << "path /" << path << "\nprint core.size\nbmap\n";
  }
  std::string out;
  EXPECT_EQ(Shell("xfs_db -r -c " + ShellQuote("source " + commands) + " " + ShellQuote(volume), &out), 0) << out;
  std::vector<std::vector<std::uint8_t>> files;
  std::ifstream in(volume, std::ios::binary);
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned long long size = 0, offset = 0, start = 0, ag = 0, agBlock = 0, count = 0;
    int flag = 0;
    if (std::sscanf(line.c_str(), "core.size = %llu", &size) == 1) {
      files.emplace_back(size, 0);
      continue;
    }
    if (files.empty() || std::sscanf(line.c_str(), "data offset %llu startblock %llu (%llu/%llu) count %llu flag %d",
                                     &offset, &start, &ag, &agBlock, &count, &flag) != 6) {
      continue;
    }
    if (flag != 0) continue;  // unwritten: reads as zeros
    std::vector<std::uint8_t>& bytes = files.back();
    std::vector<char> chunk(count * f.blockSize);
    in.seekg(static_cast<std::streamoff>((ag * f.agBlocks + agBlock) * f.blockSize));
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    for (std::size_t k = 0; k < chunk.size() && offset * f.blockSize + k < bytes.size(); ++k) {
      bytes[offset * f.blockSize + k] = static_cast<std::uint8_t>(chunk[k]);
    }
  }
  return files;
}

TEST_F(XfsPeer, TrimmedCopyPassesXfsRepairAndGivesBackEveryFile) {
  for (XfsVolume* v : volumes_) {
    if (!v->recipe->readable) continue;
    SCOPED_TRACE(v->recipe->name);
    AllocationMap* map = MapOf(v->disk.get());
    ASSERT_NE(map, nullptr);
    const std::string trimmed = Path(*dir_, std::string(v->recipe->name) + "-trimmed.img");
    const std::string volume = trimmed + ".vol";
    EXPECT_GT(WriteTrimmedCopy(v->disk.get(), map, trimmed), 0u);
    FreeAllocationMap(map);
    ExtractVolume(trimmed, kPartitionStart, v->sectors, volume);
    std::filesystem::remove(trimmed);
    std::string out;
    EXPECT_EQ(Shell("xfs_repair -n -f " + ShellQuote(volume) + " 2>&1", &out), 0) << out;
    const std::vector<std::vector<std::uint8_t>> back = ReadThroughBmaps(volume, FactsOf(volume), v->paths);
    ASSERT_EQ(back.size(), v->paths.size());
    for (std::size_t k = 0; k < back.size(); ++k) {
      ASSERT_EQ(back[k], ReadBytes(v->files + "/" + v->paths[k])) << v->paths[k];
    }
    std::filesystem::remove(volume);
  }
}

TEST_F(XfsPeer, AVmdkOfTheDiskGivesTheSameMap) {
  if (!HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img not on this machine";
  XfsVolume* v = volumes_[0];
  const std::string vmdk = Path(*dir_, "xfs.vmdk");
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
  EXPECT_EQ(SegmentAt(map, kPartitionStart)->kind, kFsXfs);
  EXPECT_EQ(MapBits(map, 0, v->disk->Sectors()), want);
  FreeAllocationMap(map);
  ImageClose(&image);
}

TEST_F(XfsPeer, DamageToRealHeadersNeverFreesAUsedSector) {
  XfsVolume* v = volumes_[1];
  const XfsFacts f = FactsOf(v->image);
  std::vector<bool> freeList;
  const std::vector<bool> truth = SectorsOfBlocks(FreespView(v->image, f, &freeList), f.blockSize / 512, v->sectors);
  const std::uint64_t volume = static_cast<std::uint64_t>(kPartitionStart) * 512;
  std::vector<ByteRegion> regions{{volume, 204}};
  for (std::uint32_t ag = 0; ag < f.agCount; ++ag) {
    const std::uint64_t at = volume + static_cast<std::uint64_t>(ag) * f.agBlocks * f.blockSize;
    regions.push_back({at + 512, 64});                 // AGF
    regions.push_back({at + 4ull * f.blockSize, 64});  // where mkfs puts the first tree blocks
  }
  RunByteMutations(v->disk.get(), kXfsHandler, kPartitionStart, v->sectors, regions, truth, 150, 5);
}

TEST_F(XfsPeer, RunningOutOfMemoryOnARealVolumeGivesNomemAndLeaksNothing) {
  RunAllocationFailures(kXfsHandler, volumes_[0]->disk->Open(), kPartitionStart, volumes_[0]->sectors);
}

}  // namespace
}  // namespace qvt::test
