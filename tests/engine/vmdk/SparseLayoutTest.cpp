#include <gtest/gtest.h>

#include <cstring>

#include "SparseLayout.h"

namespace qvt {
namespace {

struct NewExtentCase {
  const char* name;
  std::uint32_t sectors;
  std::uint32_t descriptorSectors;
  std::uint32_t hwVersionIndex;
  bool compressed;
  bool stream;
  // expected
  std::uint64_t numGts;
  std::uint64_t gdSectors;
  std::uint64_t rgdOffset;
  std::uint64_t gdOffset;
  std::uint64_t overHead;
  std::uint64_t capacity;
  std::uint32_t version;
  std::uint32_t flags;
  std::uint16_t compressAlgorithm;
};

// The numbers qemu-img puts into a 10 MiB monolithicSparse header (rgd 21,
// gd 26, overHead 128) and the engine's own layout rules.
const NewExtentCase kNewExtents[] = {
    {"OneGtWithDescriptor", 20480, 20, 4, false, false, 1, 1, 21, 26, 128, 20480, 1, 0x3, 0},
    {"TwoGtsOneSectorPastTheFirst", 65537, 20, 4, false, false, 2, 1, 21, 30, 128, 65537, 1, 0x3,
     0},
    {"SplitExtentOf2GiB", 4194304, 0, 4, false, false, 64, 1, 1, 258, 640, 4194304, 1, 0x3, 0},
    {"GdOfTwoSectors", 129 * 65536, 20, 4, false, false, 129, 2, 21, 539, 1152, 129 * 65536, 1, 0x3,
     0},
    {"OldHardwareRoundsCapacityToGrains", 1000, 0, 2, false, false, 1, 1, 1, 6, 128, 1024, 1, 0x3,
     0},
    {"HardwareIndex3KeepsCapacity", 1000, 0, 3, false, false, 1, 1, 1, 6, 128, 1000, 1, 0x3, 0},
    {"StreamOptimized", 65537, 20, 4, true, true, 2, 1, 0, kGdAtEnd, 128, 65537, 3, 0x30001, 1},
    {"CompressedPlainLayout", 65537, 20, 4, true, false, 2, 1, 21, 30, 128, 65537, 1, 0x30003, 1},
};

class NewExtentHeader : public testing::TestWithParam<NewExtentCase> {};

TEST_P(NewExtentHeader, FollowsTheLayoutRules) {
  const NewExtentCase& c = GetParam();
  EXPECT_EQ(SparseNumGts(c.sectors, kEngineGrainSectors), c.numGts);
  EXPECT_EQ(SparseGdSectors(c.numGts), c.gdSectors);
  const SparseHeader h =
      SparseNewHeader(c.sectors, c.descriptorSectors, c.hwVersionIndex, c.compressed, c.stream);
  EXPECT_EQ(h.rgdOffset, c.rgdOffset);
  EXPECT_EQ(h.gdOffset, c.gdOffset);
  EXPECT_EQ(h.overHead, c.overHead);
  EXPECT_EQ(h.capacity, c.capacity);
  EXPECT_EQ(h.version, c.version);
  EXPECT_EQ(h.flags, c.flags);
  EXPECT_EQ(h.compressAlgorithm, c.compressAlgorithm);
  EXPECT_EQ(h.grainSize, 128u);
  EXPECT_EQ(h.descriptorOffset, c.descriptorSectors != 0 ? 1u : 0u);
  EXPECT_EQ(h.descriptorSize, c.descriptorSectors);

  // What the engine writes, it accepts.
  std::uint8_t sector[kSparseHeaderBytes];
  EncodeSparseHeader(h, sector);
  SparseHeader back{};
  ASSERT_TRUE(ParseSparseHeader(sector, sizeof sector, &back));
  EXPECT_EQ(back.overHead, h.overHead);
  EXPECT_EQ(back.gdOffset, h.gdOffset);
}

INSTANTIATE_TEST_SUITE_P(Layouts, NewExtentHeader, testing::ValuesIn(kNewExtents),
                         [](const testing::TestParamInfo<NewExtentCase>& param) {
                           return std::string(param.param.name);
                         });

TEST(SparseMarker, EncodesAtItsOffsetsAndIsRecognised) {
  std::uint8_t sector[512];
  std::memset(sector, 0xEE, sizeof sector);
  EncodeSparseMarker(SparseMarker{0x0102030405060708ull, 0, MARKER_GD}, sector);
  const std::uint8_t expected[16] = {8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(std::memcmp(sector, expected, 16), 0);
  for (int i = 16; i < 512; ++i) ASSERT_EQ(sector[i], 0) << i;
  EXPECT_TRUE(SparseMarkerIs(sector, 0x0102030405060708ull, MARKER_GD));
  EXPECT_FALSE(SparseMarkerIs(sector, 0x0102030405060708ull, MARKER_GT));
  sector[8] = 1;  // a size makes it a grain record, not a marker
  EXPECT_FALSE(SparseMarkerIs(sector, 0x0102030405060708ull, MARKER_GD));
}

TEST(SparseGrainHead, KeepsLbaAndSizeLittleEndian) {
  std::uint8_t bytes[kGrainHeadBytes];
  EncodeSparseGrainHead(SparseGrainHead{0x1122334455ull, 0xA0B0C0D0u}, bytes);
  const std::uint8_t expected[12] = {0x55, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0xD0, 0xC0, 0xB0, 0xA0};
  EXPECT_EQ(std::memcmp(bytes, expected, 12), 0);
  const SparseGrainHead back = DecodeSparseGrainHead(bytes);
  EXPECT_EQ(back.lba, 0x1122334455ull);
  EXPECT_EQ(back.size, 0xA0B0C0D0u);
}

}  // namespace
}  // namespace qvt
