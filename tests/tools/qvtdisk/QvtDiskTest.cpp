// qvtdisk's verbs, run in-process on disks the engine writes: the usage
// errors and their status, the info dump (golden, with volatile fields
// filtered), export and write through a chain, a stop at a progress report,
// and set-parent-hint.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ToolConsole.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

using test::MemoryDisk;
using test::RunTool;
using test::ToolConsole;

constexpr std::uint32_t kSectors = 4096;

class Tool : public testing::Test {
 protected:
  void SetUp() override {
    base_.Pattern(0, 65536, 0x11);
    base_.Pattern(20 * 65536, 512, 0x12);
    maker_.SingleFile(L"base.vmdk", base_);
    mid_.Pattern(3 * 65536, 4096, 0x21);
    maker_.Split(L"mid.vmdk", mid_, {1000, kSectors - 1000}, "base.vmdk");
    top_.Pattern(20 * 65536 + 1024, 512, 0x31);
    maker_.SingleFile(L"top.vmdk", top_, "mid.vmdk");
  }
  std::string N(const std::wstring& name) const { return dir_.Native(name).string(); }
  // The output with this test's folder and every CID replaced, and
  // backslashes turned into slashes, so that it reads the same everywhere.
  std::string Filtered(std::string text) const {
    const std::string folder = dir_.Native().string();
    for (std::size_t at; (at = text.find(folder)) != std::string::npos;) {
      text.replace(at, folder.size(), "<dir>");
    }
    std::replace(text.begin(), text.end(), '\\', '/');
    for (const char* key : {"CID: ", "parentCID: "}) {
      for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const std::size_t value = at + std::strlen(key);
        text.replace(value, text.find('\n', value) - value, "<cid>");
      }
    }
    return text;
  }
  // What the chain reads as, grain by grain from the top.
  std::vector<std::uint8_t> Expected() const {
    std::vector<std::uint8_t> bytes = base_.bytes;
    for (const MemoryDisk* disk : {&mid_, &top_}) {
      for (std::size_t g = 0; g < kSectors / 128; ++g) {
        const auto begin = disk->bytes.begin() + static_cast<std::ptrdiff_t>(g * 65536);
        if (std::any_of(begin, begin + 65536, [](std::uint8_t b) { return b != 0; })) {
          std::copy(begin, begin + 65536, bytes.begin() + static_cast<std::ptrdiff_t>(g * 65536));
        }
      }
    }
    return bytes;
  }
  std::vector<std::uint8_t> Bytes(const std::wstring& name) const {
    const std::string text = dir_.ReadFile(name);
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }

  test::TempFolder dir_;
  test::DiskMaker maker_{dir_};
  MemoryDisk base_{kSectors};
  MemoryDisk mid_{kSectors};
  MemoryDisk top_{kSectors};
};

TEST_F(Tool, UsageErrorsExitWithTwoAndTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"info"},
      {"info", "a", "b"},
      {"export", N(L"top.vmdk")},
      {"write", N(L"top.vmdk"), "12x", N(L"raw")},
      {"write", N(L"top.vmdk"), "-1", N(L"raw")},
      {"write", N(L"top.vmdk"), "99999999999999999999", N(L"raw")},
      {"set-parent-hint", N(L"top.vmdk")},
  };
  for (const auto& args : cases) {
    ToolConsole console;
    EXPECT_EQ(RunTool(args, &console), 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(console.err.find("usage: qvtdisk VERB"), std::string::npos);
    EXPECT_EQ(console.out, "");
  }
  ToolConsole console;
  EXPECT_EQ(RunTool({"help"}, &console), 0);
  EXPECT_NE(console.out.find("set-parent-hint PATH HINT"), std::string::npos);
}

TEST_F(Tool, InfoShowsTheWholeChain) {
  ToolConsole console;
  ASSERT_EQ(RunTool({"info", N(L"top.vmdk")}, &console), 0) << console.err;
  EXPECT_EQ(console.err, "");
  EXPECT_EQ(Filtered(console.out),
            "kind: VMDK\n"
            "capacity: 4096 sectors (2097152 bytes)\n"
            "geometry: 16 heads, 63 sectors per track, 512 bytes per sector\n"
            "chain:\n"
            "  disk 0: <dir>/top.vmdk\n"
            "    createType: monolithicSparse\n"
            "    CID: <cid>\n"
            "    parentCID: <cid>\n"
            "    parent hint: mid.vmdk\n"
            "    extents: 1 sparse, 4096 sectors\n"
            "    grains: 1\n"
            "  disk 1: <dir>/mid.vmdk\n"
            "    createType: twoGbMaxExtentSparse\n"
            "    CID: <cid>\n"
            "    parentCID: <cid>\n"
            "    parent hint: base.vmdk\n"
            "    extents: 2 sparse, 4096 sectors\n"
            "    grains: 1\n"
            "  disk 2: <dir>/base.vmdk\n"
            "    createType: monolithicSparse\n"
            "    CID: <cid>\n"
            "    parentCID: <cid>\n"
            "    parent hint: (none)\n"
            "    extents: 1 sparse, 4096 sectors\n"
            "    grains: 2\n");
}

