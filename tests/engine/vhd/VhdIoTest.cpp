// Reads, writes and the two queries on open images: block appends with
// their padding and moved footer, in-place writes, the parent's bytes in
// partly written sectors, and the range limits.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageOpen.h"
#include "TempFolder.h"
#include "VhdImage.h"
#include "VhdTestKit.h"

namespace qvt {
namespace {

using test::Bytes;
constexpr std::uint32_t kBlock = 512 * 1024;

class VhdIo : public ::testing::Test {
 protected:
  ~VhdIo() override { ImageClose(&image_); }
  std::string Path(const wchar_t* name) { return dir_.Engine(name); }
  void Make(const wchar_t* name, const Bytes& bytes) { test::WriteBytes(dir_, name, bytes); }
  DiskResult Open(const wchar_t* name, bool readOnly = false) {
    ImageClose(&image_);
    return ImageOpen(&image_, Path(name).c_str(), readOnly, 0, nullptr, nullptr);
  }
  std::string Read(std::uint64_t offset, std::uint32_t length) {
    std::string out(length, '\0');
    EXPECT_EQ(ImageRead(&image_, offset, length, &out[0]), DISK_OK);
    return out;
  }
  // A parent with a pattern over its first block and a child over it.
  void MakeChain() {
    Make(L"base.vhd", test::DynamicImage({}));
    ASSERT_EQ(test::EngineWrite(Path(L"base.vhd"), 0, kBlock, 0x40), DISK_OK);
    ASSERT_EQ(VhdCreateChild(Path(L"base.vhd").c_str(), Path(L"child.vhd").c_str()), DISK_OK);
  }

  test::TempFolder dir_;
  ImageHandle image_ = NoImage();
};

TEST_F(VhdIo, AWriteAcrossTwoBlocksAppendsBothInOrderAndMovesTheFooter) {
  Bytes b = test::DynamicImage({});
  const std::uint64_t footerAt = test::TrailingFooterAt(b);
  const Bytes footer(b.begin() + static_cast<long>(footerAt), b.end());
  b.insert(b.begin() + static_cast<long>(footerAt), 7 * 512, 0);  // room for padding
  Make(L"d.vhd", b);
  ASSERT_EQ(test::EngineWrite(Path(L"d.vhd"), kBlock - 1024, 2048, 9), DISK_OK);

  const Bytes after = test::ReadBytes(dir_, L"d.vhd");
  const std::uint64_t first = footerAt + 7 * 512;
  const std::uint64_t blockBytes = 512 + kBlock + 7 * 512;
  ASSERT_EQ(after.size(), first + 2 * blockBytes + 512);
  EXPECT_EQ(test::PeekBE32(after, 1536), first / 512);
  EXPECT_EQ(test::PeekBE32(after, 1540), (first + blockBytes) / 512);
  EXPECT_TRUE(std::equal(footer.begin(), footer.end(), after.end() - 512));
  // Block 0 holds its last two sectors, block 1 (cut short by the disk's
  // end, yet appended whole) its first two.
  EXPECT_EQ(after[first + 127], 0x03);
  EXPECT_EQ(after[first + blockBytes], 0xC0);

  ASSERT_EQ(Open(L"d.vhd"), DISK_OK);
  EXPECT_EQ(Read(kBlock - 1024, 2048), test::Pattern(2048, 9));
  EXPECT_EQ(Read(0, 512), std::string(512, '\0'));
}

TEST_F(VhdIo, WritesIntoAnAllocatedBlockStayInPlace) {
  Make(L"d.vhd", test::DynamicImage({}));
  ASSERT_EQ(test::EngineWrite(Path(L"d.vhd"), 4096, 512, 1), DISK_OK);
  const std::size_t size = test::ReadBytes(dir_, L"d.vhd").size();
  ASSERT_EQ(test::EngineWrite(Path(L"d.vhd"), 8192, 1024, 2), DISK_OK);
  EXPECT_EQ(test::ReadBytes(dir_, L"d.vhd").size(), size);
  ASSERT_EQ(Open(L"d.vhd"), DISK_OK);
  EXPECT_EQ(Read(4096, 512), test::Pattern(512, 1));
  EXPECT_EQ(Read(8192, 1024), test::Pattern(1024, 2));
}

TEST_F(VhdIo, AShortFooterKeepsItsLengthWhenMoved) {
  Bytes b = test::DynamicImage({});
  b.pop_back();
  Make(L"d.vhd", b);
  ASSERT_EQ(test::EngineWrite(Path(L"d.vhd"), 0, 512, 3), DISK_OK);
  const Bytes after = test::ReadBytes(dir_, L"d.vhd");
  EXPECT_EQ(after.size() % 512, 511u);
  ASSERT_EQ(Open(L"d.vhd"), DISK_OK);
  EXPECT_EQ(Read(0, 512), test::Pattern(512, 3));
}

TEST_F(VhdIo, PartlyWrittenSectorsKeepTheParentsBytes) {
  MakeChain();
  const std::string parent = [&] {
    DiskResult r;
    return test::EngineRead(Path(L"base.vhd"), &r);
  }();
  // Into an unallocated block, and then into an absent sector of the block
  // that write allocated.
  ASSERT_EQ(test::EngineWrite(Path(L"child.vhd"), 100, 200, 7), DISK_OK);
  ASSERT_EQ(test::EngineWrite(Path(L"child.vhd"), 5000, 100, 8), DISK_OK);
  std::string expected = parent;
  expected.replace(100, 200, test::Pattern(200, 7));
  expected.replace(5000, 100, test::Pattern(100, 8));
  DiskResult r;
  EXPECT_EQ(test::EngineRead(Path(L"child.vhd"), &r), expected);
  EXPECT_EQ(r, DISK_OK);
}

TEST_F(VhdIo, TheQueriesLookThroughTheChainOrOnlyAtTheFile) {
  MakeChain();
  ASSERT_EQ(Open(L"child.vhd"), DISK_OK);
  bool flag = false;
  ASSERT_EQ(ImageIsRangeAbsent(&image_, 0, 1360, &flag), DISK_OK);
  EXPECT_TRUE(flag);
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 0, 1, &flag), DISK_OK);
  EXPECT_FALSE(flag);  // the parent holds it
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 1024, 336, &flag), DISK_OK);
  EXPECT_TRUE(flag);

  const std::string zeros(512, '\0');
  ASSERT_EQ(ImageWrite(&image_, 1100 * 512, 512, zeros.data()), DISK_OK);
  ASSERT_EQ(ImageWrite(&image_, 10 * 512, 512, zeros.data()), DISK_OK);
  ASSERT_EQ(ImageIsRangeAbsent(&image_, 1100, 1, &flag), DISK_OK);
  EXPECT_FALSE(flag);
  ASSERT_EQ(ImageIsRangeAbsent(&image_, 11, 1013, &flag), DISK_OK);
  EXPECT_TRUE(flag);
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 1024, 336, &flag), DISK_OK);
  EXPECT_TRUE(flag);  // held, all zero, nothing below
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 10, 1, &flag), DISK_OK);
  EXPECT_TRUE(flag);  // held zeros hide the parent's pattern
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 5, 10, &flag), DISK_OK);
  EXPECT_FALSE(flag);
}

