// Volume discovery on partition tables written by sfdisk and sgdisk, checked
// against what the same tools report of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FsmapTestKit.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kDiskSectors = 262144;  // 128 MiB

bool IsExtendedType(std::uint8_t t) { return t == 0x05 || t == 0x0F || t == 0x85; }

// The partitions `sfdisk --dump` lists, without the extended containers
// (discovery walks them but does not keep them). GPT types read as 0.
std::vector<FoundVolume> SfdiskVolumes(const std::string& dump, bool gpt) {
  std::vector<FoundVolume> volumes;
  static const std::regex line(R"(start=\s*(\d+),\s*size=\s*(\d+),\s*type=([0-9A-Fa-f-]+))");
  std::istringstream in(dump);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    const auto type = static_cast<std::uint8_t>(gpt ? 0 : std::stoul(m[3].str(), nullptr, 16));
    if (IsExtendedType(type)) continue;
    volumes.push_back({static_cast<std::uint32_t>(std::stoul(m[1].str())),
                       static_cast<std::uint32_t>(std::stoul(m[2].str())), type});
  }
  return volumes;
}

// The partitions `sgdisk -p` lists: number, first sector, last sector, ...
std::vector<FoundVolume> SgdiskVolumes(const std::string& listing) {
  std::vector<FoundVolume> volumes;
  static const std::regex line(R"(^\s+\d+\s+(\d+)\s+(\d+)\s)");
  std::istringstream in(listing);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    const auto first = static_cast<std::uint32_t>(std::stoul(m[1].str()));
    const auto last = static_cast<std::uint32_t>(std::stoul(m[2].str()));
    volumes.push_back({first, last - first + 1, 0});
  }
  return volumes;
}

std::vector<FoundVolume> Sorted(std::vector<FoundVolume> v) {
  std::sort(v.begin(), v.end(), [](const FoundVolume& a, const FoundVolume& b) { return a.first < b.first; });
  return v;
}

class PeerTables : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("sfdisk") || !HaveTool("sgdisk")) GTEST_SKIP() << "sfdisk and sgdisk are not on this machine";
  }
  void Sfdisk(const std::string& script) {
    std::string log;
    ASSERT_EQ(Shell("printf '" + script + "' | sfdisk -q --no-reread --no-tell-kernel " +
                        ShellQuote(disk_.NativePath()), &log), 0) << log;
  }
  std::string Run(const std::string& command) {
    std::string out;
    EXPECT_EQ(Shell(command + " " + ShellQuote(disk_.NativePath()), &out), 0) << out;
    return out;
  }
  // Discovery finds what the peer lists, and the map cuts the disk at
  // exactly those volumes, with "no volume" between them.
  void ExpectFound(const std::vector<FoundVolume>& peer) {
    ASSERT_FALSE(peer.empty());
    ImageHandle* image = disk_.Open();
    ASSERT_NE(image, nullptr);
    std::vector<FoundVolume> found;
    ASSERT_EQ(Discover(image, &found), DISK_OK);
    EXPECT_EQ(Sorted(found), Sorted(peer));

    AllocationMap* map = nullptr;
    ASSERT_EQ(BuildAllocationMap(image, &map), DISK_OK);
    std::uint32_t next = 0;
    std::size_t volume = 0;
    const std::vector<FoundVolume> sorted = Sorted(peer);
    for (std::uint32_t i = 0; i < map->segmentCount; ++i) {
      const AllocationSegment& s = map->segments[i];
      EXPECT_EQ(s.firstSector, next) << "segment " << i;
      next = s.firstSector + s.sectorCount;
      if (volume < sorted.size() && s.firstSector == sorted[volume].first) {
        EXPECT_EQ(s.sectorCount, sorted[volume].count);
        EXPECT_EQ(s.kind, kSegmentUnrecognised);  // empty partitions hold no filesystem
        ++volume;
      } else {
        EXPECT_EQ(s.kind, kSegmentNoVolume) << "segment " << i;
      }
    }
    EXPECT_EQ(volume, sorted.size());
    EXPECT_EQ(next, kDiskSectors);
    FreeAllocationMap(map);
  }

  TempFolder dir_;
  RawDisk disk_{dir_, L"guest", kDiskSectors};
};

TEST_F(PeerTables, MbrLayoutsAreFoundAsSfdiskListsThem) {
  const struct {
    const char* what;
    const char* script;
  } layouts[] = {
      {"primaries with gaps", "label: dos\\nstart=2048, size=20480, type=83\\n"
                              "start=40960, size=8192, type=7\\nstart=65536, size=4096, type=c\\n"},
      {"logicals in an extended partition",
       "label: dos\\nstart=2048, size=8192, type=83\\nstart=16384, size=200000, type=5\\n"
       "start=18432, size=8192, type=83\\nstart=30720, size=4096, type=82\\n"
       "start=40960, size=100000, type=7\\n"},
      {"LBA extended partition last, logicals with gaps",
       "label: dos\\nstart=2048, size=4096, type=b\\nstart=8192, size=4096, type=e\\n"
       "start=16384, size=245760, type=f\\nstart=20480, size=2048, type=83\\n"
       "start=65536, size=2048, type=83\\nstart=200000, size=50000, type=6\\n"},
      {"a protective entry that is not the first", "label: dos\\nstart=2048, size=8192, type=83\\n"
                                                   "start=16384, size=8192, type=ee\\n"},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.what);
    ASSERT_NO_FATAL_FAILURE(Sfdisk(layout.script));
    ExpectFound(SfdiskVolumes(Run("sfdisk --dump"), false));
  }
}

TEST_F(PeerTables, GptLayoutsAreFoundAsSfdiskAndSgdiskListThem) {
  ASSERT_NO_FATAL_FAILURE(Sfdisk("label: gpt\\nstart=2048, size=20480\\nstart=40960, size=8192\\n"
                                 "start=100000, size=50000\\n"));
  std::vector<FoundVolume> peer = SfdiskVolumes(Run("sfdisk --dump"), true);
  EXPECT_EQ(peer, SgdiskVolumes(Run("sgdisk -p")));
  ExpectFound(peer);

  Run("sgdisk -Z");
  Run("sgdisk -n 1:2048:+4M -t 1:0700 -n 2:0:+8M -t 2:8300 -n 3:30000:+1M -n 4:0:0");
  ExpectFound(SgdiskVolumes(Run("sgdisk -p")));
}

TEST_F(PeerTables, AGptOfMoreThan256PartitionsKeepsTheFirst256AndTheRestInUse) {
  std::string command = "sgdisk -a 1 --resize-table=300";
  for (int i = 1; i <= 260; ++i) {
    command += " -n " + std::to_string(i) + ":" + std::to_string(4096 + i * 64) + ":+63";
  }
  Run(command);
  std::vector<FoundVolume> peer = SgdiskVolumes(Run("sgdisk -p"));
  ASSERT_EQ(peer.size(), 260u);
  ImageHandle* image = disk_.Open();
  ASSERT_NE(image, nullptr);
  std::vector<FoundVolume> found;
  ASSERT_EQ(Discover(image, &found), DISK_OK);
  peer.resize(256);
  EXPECT_EQ(found, peer);
  AllocationMap* map = nullptr;
  ASSERT_EQ(BuildAllocationMap(image, &map), DISK_OK);
  const AllocationSegment& last = map->segments[map->segmentCount - 1];
  EXPECT_EQ(last.kind, kSegmentNoVolume);
  EXPECT_EQ(last.firstSector, peer.back().first + peer.back().count);
  FreeAllocationMap(map);
}

}  // namespace
}  // namespace qvt::test