TEST_F(Tool, InfoShowsAParentThatDoesNotOpenAndOtherKinds) {
  maker_.SingleFile(L"orphan.vmdk", top_, "gone\\parent.vmdk");
  MemoryDisk flat(kSectors);
  maker_.Flat(L"flat.vmdk", flat, {kSectors});
  dir_.WriteFile(L"raw.img", std::string(1024 * 512, '\0'));
  dir_.WriteFile(L"raw.ndi", "NDI 0 1024 4 17 512\n");
  ToolConsole orphan;
  ASSERT_EQ(RunTool({"info", N(L"orphan.vmdk")}, &orphan), 0) << orphan.err;
  EXPECT_NE(Filtered(orphan.out).find("geometry: 0 heads, 0 sectors per track"), std::string::npos);
  EXPECT_NE(Filtered(orphan.out).find("    parent hint: gone/parent.vmdk\n"
                                      "    extents: 1 sparse, 4096 sectors\n"
                                      "    grains: 1\n"
                                      "  parent: not opened (<dir>/gone/parent.vmdk)\n"),
            std::string::npos)
      << orphan.out;
  ToolConsole flatInfo;
  ASSERT_EQ(RunTool({"info", N(L"flat.vmdk")}, &flatInfo), 0) << flatInfo.err;
  EXPECT_NE(flatInfo.out.find("    createType: monolithicFlat\n"), std::string::npos);
  EXPECT_NE(flatInfo.out.find("    grains: none (flat extents)\n"), std::string::npos);
  ToolConsole raw;
  ASSERT_EQ(RunTool({"info", N(L"raw.img")}, &raw), 0) << raw.err;
  EXPECT_EQ(raw.out,
            "kind: raw (.ndi)\n"
            "capacity: 1024 sectors (524288 bytes)\n"
            "geometry: 4 heads, 17 sectors per track, 512 bytes per sector\n");
}

TEST_F(Tool, EngineErrorsExitWithThreeAndTheResultsName) {
  dir_.WriteFile(L"junk.vmdk", "no disk\n");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"info", N(L"missing.vmdk")}, "DISK_E_OPEN (-201)"},
      {{"info", N(L"junk.vmdk")}, "DISK_E_LIMIT (-207)"},
      {{"export", N(L"top.vmdk"), N(L"no-folder\\x.raw")}, "DISK_E_CREATE (-208)"},
      {{"write", N(L"top.vmdk"), "0", N(L"missing.raw")}, "DISK_E_OPEN (-201)"},
      {{"write", N(L"top.vmdk"), std::to_string(kSectors * 512 - 100), N(L"base.vmdk")},
       "DISK_E_LIMIT (-207)"},
      {{"set-parent-hint", N(L"base.vmdk"), "x.vmdk"}, "DISK_E_FORMAT (-206)"},
      {{"set-parent-hint", N(L"top.vmdk"), "/abs/mid.vmdk"}, "DISK_E_FORMAT (-206)"},
      {{"set-parent-hint", N(L"top.vmdk"), "top.vmdk"}, "DISK_E_FORMAT (-206)"},
  };
  for (const auto& c : cases) {
    ToolConsole console;
    EXPECT_EQ(RunTool(c.args, &console), 3) << c.args[0] << " " << c.message;
    EXPECT_NE(console.err.find(c.message), std::string::npos) << console.err;
  }
  EXPECT_NE(dir_.ReadFile(L"top.vmdk").find("parentFileNameHint=\"mid.vmdk\""), std::string::npos);
}

TEST_F(Tool, ExportGivesTheDiskThroughItsChain) {
  ToolConsole console;
  console.terminal = true;
  ASSERT_EQ(RunTool({"export", N(L"top.vmdk"), N(L"out.raw")}, &console), 0) << console.err;
  EXPECT_TRUE(Bytes(L"out.raw") == Expected());
  EXPECT_NE(console.err.find("\r["), std::string::npos) << "a bar on a terminal";
  EXPECT_NE(console.err.find("100.0%\n"), std::string::npos);
  ToolConsole quiet;
  ASSERT_EQ(RunTool({"export", N(L"mid.vmdk"), N(L"out.raw")}, &quiet), 0) << quiet.err;
  EXPECT_EQ(quiet.err, "") << "no bar when stderr is no terminal";
}

