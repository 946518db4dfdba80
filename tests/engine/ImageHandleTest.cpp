#include "ImageHandle.h"

#include <gtest/gtest.h>

#include <vector>

#include "Heap.h"
#include "Progress.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

TEST(ZeroImage, ReadsZerosWithinItsCapacityAndRefusesWrites) {
  ImageHandle image = NoImage();
  ASSERT_EQ(ZeroImageOpen(&image, 2048, 16, 63), DISK_OK);
  EXPECT_EQ(image.kind, IMAGE_ZERO);

  ImageGeometry g{};
  ASSERT_EQ(ImageGetSize(&image, &g), DISK_OK);
  EXPECT_EQ(g.sectors, 2048u);
  EXPECT_EQ(g.heads, 16u);
  EXPECT_EQ(g.sectorsPerTrack, 63u);
  EXPECT_EQ(g.sectorSize, 512u);

  std::vector<std::uint8_t> buffer(4096, 0xAA);
  ASSERT_EQ(ImageRead(&image, 2047 * 512 - 3584, 4096, buffer.data()), DISK_OK);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(4096, 0));
  EXPECT_EQ(ImageRead(&image, 2047 * 512, 1024, buffer.data()), DISK_E_LIMIT);
  EXPECT_EQ(ImageRead(&image, UINT64_MAX - 10, 512, buffer.data()), DISK_E_LIMIT);
  EXPECT_EQ(ImageWrite(&image, 0, 512, buffer.data()), DISK_E_WRITE);

  bool empty = false;
  ASSERT_EQ(ImageIsRangeEmpty(&image, nullptr, 0, 2048, &empty), DISK_OK);
  EXPECT_TRUE(empty);
  bool absent = false;
  EXPECT_EQ(ImageIsRangeAbsent(&image, 0, 1, &absent), DISK_E_LIMIT);

  ImageClose(&image);
  EXPECT_EQ(image.kind, IMAGE_NONE);
  EXPECT_EQ(image.impl, nullptr);
  ImageClose(&image);  // closing what is closed does nothing
}

TEST(ZeroImage, OpeningWithoutMemoryFails) {
  ImageHandle image = NoImage();
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(ZeroImageOpen(&image, 8, 1, 1), DISK_E_NOMEM);
  InjectAllocationFailureAfter(-1);
  EXPECT_EQ(image.kind, IMAGE_NONE);
}

TEST(ImageHandle, UnknownKindsAnswerLimit) {
  for (std::int32_t kind : {std::int32_t{IMAGE_NONE}, 3, -2, 12345}) {
    ImageHandle image{kind, nullptr};
    ImageGeometry g{};
    std::uint8_t sector[512];
    bool flag = false;
    EXPECT_EQ(ImageGetSize(&image, &g), DISK_E_LIMIT) << kind;
    EXPECT_EQ(ImageRead(&image, 0, 512, sector), DISK_E_LIMIT) << kind;
    EXPECT_EQ(ImageWrite(&image, 0, 512, sector), DISK_E_LIMIT) << kind;
    EXPECT_EQ(ImageIsRangeEmpty(&image, nullptr, 0, 1, &flag), DISK_E_LIMIT) << kind;
    EXPECT_EQ(ImageIsRangeAbsent(&image, 0, 1, &flag), DISK_E_LIMIT) << kind;
  }
}

TEST(ImageHandle, RangesFitOnlyInsideTheCapacity) {
  EXPECT_TRUE(ImageRangeFits(0, 512, 1));
  EXPECT_TRUE(ImageRangeFits(512, 0, 1));
  EXPECT_FALSE(ImageRangeFits(1, 512, 1));
  EXPECT_FALSE(ImageRangeFits(513, 0, 1));
  EXPECT_TRUE(ImageRangeFits(0xFFFFFFFFull * 512 - 512, 512, 0xFFFFFFFFu));
  EXPECT_FALSE(ImageRangeFits(UINT64_MAX, 1, 0xFFFFFFFFu));
}

struct PercentCase {
  std::uint64_t done;
  std::uint64_t total;
  std::uint32_t percent;
};

bool Keep(std::uint32_t done, std::uint32_t total, void* context) {
  *static_cast<std::uint32_t*>(context) = done;
  EXPECT_EQ(total, 100u);
  return true;
}

TEST(Progress, PercentAdapterScalesToOneHundred) {
  const PercentCase cases[] = {{0, 0, 0},       {0, 1000, 0},        {1, 3, 33},
                               {999, 1000, 99}, {1000, 1000, 100},   {5, 0, 100},
                               {1ull << 62, 1ull << 63, 50}, {UINT64_MAX, UINT64_MAX, 100}};
  for (const PercentCase& c : cases) {
    std::uint32_t seen = 12345;
    EXPECT_TRUE(ReportPercent(PercentProgress{&Keep, &seen}, c.done, c.total));
    EXPECT_EQ(seen, c.percent) << c.done << "/" << c.total;
  }
  EXPECT_TRUE(ReportPercent(PercentProgress{nullptr, nullptr}, 1, 2)) << "no callback never stops";
}

}  // namespace
}  // namespace qvt