TEST_F(VhdIo, AllZeroHeldSectorsOfADynamicImageAreFree) {
  Make(L"d.vhd", test::DynamicImage({}));
  ASSERT_EQ(Open(L"d.vhd"), DISK_OK);
  const std::string zeros(kBlock, '\0');
  ASSERT_EQ(ImageWrite(&image_, 0, kBlock, zeros.data()), DISK_OK);
  bool flag = false;
  ASSERT_EQ(ImageIsRangeAbsent(&image_, 0, 1024, &flag), DISK_OK);
  EXPECT_FALSE(flag);
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 0, 1360, &flag), DISK_OK);
  EXPECT_TRUE(flag);
  const std::string one(512, '\x01');
  ASSERT_EQ(ImageWrite(&image_, 1000 * 512, 512, one.data()), DISK_OK);
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 0, 1360, &flag), DISK_OK);
  EXPECT_FALSE(flag);
  ASSERT_EQ(ImageIsRangeEmpty(&image_, nullptr, 0, 1000, &flag), DISK_OK);
  EXPECT_TRUE(flag);
}

TEST_F(VhdIo, RangesPastTheEndAndReadOnlyWritesAreLimit) {
  Make(L"d.vhd", test::DynamicImage({}));
  ASSERT_EQ(Open(L"d.vhd", true), DISK_OK);
  std::string buffer(1024, '\0');
  bool flag = false;
  EXPECT_EQ(ImageRead(&image_, 1359 * 512, 1024, &buffer[0]), DISK_E_LIMIT);
  EXPECT_EQ(ImageWrite(&image_, 1360 * 512, 1, buffer.data()), DISK_E_LIMIT);
  EXPECT_EQ(ImageIsRangeEmpty(&image_, nullptr, 1360, 1, &flag), DISK_E_LIMIT);
  EXPECT_EQ(ImageIsRangeAbsent(&image_, 0, 1361, &flag), DISK_E_LIMIT);
  EXPECT_EQ(ImageWrite(&image_, 0, 512, buffer.data()), DISK_E_LIMIT);
  EXPECT_EQ(test::ReadBytes(dir_, L"d.vhd"), test::DynamicImage({}));
}

}  // namespace
}  // namespace qvt
