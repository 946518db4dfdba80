// qvtdisk map: the segments of a partitioned disk inside a VMDK chain, and
// the bits of a range.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteOrder.h"
#include "ToolConsole.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

using test::MemoryDisk;
using test::RunTool;
using test::ToolConsole;

constexpr std::uint32_t kSectors = 8192;

void PutEntry(MemoryDisk* disk, std::uint32_t sector, int index, std::uint8_t type,
              std::uint32_t first, std::uint32_t count) {
  std::uint8_t* entry = disk->bytes.data() + sector * 512 + 446 + index * 16;
  entry[4] = type;
  WriteLE32(entry + 8, first);
  WriteLE32(entry + 12, count);
  disk->bytes[sector * 512 + 510] = 0x55;
  disk->bytes[sector * 512 + 511] = 0xAA;
}

class MapVerb : public testing::Test {
 protected:
  void SetUp() override {
    // The base: a primary and a logical in an extended partition.
    PutEntry(&base_, 0, 0, 0x83, 100, 200);
    PutEntry(&base_, 0, 1, 0x05, 1000, 2000);
    PutEntry(&base_, 1000, 0, 0x07, 50, 100);
    maker_.SingleFile(L"base.vmdk", base_);
    // The child's own first grain adds a partition to the table.
    std::copy(base_.bytes.begin(), base_.bytes.begin() + 65536, child_.bytes.begin());
    PutEntry(&child_, 0, 2, 0x0C, 4000, 1000);
    maker_.SingleFile(L"child.vmdk", child_, "base.vmdk");
  }
  std::string N(const std::wstring& name) const { return dir_.Native(name).string(); }
  std::string AfterFirstLine(const std::string& text) const { return text.substr(text.find('\n') + 1); }

  test::TempFolder dir_;
  test::DiskMaker maker_{dir_};
  MemoryDisk base_{kSectors};
  MemoryDisk child_{kSectors};
};

TEST_F(MapVerb, ShowsTheSegmentsOfTheTableTheChainReadsAs) {
  ToolConsole c;
  ASSERT_EQ(RunTool({"map", N(L"child.vmdk")}, &c), 0) << c.err;
  EXPECT_EQ(c.out.substr(0, c.out.find('\n')),
            N(L"child.vmdk") + ": 8192 sectors of 512 bytes, 7 segments");
  EXPECT_EQ(AfterFirstLine(c.out),
            "first       count       kind filesystem    in use      free\n"
            "0           100         -2   no volume     100         0\n"
            "100         200         -1   unrecognised  200         0\n"
            "300         750         -2   no volume     750         0\n"
            "1050        100         -1   unrecognised  100         0\n"
            "1150        2850        -2   no volume     2850        0\n"
            "4000        1000        -1   unrecognised  1000        0\n"
            "5000        3192        -2   no volume     3192        0\n"
            "total       8192                           8192        0\n");

  ToolConsole b;
  ASSERT_EQ(RunTool({"map", N(L"base.vmdk")}, &b), 0) << b.err;
  EXPECT_NE(b.out.find("5 segments"), std::string::npos) << b.out;
  EXPECT_EQ(b.out.find("4000"), std::string::npos) << b.out;
}

TEST_F(MapVerb, BitsPrintsOneDigitPerSector) {
  ToolConsole c;
  ASSERT_EQ(RunTool({"map", N(L"child.vmdk"), "--bits", "95", "10"}, &c), 0) << c.err;
  EXPECT_EQ(c.out, "1111111111\n");
  ToolConsole past;
  EXPECT_EQ(RunTool({"map", N(L"child.vmdk"), "--bits", "8190", "3"}, &past), 3);
  EXPECT_NE(past.err.find("DISK_E_LIMIT"), std::string::npos) << past.err;
}

TEST_F(MapVerb, ADamagedTableIsReportedWithItsCode) {
  PutEntry(&child_, 0, 3, 0x83, 200, 50);  // overlaps the first primary
  maker_.SingleFile(L"bad.vmdk", child_, "base.vmdk");
  ToolConsole c;
  EXPECT_EQ(RunTool({"map", N(L"bad.vmdk")}, &c), 3);
  EXPECT_NE(c.err.find("DISK_E_FS_UNKNOWN"), std::string::npos) << c.err;
  EXPECT_TRUE(c.out.empty()) << c.out;
}

TEST_F(MapVerb, WrongArgumentsAreUsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"map"},
                                             {"map", "a", "b"},
                                             {"map", "a", "--bits", "1"},
                                             {"map", "a", "--bits", "x", "2"},
                                             {"map", "a", "--bits", "1", "4294967296"}}) {
    ToolConsole c;
    EXPECT_EQ(RunTool(args, &c), 2) << args.size();
    EXPECT_NE(c.err.find("usage:"), std::string::npos);
  }
}

}  // namespace
}  // namespace qvt