TEST_F(Tool, WriteGoesIntoTheTopDiskOnly) {
  const std::string patch(70000, '\x5e');
  dir_.WriteFile(L"patch.raw", patch);
  ToolConsole console;
  ASSERT_EQ(RunTool({"write", N(L"top.vmdk"), "65000", N(L"patch.raw")}, &console), 0)
      << console.err;
  std::vector<std::uint8_t> expected = Expected();
  std::fill(expected.begin() + 65000, expected.begin() + 65000 + 70000, 0x5e);
  ToolConsole out;
  ASSERT_EQ(RunTool({"export", N(L"top.vmdk"), N(L"out.raw")}, &out), 0) << out.err;
  EXPECT_TRUE(Bytes(L"out.raw") == expected);
  ASSERT_EQ(RunTool({"export", N(L"mid.vmdk"), N(L"mid.raw")}, &out), 0) << out.err;
  std::vector<std::uint8_t> mid = Expected();
  std::copy(base_.bytes.begin() + 20 * 65536, base_.bytes.begin() + 21 * 65536,
            mid.begin() + 20 * 65536);  // top's own grain
  EXPECT_TRUE(Bytes(L"mid.raw") == mid);
}

TEST_F(Tool, AStopAtAProgressReportExitsWithOneAndLeavesNoPartialExport) {
  // Checks 1 to 4 are the opens of the chain's four extents; 5 to 7 the
  // export's reports before, between and after its two chunks.
  for (int stopAt : {0, 4, 6}) {
    ToolConsole console;
    console.stopAtCheck = stopAt;
    EXPECT_EQ(RunTool({"export", N(L"top.vmdk"), N(L"out.raw")}, &console), 1) << stopAt;
    EXPECT_NE(console.err.find("stopped"), std::string::npos);
    EXPECT_FALSE(dir_.Exists(L"out.raw"));
  }
  dir_.WriteFile(L"patch.raw", std::string(1536 * 1024, '\x5e'));
  ToolConsole console;
  // Three reports of the read-only parents' extents, three of the writable
  // top's grain tables, one before the first chunk: the stop comes after it.
  console.stopAtCheck = 7;
  EXPECT_EQ(RunTool({"write", N(L"top.vmdk"), "0", N(L"patch.raw")}, &console), 1);
  // The disk opens afterwards: the stop left it whole.
  ToolConsole info;
  EXPECT_EQ(RunTool({"info", N(L"top.vmdk")}, &info), 0) << info.err;
}

TEST_F(Tool, SetParentHintRepointsTheChild) {
  ToolConsole console;
  ASSERT_EQ(RunTool({"set-parent-hint", N(L"top.vmdk"), "base.vmdk"}, &console), 0)
      << console.err;
  EXPECT_EQ(console.err, "");
  ToolConsole info;
  ASSERT_EQ(RunTool({"info", N(L"top.vmdk")}, &info), 0);
  EXPECT_NE(info.out.find("parent hint: base.vmdk\n"), std::string::npos);
  EXPECT_EQ(info.out.find("disk 2"), std::string::npos);

  ToolConsole missing;
  ASSERT_EQ(RunTool({"set-parent-hint", N(L"top.vmdk"), "elsewhere.vmdk"}, &missing), 0);
  EXPECT_NE(missing.err.find("warning: the new parent"), std::string::npos) << missing.err;

  dir_.WriteFile(L"raw.img", std::string(1024 * 512, '\0'));
  dir_.WriteFile(L"raw.ndi", "NDI 0 1024 4 17 512\n");
  ToolConsole raw;
  EXPECT_EQ(RunTool({"set-parent-hint", N(L"raw.img"), "base.vmdk"}, &raw), 3);
  EXPECT_NE(raw.err.find("DISK_E_UNSUPPORTED"), std::string::npos) << raw.err;
}

TEST_F(Tool, ChildMakesAnEmptyDeltaThatReadsAsItsParent) {
  ToolConsole console;
  ASSERT_EQ(RunTool({"child", N(L"top.vmdk"), N(L"new.vmdk")}, &console), 0) << console.err;
  ToolConsole out;
  ASSERT_EQ(RunTool({"export", N(L"new.vmdk"), N(L"new.raw")}, &out), 0) << out.err;
  EXPECT_TRUE(Bytes(L"new.raw") == Expected());
  ToolConsole info;
  ASSERT_EQ(RunTool({"info", N(L"new.vmdk")}, &info), 0) << info.err;
  EXPECT_NE(info.out.find("parent hint: top.vmdk\n"), std::string::npos) << info.out;

  ToolConsole absolute;
  ASSERT_EQ(RunTool({"child", N(L"top.vmdk"), N(L"abs.vmdk"), "--absolute"}, &absolute), 0)
      << absolute.err;
  ToolConsole absoluteInfo;
  ASSERT_EQ(RunTool({"info", N(L"abs.vmdk")}, &absoluteInfo), 0);
  EXPECT_NE(absoluteInfo.out.find("parent hint: " + dir_.Engine(L"top.vmdk") + "\n"),
            std::string::npos)
      << absoluteInfo.out;

  ToolConsole wrong;
  EXPECT_EQ(RunTool({"child", N(L"top.vmdk"), N(L"x.vmdk"), "--relative"}, &wrong), 2);
  ToolConsole missing;
  EXPECT_EQ(RunTool({"child", N(L"none.vmdk"), N(L"x.vmdk")}, &missing), 3);
  EXPECT_FALSE(dir_.Exists(L"x.vmdk"));
}

}  // namespace
}  // namespace qvt
