// Reads, writes and the emptiness queries of open VMDK disks, across extent
// boundaries and through parents; the grain count; and the allocation map's
// answer before a filesystem reader registers one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AllocationMap.h"
#include "TestAllocationMap.h"
#include "ImageOpen.h"
#include "VmdkImage.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

using test::Bytes;
using test::MemoryDisk;

// Split sizes that are no multiple of a grain, so that grains and GTs
// straddle the extent boundaries.
const std::vector<std::uint32_t> kSplit = {300, 1000, 2796};  // 4096 sectors
constexpr std::uint32_t kSectors = 4096;

class VmdkIo : public testing::Test {
 protected:
  void TearDown() override { ImageClose(&image_); }
  DiskResult Open(const std::wstring& name, bool readOnly,
                  std::uint32_t mode = VMDK_PARENT_OPEN) {
    ImageClose(&image_);
    return ImageOpen(&image_, dir_.Engine(name).c_str(), readOnly, mode, nullptr, nullptr);
  }
  Bytes ReadAll() {
    DiskResult r = DISK_OK;
    Bytes bytes = test::ReadImage(&image_, &r);
    EXPECT_EQ(r, DISK_OK);
    return bytes;
  }

  test::TempFolder dir_;
  test::DiskMaker maker_{dir_};
  ImageHandle image_ = NoImage();
};

MemoryDisk Scattered() {
  MemoryDisk data(kSectors);
  data.Pattern(0, 1024, 0x11);
  data.Pattern(299 * 512, 1024, 0x12);           // across the first boundary
  data.Pattern(1290 * 512, 20 * 512, 0x13);       // across the second
  data.Pattern((kSectors - 1) * 512, 512, 0x14);  // the last sector
  return data;
}

TEST_F(VmdkIo, EveryLayoutReadsItsSectorsAcrossExtents) {
  MemoryDisk data = Scattered();
  maker_.SingleFile(L"single.vmdk", data);
  maker_.SingleFile(L"stream.vmdk", data, "", true);
  maker_.Split(L"split.vmdk", data, kSplit);
  maker_.Flat(L"flat.vmdk", data, kSplit, 7);
  maker_.Flat(L"mono.vmdk", data, {kSectors});
  for (const wchar_t* name : {L"single.vmdk", L"stream.vmdk", L"split.vmdk", L"flat.vmdk",
                              L"mono.vmdk"}) {
    SCOPED_TRACE(test::Narrow(name));
    ASSERT_EQ(Open(name, true), DISK_OK);
    EXPECT_TRUE(ReadAll() == data.bytes);
    Bytes piece(1024);
    EXPECT_EQ(ImageRead(&image_, kSectors * 512ull - 512, 1024, piece.data()), DISK_E_LIMIT);
    EXPECT_EQ(ImageRead(&image_, kSectors * 512ull, 0, piece.data()), DISK_OK);
  }
}

