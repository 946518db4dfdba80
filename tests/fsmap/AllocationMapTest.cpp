// The map's segments and its answers: one bit per sector, across segment
// boundaries, never past the caller's bytes, and "in use" wherever nothing
// is known.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "ClusterBitmap.h"
#include "FsHandlers.h"
#include "FsmapTestKit.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kSectors = 4096;

std::string Bits(const std::vector<std::uint8_t>& bytes, std::uint32_t first, std::uint32_t count) {
  std::string text;
  for (std::uint32_t i = first; i < first + count; ++i) text += ((bytes[i / 8] >> (i % 8)) & 1) ? '1' : '0';
  return text;
}

struct Segment {
  std::uint32_t first, count;
  std::int32_t kind;
  bool operator==(const Segment& o) const { return first == o.first && count == o.count && kind == o.kind; }
};

std::vector<Segment> Segments(const AllocationMap& map) {
  std::vector<Segment> out;
  for (std::uint32_t i = 0; i < map.segmentCount; ++i) {
    out.push_back({map.segments[i].firstSector, map.segments[i].sectorCount, map.segments[i].kind});
  }
  return out;
}

class MapOfDisk : public ::testing::Test {
 protected:
  AllocationMap* Build() {
    ImageHandle* image = disk_.Open();
    EXPECT_NE(image, nullptr);
    AllocationMap* map = nullptr;
    EXPECT_EQ(BuildAllocationMap(image, &map), DISK_OK);
    maps_.push_back(map);
    return map;
  }
  void TearDown() override {
    for (AllocationMap* m : maps_) FreeAllocationMap(m);
  }
  TempFolder dir_;
  RawDisk disk_{dir_, L"d", kSectors};
  std::vector<AllocationMap*> maps_;
};

TEST_F(MapOfDisk, VolumesAreSortedAndTheSpaceAroundThemIsNoVolume) {
  disk_.PutEntry(0, 0, 0x07, 400, 100);  // listed first, lies last
  disk_.PutEntry(0, 2, 0x83, 100, 200);
  const AllocationMap* map = Build();
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->sectorSize, 512u);
  const std::vector<Segment> expected = {{0, 100, -2}, {100, 200, -1}, {300, 100, -2},
                                         {400, 100, -1}, {500, kSectors - 500, -2}};
  EXPECT_EQ(Segments(*map), expected);
}

TEST_F(MapOfDisk, WithoutABootSignatureTheWholeDiskIsOneVolume) {
  const AllocationMap* map = Build();
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(Segments(*map), (std::vector<Segment>{{0, kSectors, -1}}));
}

TEST_F(MapOfDisk, AnMbrOfEmptyEntriesIsOneSegmentOfNoVolume) {
  disk_.Put(510, {0x55, 0xAA});
  const AllocationMap* map = Build();
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(Segments(*map), (std::vector<Segment>{{0, kSectors, -2}}));
}

TEST_F(MapOfDisk, ALogicalSitsAfterItsOwnRecordAndTheNextRecordAfterTheExtendedStart) {
  disk_.PutEntry(0, 3, 0x05, 1000, 2000);
  disk_.PutEntry(1000, 0, 0x83, 50, 100);  // 1050
  disk_.PutEntry(1000, 1, 0x05, 500, 600);  // next record at 1500
  disk_.PutEntry(1500, 0, 0x07, 20, 30);    // 1520
  const AllocationMap* map = Build();
  ASSERT_NE(map, nullptr);
  const std::vector<Segment> expected = {{0, 1050, -2}, {1050, 100, -1}, {1150, 370, -2},
                                         {1520, 30, -1}, {1550, kSectors - 1550, -2}};
  EXPECT_EQ(Segments(*map), expected);
}

TEST_F(MapOfDisk, BitsAcrossSegmentsFillExactlyTheCallersBytes) {
  disk_.PutEntry(0, 0, 0x83, 100, 200);
  const AllocationMap* map = Build();
  ASSERT_NE(map, nullptr);
  for (std::uint32_t count : {1u, 7u, 8u, 9u, 250u, kSectors - 37}) {
    // Exactly ceil(count / 8) bytes: a write past them is an ASan error.
    std::vector<std::uint8_t> bits((count + 7) / 8, 0);
    ASSERT_EQ(AllocationMapGetBits(map, 37, count, bits.data()), DISK_OK) << count;
    EXPECT_EQ(Bits(bits, 0, count), std::string(count, '1')) << count;
  }
}

