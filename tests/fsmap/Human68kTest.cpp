// Human68k volumes from the generator: the generator reads its own files
// back, and the FAT reader, given the whole disk, finds the volume from its
// boot record, reads its big-endian counts and FAT16 entries, and a trimmed
// copy still holds every file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FsHandlers.h"
#include "FsPropertyKit.h"
#include "Human68kVolume.h"

namespace qvt::test {
namespace {

std::vector<Human68kFile> SomeFiles(std::uint32_t bytesPerCluster) {
  std::vector<Human68kFile> files;
  const std::size_t sizes[] = {1, 1024, 5000, 0, bytesPerCluster * 7 + 3, 60000};
  for (std::size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
    Human68kFile f{"FILE" + std::to_string(i), std::vector<std::uint8_t>(sizes[i])};
    for (std::size_t k = 0; k < f.data.size(); ++k) f.data[k] = static_cast<std::uint8_t>(k * 7 + i * 31 + k / 251);
    files.push_back(f);
  }
  return files;
}

struct Human68kCase {
  const char* name;
  Human68kGeometry geometry;
};

// The X68000's 2HD floppy (1024-byte sectors, FAT12), and a FAT16 volume
// with 1024-byte sectors and two-sector clusters.
const Human68kCase kCases[] = {
    {"Floppy2hdFat12", {1024, 1, 2, 1, 192, 1232, 2, false, 40}},
    {"Fat16KiBSectors", {1024, 2, 2, 1, 512, 1 + 2 * 20 + 16 + 2 * 5000, 20, true, 300}},
};

void PrintTo(const Human68kCase& c, std::ostream* os) { *os << c.name; }

class Human68kVolumes : public ::testing::TestWithParam<Human68kCase> {
 protected:
  void SetUp() override {
    const Human68kGeometry& g = GetParam().geometry;
    ASSERT_TRUE(MakeHuman68kVolume(g, SomeFiles(g.bytesPerSector * g.sectorsPerCluster), &volume_));
    sectors_ = static_cast<std::uint32_t>(volume_.bytes.size() / 512);
    disk_ = std::make_unique<RawDisk>(dir_, L"x68k", sectors_);
    disk_->Put(0, volume_.bytes);
  }
  bool SectorUsedByGenerator(std::uint32_t s) const {
    const std::uint64_t at = static_cast<std::uint64_t>(s) * 512;
    if (at < volume_.dataOffset) return true;
    const std::uint64_t c = (at - volume_.dataOffset) / volume_.bytesPerCluster;
    return c >= volume_.clusterUsed.size() || volume_.clusterUsed[c];
  }
  TempFolder dir_;
  Human68kVolume volume_;
  std::uint32_t sectors_ = 0;
  std::unique_ptr<RawDisk> disk_;
};

TEST_P(Human68kVolumes, GeneratorReadsBackWhatItWrote) {
  const Human68kGeometry& g = GetParam().geometry;
  for (const Human68kFile& f : SomeFiles(g.bytesPerSector * g.sectorsPerCluster)) {
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(ReadHuman68kFile(volume_.bytes, g, f.name, &data)) << f.name;
    EXPECT_EQ(data, f.data) << f.name;
  }
  const std::size_t fat = g.reservedSectors * g.bytesPerSector, bytes = g.fatSectors * g.bytesPerSector;
  EXPECT_EQ(std::memcmp(&volume_.bytes[fat], &volume_.bytes[fat + bytes], bytes), 0);
  EXPECT_TRUE(volume_.clusterUsed[g.badCluster]);
}

TEST_P(Human68kVolumes, MapFollowsTheGeneratorsClusters) {
  AllocationMap* map = MapOf(disk_.get());
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(map->segmentCount, 1u);
  EXPECT_EQ(map->segments[0].kind, kFsFat);
  const std::vector<bool> bits = MapBits(map, 0, sectors_);
  FreeAllocationMap(map);
  std::uint32_t freeSectors = 0;
  for (std::uint32_t s = 0; s < sectors_; ++s) {
    ASSERT_EQ(bits[s], SectorUsedByGenerator(s)) << "sector " << s;
    freeSectors += bits[s] ? 0 : 1;
  }
  EXPECT_GT(freeSectors, sectors_ / 2);
}

TEST_P(Human68kVolumes, TrimmedCopyKeepsEveryFile) {
  const Human68kGeometry& g = GetParam().geometry;
  // Free clusters hold bytes the copy must be free to drop.
  for (std::uint32_t s = 0; s < sectors_; ++s) {
    if (!SectorUsedByGenerator(s)) disk_->PutByte(s * 512ull + 100, 0xA5);
  }
  AllocationMap* map = MapOf(disk_.get());
  ASSERT_NE(map, nullptr);
  const std::string out = dir_.Native(L"trimmed.img").string();
  EXPECT_GT(WriteTrimmedCopy(disk_.get(), map, out), 0u);
  FreeAllocationMap(map);
  std::ifstream in(out, std::ios::binary);
  const std::vector<std::uint8_t> trimmed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(trimmed.size(), volume_.bytes.size());
  for (const Human68kFile& f : SomeFiles(g.bytesPerSector * g.sectorsPerCluster)) {
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(ReadHuman68kFile(trimmed, g, f.name, &data)) << f.name;
    EXPECT_EQ(data, f.data) << f.name;
  }
  EXPECT_EQ(std::memcmp(trimmed.data(), volume_.bytes.data(), volume_.dataOffset), 0);
}

TEST_P(Human68kVolumes, HudsonSoftIdentificationIsReadAlike) {
  disk_->Put(2, std::vector<std::uint8_t>{'H', 'u', 'd', 's', 'o', 'n', ' ', 's', 'o', 'f', 't', ' '});
  AllocationMap* map = MapOf(disk_.get());
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->segments[0].kind, kFsFat);
  FreeAllocationMap(map);
  disk_->Close();  // Windows refuses a write to a file the image holds open
  disk_->Put(2, std::vector<std::uint8_t>{'S', 'H', 'A', 'R', 'P', '/', 'K', 'G', ' ', ' ', ' ', '!'});
  map = MapOf(disk_.get());
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->segments[0].kind, kSegmentUnrecognised);
  FreeAllocationMap(map);
}

INSTANTIATE_TEST_SUITE_P(Generated, Human68kVolumes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Human68kCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qvt::test
