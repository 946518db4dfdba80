// The FAT reader on hand-laid volumes: the FAT type follows the cluster
// count (and a parameter block that disagrees with it is refused), the
// parameter block is validated, copies must agree, and whatever lies before
// the clusters, after them, or in a cluster with any entry but 0 is in use.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FatVolumeKit.h"
#include "FsHandlers.h"
#include "FsPropertyKit.h"

namespace qvt::test {
namespace {

// Used per data cluster (one sector each) of an answer.
std::vector<bool> Clusters(const ReaderAnswer& a, const PcFatLayout& l, std::uint32_t count) {
  const auto data = static_cast<std::uint32_t>(l.DataOffset() / 512);
  return std::vector<bool>(a.used.begin() + data, a.used.begin() + data + count);
}

struct TypeCase {
  const char* name;
  std::uint32_t clusters;
  int layoutBits;    // how the parameter block is laid (12/16: 16-bit FAT size; 32: 32-bit)
  int expectedBits;  // the type the reader must read, 0 = refused
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

class FatTypeByClusterCount : public ::testing::TestWithParam<TypeCase> {};

// The entry of cluster 1 is set as a `bits`-bit end of chain; read with any
// other entry width it lands on cluster 0 or 2 instead (or on both).
TEST_P(FatTypeByClusterCount, EntryWidthFollowsTheCount) {
  const TypeCase& c = GetParam();
  TempFolder dir;
  PcFatLayout l = LayoutWithClusters(c.clusters, c.layoutBits == 32 ? 32 : 16);
  RawDisk disk(dir, L"v", l.totalSectors + 8);
  PutBootSector(&disk, 0, l);
  const int bits = c.expectedBits == 0 ? c.layoutBits : c.expectedBits;
  PutFatEntry(&disk, 0, l, bits, 3, bits == 12 ? 0xFFF : bits == 16 ? 0xFFFF : 0x0FFFFFFF);
  const ReaderAnswer a = AskFatReader(&disk, 0, l.totalSectors, l.totalSectors);
  if (c.expectedBits == 0) {
    EXPECT_EQ(a.open, DISK_E_FS_UNKNOWN);
    return;
  }
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_EQ(Clusters(a, l, 4), (std::vector<bool>{false, true, false, false}));
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FatTypeByClusterCount,
    ::testing::Values(TypeCase{"Fat12At4084", 4084, 16, 12}, TypeCase{"Fat16At4085", 4085, 16, 16},
                      TypeCase{"Fat16At65524", 65524, 16, 16}, TypeCase{"Fat32At65525", 65525, 32, 32},
                      TypeCase{"Fat16FieldsWith65525Refused", 65525, 16, 0},
                      TypeCase{"Fat32FieldsWith65524Refused", 65524, 32, 0},
                      TypeCase{"Fat32FieldsWith4000Refused", 4000, 32, 0}),
    [](const ::testing::TestParamInfo<TypeCase>& i) { return std::string(i.param.name); });

struct BadBlockCase {
  const char* name;
  void (*change)(PcFatLayout*);
};

void PrintTo(const BadBlockCase& c, std::ostream* os) { *os << c.name; }

class FatParameterBlock : public ::testing::TestWithParam<BadBlockCase> {};

TEST_P(FatParameterBlock, InvalidFieldIsRefused) {
  TempFolder dir;
  PcFatLayout l = LayoutWithClusters(5000, 16);
  GetParam().change(&l);
  RawDisk disk(dir, L"v", 20000);
  PutBootSector(&disk, 0, l);
  EXPECT_EQ(AskFatReader(&disk, 0, 20000, 1).open, DISK_E_FS_UNKNOWN);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FatParameterBlock,
    ::testing::Values(
        BadBlockCase{"SectorSize256", [](PcFatLayout* l) { l->bytesPerSector = 256; }},
        BadBlockCase{"SectorSize8192", [](PcFatLayout* l) { l->bytesPerSector = 8192; }},
        BadBlockCase{"SectorSize1000", [](PcFatLayout* l) { l->bytesPerSector = 1000; }},
        BadBlockCase{"ClusterOf3Sectors", [](PcFatLayout* l) { l->sectorsPerCluster = 3; }},
        BadBlockCase{"NoSectorsPerCluster", [](PcFatLayout* l) { l->sectorsPerCluster = 0; }},
        BadBlockCase{"Cluster64KiB", [](PcFatLayout* l) { l->bytesPerSector = 1024, l->sectorsPerCluster = 64; }},
        BadBlockCase{"NoReservedSectors", [](PcFatLayout* l) { l->reservedSectors = 0; }},
        BadBlockCase{"NoFats", [](PcFatLayout* l) { l->fatCount = 0; }},
        BadBlockCase{"RootNotWholeSectors", [](PcFatLayout* l) { l->rootEntries = 17; }},
        BadBlockCase{"MediaF1", [](PcFatLayout* l) { l->media = 0xF1; }},
        BadBlockCase{"NoFatSectors", [](PcFatLayout* l) { l->fatSectors = 0; }},
        BadBlockCase{"NoTotal", [](PcFatLayout* l) { l->totalSectors = 0; }},
        BadBlockCase{"TotalBelowMetadata", [](PcFatLayout* l) { l->totalSectors = 30; }},
        BadBlockCase{"FatsPastTheVolume", [](PcFatLayout* l) { l->fatSectors = 60000; }}),
    [](const ::testing::TestParamInfo<BadBlockCase>& i) { return std::string(i.param.name); });

class FatEdges : public ::testing::Test {
 protected:
  TempFolder dir_;
};

TEST_F(FatEdges, Fat16WhoseCopiesDifferInOneByteStaysWhollyInUse) {
  PcFatLayout l = LayoutWithClusters(5000, 16);
  RawDisk disk(dir_, L"d", 2048 + l.totalSectors);
  disk.PutEntry(0, 0, 0x06, 2048, l.totalSectors);
  PutBootSector(&disk, 2048, l);
  PutFatEntry(&disk, 2048, l, 16, 0, 0xFFF8);
  PutFatEntry(&disk, 2048, l, 16, 4000, 0xFFFF, 1);
  EXPECT_EQ(AskFatReader(&disk, 2048, l.totalSectors, 1).open, DISK_E_FS_UNKNOWN);
  AllocationMap* map = MapOf(&disk);
  ASSERT_NE(map, nullptr);
  ASSERT_NE(SegmentAt(map, 2048), nullptr);
  EXPECT_EQ(SegmentAt(map, 2048)->kind, kSegmentUnrecognised);
  const std::vector<bool> bits = MapBits(map, 2048, l.totalSectors);
  EXPECT_EQ(std::count(bits.begin(), bits.end(), false), 0);
  FreeAllocationMap(map);
}

TEST_F(FatEdges, EverythingBeforeTheClustersIsInUseAndEmptyClustersAreFree) {
  PcFatLayout l = LayoutWithClusters(3000, 12);
  RawDisk disk(dir_, L"v", l.totalSectors);
  PutBootSector(&disk, 0, l);
  const ReaderAnswer a = AskFatReader(&disk, 0, l.totalSectors, l.totalSectors);
  ASSERT_EQ(a.open, DISK_OK);
  const auto data = static_cast<std::uint32_t>(l.DataOffset() / 512);
  ASSERT_EQ(data, 1 + 2 * l.fatSectors + 32);  // boot, two FATs, 512 root entries
  for (std::uint32_t s = 0; s < l.totalSectors; ++s) EXPECT_EQ(a.used[s], s < data) << "sector " << s;
}

TEST_F(FatEdges, BadAndEndOfChainClustersAreInUse) {
  PcFatLayout l = LayoutWithClusters(3000, 12);
  RawDisk disk(dir_, L"v", l.totalSectors);
  PutBootSector(&disk, 0, l);
  PutFatEntry(&disk, 0, l, 12, 2 + 10, 0xFF7);   // bad
  PutFatEntry(&disk, 0, l, 12, 2 + 21, 0x002 + 22);  // chain 21 -> 22
  PutFatEntry(&disk, 0, l, 12, 2 + 22, 0xFFF);   // end of chain
  const ReaderAnswer a = AskFatReader(&disk, 0, l.totalSectors, l.totalSectors);
  ASSERT_EQ(a.open, DISK_OK);
  const std::vector<bool> c = Clusters(a, l, 30);
  for (std::uint32_t i = 0; i < 30; ++i) EXPECT_EQ(c[i], i == 10 || i == 21 || i == 22) << "cluster " << i;
}

TEST_F(FatEdges, SectorsPastTheLastClusterAreInUse) {
  PcFatLayout l = LayoutWithClusters(5000, 16);
  l.sectorsPerCluster = 4;  // 1250 clusters of 4 sectors, and a partial one
  l.totalSectors += 2;
  RawDisk disk(dir_, L"v", l.totalSectors + 100);
  PutBootSector(&disk, 0, l);
  const std::uint32_t volume = l.totalSectors + 100;
  const ReaderAnswer a = AskFatReader(&disk, 0, volume, volume);
  ASSERT_EQ(a.open, DISK_OK);
  const auto end = static_cast<std::uint32_t>(l.DataOffset() / 512) + 1250 * 4;
  EXPECT_FALSE(a.used[end - 1]);
  for (std::uint32_t s = end; s < volume; ++s) EXPECT_TRUE(a.used[s]) << "sector " << s;
}

TEST_F(FatEdges, ClustersWhoseEntryTheFatDoesNotHoldAreInUse) {
  PcFatLayout l = LayoutWithClusters(5000, 16);
  l.fatSectors = 8;  // 2048 entries for 5000 clusters; the data start moves down
  l.totalSectors = static_cast<std::uint32_t>(l.DataOffset() / 512) + 5000;
  RawDisk disk(dir_, L"v", l.totalSectors);
  PutBootSector(&disk, 0, l);
  const ReaderAnswer a = AskFatReader(&disk, 0, l.totalSectors, l.totalSectors);
  ASSERT_EQ(a.open, DISK_OK);
  const std::vector<bool> c = Clusters(a, l, 5000);
  for (std::uint32_t i = 0; i < 5000; ++i) ASSERT_EQ(c[i], i >= 2046) << "cluster " << i;
}

TEST_F(FatEdges, Fat32EntriesIgnoreTheirTopFourBits) {
  PcFatLayout l = LayoutWithClusters(66000, 32);
  RawDisk disk(dir_, L"v", l.totalSectors);
  PutBootSector(&disk, 0, l);
  PutFatEntry(&disk, 0, l, 32, 2 + 5, 0xF0000000);
  PutFatEntry(&disk, 0, l, 32, 2 + 6, 0xF0000001);
  const ReaderAnswer a = AskFatReader(&disk, 0, l.totalSectors, l.totalSectors);
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_EQ(Clusters(a, l, 8), (std::vector<bool>{false, false, false, false, false, false, true, false}));
}

}  // namespace
}  // namespace qvt::test