TEST_F(VmdkIo, WritesAcrossExtentsKeepTheParentsPartOfEachNewGrain) {
  MemoryDisk base(kSectors);
  base.Pattern(0, kSectors * 512, 0x21);
  maker_.SingleFile(L"base.vmdk", base);
  MemoryDisk none(kSectors);
  maker_.Split(L"child.vmdk", none, kSplit, "base.vmdk");

  ASSERT_EQ(Open(L"child.vmdk", false), DISK_OK);
  Bytes expected = base.bytes;
  const struct {
    std::uint64_t offset;
    std::uint32_t length;
  } writes[] = {{299 * 512 + 100, 2000}, {1299 * 512, 70000}, {kSectors * 512ull - 300, 300}};
  for (const auto& w : writes) {
    Bytes data(w.length);
    for (std::uint32_t i = 0; i < w.length; ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
    ASSERT_EQ(ImageWrite(&image_, w.offset, w.length, data.data()), DISK_OK) << w.offset;
    std::copy(data.begin(), data.end(), expected.begin() + static_cast<std::ptrdiff_t>(w.offset));
  }
  EXPECT_TRUE(ReadAll() == expected);
  ASSERT_EQ(Open(L"child.vmdk", true), DISK_OK);
  EXPECT_TRUE(ReadAll() == expected) << "after reopening";
  ASSERT_EQ(Open(L"base.vmdk", true), DISK_OK);
  EXPECT_TRUE(ReadAll() == base.bytes) << "the parent is untouched";
}

TEST_F(VmdkIo, FlatDisksWriteInPlace) {
  MemoryDisk data = Scattered();
  maker_.Flat(L"flat.vmdk", data, kSplit, 7);
  ASSERT_EQ(Open(L"flat.vmdk", false), DISK_OK);
  const Bytes bytes(3000, 0x77);
  ASSERT_EQ(ImageWrite(&image_, 299 * 512, 3000, bytes.data()), DISK_OK);
  std::fill(data.bytes.begin() + 299 * 512, data.bytes.begin() + 299 * 512 + 3000, 0x77);
  ASSERT_EQ(Open(L"flat.vmdk", true), DISK_OK);
  EXPECT_TRUE(ReadAll() == data.bytes);
  EXPECT_EQ(dir_.ReadFile(L"flat-f001.vmdk").substr(0, 7 * 512), std::string(7 * 512, '\x7e'))
      << "the bytes before the extent's offset stay";
}

TEST_F(VmdkIo, WritesThatCannotBeHonouredAreRefused) {
  MemoryDisk data = Scattered();
  maker_.SingleFile(L"base.vmdk", data);
  maker_.SingleFile(L"stream.vmdk", data, "", true);
  MemoryDisk none(kSectors);
  maker_.SingleFile(L"child.vmdk", none, "base.vmdk");
  const Bytes bytes(512, 0x55);
  struct Case {
    const wchar_t* name;
    bool readOnly;
    std::uint32_t mode;
    std::uint64_t offset;
  };
  const Case cases[] = {
      {L"base.vmdk", true, VMDK_PARENT_OPEN, 0},                  // read-only
      {L"base.vmdk", false, VMDK_PARENT_OPEN, kSectors * 512ull},  // past the end
      {L"stream.vmdk", false, VMDK_PARENT_OPEN, 0},               // compressed grains
      {L"child.vmdk", false, VMDK_PARENT_NONE, 0},                // the parent's part unknown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Narrow(c.name));
    const DiskResult opened = Open(c.name, c.readOnly, c.mode);
    if (opened != DISK_OK) {
      // A writable open of a compressed extent may refuse already.
      EXPECT_FALSE(c.readOnly);
      continue;
    }
    EXPECT_EQ(ImageWrite(&image_, c.offset, 512, bytes.data()), DISK_E_LIMIT);
  }
  ASSERT_EQ(Open(L"base.vmdk", true), DISK_OK);
  EXPECT_TRUE(ReadAll() == data.bytes);
}

TEST_F(VmdkIo, EmptinessAndAbsenceAnswerPerRangeAcrossExtents) {
  MemoryDisk base(kSectors);
  base.Pattern(1000 * 512, 512, 0x31);  // only the parent holds sector 1000
  maker_.SingleFile(L"base.vmdk", base);
  MemoryDisk own(kSectors);
  own.Pattern(299 * 512, 1024, 0x32);  // the child holds 299 and 300, across a boundary
  maker_.Split(L"child.vmdk", own, kSplit, "base.vmdk");
  MemoryDisk flat(kSectors);
  flat.Pattern(2000 * 512, 512, 0x33);
  maker_.Flat(L"flat.vmdk", flat, kSplit);

  struct Case {
    const wchar_t* name;
    std::uint32_t first;
    std::uint32_t count;
    bool empty;
    DiskResult absentResult;
    bool absent;
  };
  const Case cases[] = {
      {L"child.vmdk", 0, 256, true, DISK_OK, true},
      {L"child.vmdk", 299, 1, false, DISK_OK, false},
      {L"child.vmdk", 300, 1, false, DISK_OK, false},
      // The second extent's first grain holds sector 300 and zeros after it.
      {L"child.vmdk", 301, 600, true, DISK_OK, false},
      {L"child.vmdk", 1000, 1, false, DISK_OK, true},    // the parent's data
      {L"child.vmdk", 1100, kSectors - 1100, true, DISK_OK, true},
      {L"child.vmdk", 0, kSectors, false, DISK_OK, false},
      {L"child.vmdk", kSectors - 1, 2, false, DISK_E_LIMIT, false},
      {L"flat.vmdk", 0, 2000, true, DISK_E_LIMIT, false},
      {L"flat.vmdk", 1999, 2, false, DISK_E_LIMIT, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Narrow(c.name) + " " + std::to_string(c.first) + "+" +
                 std::to_string(c.count));
    ASSERT_EQ(Open(c.name, true), DISK_OK);
    bool empty = false;
    const DiskResult r = ImageIsRangeEmpty(&image_, nullptr, c.first, c.count, &empty);
    if (c.first + c.count > kSectors) {
      EXPECT_EQ(r, DISK_E_LIMIT);
    } else {
      ASSERT_EQ(r, DISK_OK);
      EXPECT_EQ(empty, c.empty);
    }
    bool absent = false;
    EXPECT_EQ(ImageIsRangeAbsent(&image_, c.first, c.count, &absent), c.absentResult);
    if (c.absentResult == DISK_OK) {
      EXPECT_EQ(absent, c.absent);
    }
  }
}

TEST_F(VmdkIo, TheGrainCountIsThatOfEachDisksOwnExtents) {
  MemoryDisk base = Scattered();
  maker_.SingleFile(L"base.vmdk", base);
  MemoryDisk own(kSectors);
  own.Pattern(299 * 512, 1024, 0x32);  // sectors 299 and 300, in extents 1 and 2
  own.Pattern(4000 * 512, 512, 0x33);  // in extent 3
  maker_.Split(L"child.vmdk", own, kSplit, "base.vmdk");
  maker_.Flat(L"flat.vmdk", base, kSplit);

  ASSERT_EQ(Open(L"child.vmdk", true), DISK_OK);
  VmdkImage* child = VmdkImageFromHandle(&image_);
  ASSERT_NE(child, nullptr);
  std::uint64_t grains = 0;
  ASSERT_EQ(VmdkImageCountGrains(child, &grains), DISK_OK);
  // Sectors 299 and 300 lie in grains of two extents.
  EXPECT_EQ(grains, 3u);
  VmdkImage* parent = VmdkImageFromHandle(VmdkImageParent(child));
  ASSERT_NE(parent, nullptr);
  ASSERT_EQ(VmdkImageCountGrains(parent, &grains), DISK_OK);
  EXPECT_EQ(grains, 4u);  // 0, 2 (sectors 299 and 300), 10 (1290 to 1309), 31
  ASSERT_EQ(Open(L"flat.vmdk", true), DISK_OK);
  EXPECT_EQ(VmdkImageCountGrains(VmdkImageFromHandle(&image_), &grains), DISK_E_LIMIT);
}

TEST(AllocationMapQuery, WithoutAReaderEverySectorIsInUse) {
  const AllocationMapQuery registered = AllocationMapSetQuery(nullptr);
  for (std::uint32_t count : {1u, 7u, 8u, 9u, 128u, 2047u}) {
    std::vector<std::uint8_t> bits((count + 7) / 8 + 1, 0);
    bits.back() = 0xA5;  // past what was asked: untouched
    ASSERT_EQ(AllocationMapGetBits(nullptr, 12345, count, bits.data()), DISK_OK);
    for (std::uint32_t i = 0; i < count; ++i) EXPECT_TRUE(bits[i / 8] >> (i % 8) & 1) << count;
    if (count % 8 != 0) {
      EXPECT_EQ(bits[count / 8] >> (count % 8), 0) << count;
    }
    EXPECT_EQ(bits.back(), 0xA5) << count;
  }
  EXPECT_EQ(AllocationMapSetQuery(registered), nullptr);
}

TEST_F(VmdkIo, ATrimmingMapLeavesOutWhatItMarksFree) {
  // With the test's map (registered by the test kit) a sector of data that
  // the map marks free makes no difference to emptiness.
  MemoryDisk data(kSectors);
  data.Pattern(10 * 512, 512, 0x41);
  maker_.SingleFile(L"disk.vmdk", data);
  ASSERT_EQ(Open(L"disk.vmdk", true), DISK_OK);
  AllocationMap map;
  map.used.assign(kSectors, false);
  bool empty = false;
  ASSERT_EQ(ImageIsRangeEmpty(&image_, &map, 0, 128, &empty), DISK_OK);
  EXPECT_TRUE(empty);
  map.used[10] = true;
  ASSERT_EQ(ImageIsRangeEmpty(&image_, &map, 0, 128, &empty), DISK_OK);
  EXPECT_FALSE(empty);
}

}  // namespace
}  // namespace qvt