TEST_F(MapOfDisk, RangesPastTheDiskAreRefused) {
  const AllocationMap* map = Build();
  ASSERT_NE(map, nullptr);
  std::vector<std::uint8_t> bits(64, 0);
  EXPECT_EQ(AllocationMapGetBits(map, kSectors - 8, 8, bits.data()), DISK_OK);
  EXPECT_EQ(AllocationMapGetBits(map, kSectors - 8, 9, bits.data()), DISK_E_LIMIT);
  EXPECT_EQ(AllocationMapGetBits(map, kSectors, 1, bits.data()), DISK_E_LIMIT);
  EXPECT_EQ(AllocationMapGetBits(map, 0xFFFFFFFFu, 1, bits.data()), DISK_E_LIMIT);
  EXPECT_EQ(AllocationMapGetBits(map, 5, 0, bits.data()), DISK_OK);
}

TEST(AllocationMapAnswers, NoMapMeansEverySectorInUse) {
  std::vector<std::uint8_t> bits(3, 0);
  EXPECT_EQ(FsmapGetBits(nullptr, 100, 20, bits.data()), DISK_OK);
  EXPECT_EQ(Bits(bits, 0, 20), std::string(20, '1'));
  FreeAllocationMap(nullptr);
}

// A volume of 12 units of 8 sectors whose bitmap marks units 1, 3 and 8.
class UnitBitmap : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = NewClusterBitmap(2048, 8, 12, 2);
    ASSERT_NE(state_, nullptr);
    state_->bits[0] = 0x0A;
    state_->bits[1] = 0x01;
  }
  void TearDown() override { FreeClusterBitmap(state_); }
  ClusterBitmap* state_ = nullptr;
};

TEST_F(UnitBitmap, EachSectorTakesItsUnitsBitAndUnitsPastTheCountAreInUse) {
  std::vector<std::uint8_t> out(14, 0);
  ASSERT_EQ(ClusterBitmapQuery(state_, 0, 110, out.data(), 0), DISK_OK);
  const std::string expected = std::string(8, '0') + std::string(8, '1') + std::string(8, '0') +
                               std::string(8, '1') + std::string(32, '0') + std::string(8, '1') +
                               std::string(24, '0') + std::string(14, '1');
  EXPECT_EQ(Bits(out, 0, 110), expected);
}

TEST_F(UnitBitmap, OutputStartsAtTheGivenBitAndLeavesTheOthersAlone) {
  std::vector<std::uint8_t> out(3, 0xFF);
  ASSERT_EQ(ClusterBitmapQuery(state_, 6, 4, out.data(), 5), DISK_OK);  // sectors 6..9
  EXPECT_EQ(Bits(out, 0, 24), "11111" "0011" "111111111111111");
  std::fill(out.begin(), out.end(), 0x00);
  ASSERT_EQ(ClusterBitmapQuery(state_, 6, 4, out.data(), 5), DISK_OK);
  EXPECT_EQ(Bits(out, 0, 24), "00000" "0011" "000000000000000");
}

TEST(UnitBitmapShort, UnitsPastTheLoadedBytesAreInUse) {
  ClusterBitmap* state = NewClusterBitmap(0, 1, 64, 1);  // 64 units, one byte loaded
  ASSERT_NE(state, nullptr);
  std::vector<std::uint8_t> out(2, 0);
  ASSERT_EQ(ClusterBitmapQuery(state, 4, 8, out.data(), 0), DISK_OK);
  EXPECT_EQ(Bits(out, 0, 8), "00001111");
  FreeClusterBitmap(state);
}

TEST(BitRanges, SetAndClearAnyRangeWithoutTouchingItsNeighbours) {
  const struct {
    std::uint32_t first, count;
  } ranges[] = {{0, 0}, {0, 1}, {3, 2}, {5, 11}, {8, 8}, {1, 22}, {7, 17}};
  for (const auto& r : ranges) {
    std::vector<std::uint8_t> bits(3, 0);
    SetBitRange(bits.data(), r.first, r.count, true);
    std::string expected(24, '0');
    for (std::uint32_t i = r.first; i < r.first + r.count; ++i) expected[i] = '1';
    EXPECT_EQ(Bits(bits, 0, 24), expected) << r.first << "+" << r.count;
    std::fill(bits.begin(), bits.end(), 0xFF);
    SetBitRange(bits.data(), r.first, r.count, false);
    for (char& c : expected) c = c == '1' ? '0' : '1';
    EXPECT_EQ(Bits(bits, 0, 24), expected) << r.first << "+" << r.count;
  }
}

TEST(PartitionTypes, SuggestTheirFilesystemsKind) {
  const struct {
    std::uint8_t type;
    std::int32_t kind;
  } cases[] = {{0x01, kFsFat}, {0x04, kFsFat}, {0x06, kFsFat}, {0x0B, kFsFat}, {0x0C, kFsFat},
               {0x0E, kFsFat}, {0x07, kFsNtfs}, {0x83, kFsExt}, {0xFB, kFsVmfs}, {0x00, -1},
               {0x82, -1},     {0x8E, -1},     {0xEE, -1},     {0xAF, -1}};
  for (const auto& c : cases) EXPECT_EQ(SuggestedFsKind(c.type), c.kind) << int(c.type);
}

}  // namespace
}  // namespace qvt::test
