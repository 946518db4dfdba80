// The clock and GUIDs.
#include <cstring>

#include "Clock.h"
#include "Guid.h"
#include <gtest/gtest.h>

namespace qvt::platform {
namespace {

constexpr std::uint64_t kTicksPerMinute = 600000000ull;

// Days from 1601-01-01 to the date (proleptic Gregorian), for a FILETIME
// made from the local clock by hand.
std::int64_t DaysFrom1601(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t fromCivilZero = static_cast<std::int64_t>(era) * 146097 + doe;
  return fromCivilZero - 584694;  // 1601-01-01 counted the same way
}

TEST(ClockTest, LocalTimeFieldsAreInRange) {
  const LocalTime t = CurrentLocalTime();
  EXPECT_GE(t.year, 2020);
  EXPECT_LE(t.year, 2200);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_GE(t.hour, 0);
  EXPECT_LE(t.hour, 23);
  EXPECT_GE(t.minute, 0);
  EXPECT_LE(t.minute, 59);
  EXPECT_GE(t.second, 0);
  EXPECT_LE(t.second, 60);
}

TEST(ClockTest, FileTimeCountsFrom1601InTenthsOfMicroseconds) {
  // 2020-01-01 and 2200-01-01 as FILETIMEs.
  const std::uint64_t y2020 = 132223104000000000ull;
  const std::uint64_t y2200 = 189025920000000000ull;
  const std::uint64_t now = CurrentFileTime();
  EXPECT_GT(now, y2020);
  EXPECT_LT(now, y2200);
}

// The local clock, turned into a FILETIME by hand and then to UTC, is the
// UTC clock: the offset has the right size and sign.
TEST(ClockTest, LocalFileTimeToFileTimeUndoesTheZoneOffset) {
  const LocalTime t = CurrentLocalTime();
  const std::uint64_t utcNow = CurrentFileTime();
  const std::int64_t seconds = DaysFrom1601(t.year, t.month, t.day) * 86400 + t.hour * 3600 +
                               t.minute * 60 + t.second;
  const std::uint64_t local = static_cast<std::uint64_t>(seconds) * 10000000ull;
  const std::uint64_t utc = LocalFileTimeToFileTime(local);
  const std::uint64_t gap = utc > utcNow ? utc - utcNow : utcNow - utc;
  EXPECT_LT(gap, 2 * kTicksPerMinute) << "local " << local << " utc " << utc << " now " << utcNow;
}

TEST(GuidTest, TwoGuidsDiffer) {
  std::uint8_t a[16];
  std::uint8_t b[16];
  ASSERT_TRUE(CreateGuid(a));
  ASSERT_TRUE(CreateGuid(b));
  EXPECT_NE(std::memcmp(a, b, 16), 0);
}

// In the GUID structure's bytes, Data3 is bytes 6..7 little-endian: its top
// nibble, the version, is the top of byte 7; the variant is the top of
// Data4[0], byte 8.
TEST(GuidTest, IsARandomVersion4GuidInTheStructuresByteOrder) {
  for (int i = 0; i < 32; ++i) {
    std::uint8_t g[16];
    ASSERT_TRUE(CreateGuid(g));
    EXPECT_EQ(g[7] >> 4, 4) << "version nibble";
    EXPECT_EQ(g[8] & 0xC0, 0x80) << "variant bits";
  }
}

}  // namespace
}  // namespace qvt::platform
