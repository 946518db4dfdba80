// qvtdisk on VHD images, in-process: a child over a VHD parent, info and
// export through the chain, and the two folds with their commit (the
// default) and discard.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TempFolder.h"
#include "ToolConsole.h"
#include "VhdImage.h"
#include "VhdTestKit.h"

namespace qvt {
namespace {

using test::RunTool;
using test::ToolConsole;

class ToolVhd : public testing::Test {
 protected:
  void SetUp() override {
    test::WriteBytes(dir_, L"g.vhd", test::DynamicImage({}));
    ASSERT_EQ(test::EngineWrite(dir_.Engine(L"g.vhd"), 0, 8192, 1), DISK_OK);
  }
  std::string N(const wchar_t* name) const { return dir_.Native(name).string(); }
  int Tool(const std::vector<std::string>& args) {
    console_ = ToolConsole();
    return RunTool(args, &console_);
  }
  std::string Read(const wchar_t* name) const {
    DiskResult r = DISK_OK;
    std::string bytes = test::EngineRead(dir_.Engine(name), &r);
    EXPECT_EQ(r, DISK_OK);
    return bytes;
  }
  // g <- b <- a, each with sectors of its own.
  void MakeChain() {
    ASSERT_EQ(Tool({"child", N(L"g.vhd"), N(L"b.vhd")}), 0) << console_.err;
    ASSERT_EQ(test::EngineWrite(dir_.Engine(L"b.vhd"), 4096, 8192, 2), DISK_OK);
    ASSERT_EQ(Tool({"child", N(L"b.vhd"), N(L"a.vhd")}), 0) << console_.err;
    ASSERT_EQ(test::EngineWrite(dir_.Engine(L"a.vhd"), 600 * 512, 4096, 3), DISK_OK);
  }

  test::TempFolder dir_;
  ToolConsole console_;
};

TEST_F(ToolVhd, ChildInfoAndExportWorkThroughTheChain) {
  ASSERT_EQ(Tool({"child", N(L"g.vhd"), N(L"c.vhd")}), 0) << console_.err;
  ASSERT_EQ(Tool({"info", N(L"c.vhd")}), 0) << console_.err;
  const std::string& out = console_.out;
  EXPECT_NE(out.find("kind: VHD\n"), std::string::npos) << out;
  EXPECT_NE(out.find("capacity: 1360 sectors"), std::string::npos) << out;
  EXPECT_NE(out.find("type: differencing"), std::string::npos) << out;
  EXPECT_NE(out.find("disk 1: " + N(L"g.vhd")), std::string::npos) << out;
  EXPECT_NE(out.find("blocks: 1 of 2 allocated"), std::string::npos) << out;
  ASSERT_EQ(Tool({"export", N(L"c.vhd"), N(L"c.raw")}), 0) << console_.err;
  EXPECT_EQ(dir_.ReadFile(L"c.raw"), Read(L"g.vhd"));
}

TEST_F(ToolVhd, FoldParentCommitsUnlessToldToDiscard) {
  MakeChain();
  const std::string seen = Read(L"a.vhd");
  const std::string live = dir_.ReadFile(L"a.vhd");
  ASSERT_EQ(Tool({"fold-parent", N(L"a.vhd"), "--discard"}), 0) << console_.err;
  EXPECT_EQ(dir_.ReadFile(L"a.vhd"), live);
  EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_TEMP"));
  ASSERT_EQ(Tool({"fold-parent", N(L"a.vhd")}), 0) << console_.err;
  EXPECT_FALSE(dir_.Exists(L"a.vhd_QVT_TEMP"));
  PathBuffer parent;
  ASSERT_EQ(VhdParentOf(dir_.Engine(L"a.vhd").c_str(), &parent), DISK_OK);
  EXPECT_EQ(std::string(parent.CString()), dir_.Engine(L"g.vhd"));
  EXPECT_EQ(Read(L"a.vhd"), seen);
}

TEST_F(ToolVhd, FoldChainLeavesAStandAloneImage) {
  MakeChain();
  const std::string seen = Read(L"a.vhd");
  ASSERT_EQ(Tool({"fold-chain", N(L"a.vhd"), "--commit"}), 0) << console_.err;
  PathBuffer parent;
  ASSERT_EQ(VhdParentOf(dir_.Engine(L"a.vhd").c_str(), &parent), DISK_OK);
  EXPECT_TRUE(parent.IsEmpty());
  EXPECT_EQ(Read(L"a.vhd"), seen);
  ASSERT_EQ(Tool({"info", N(L"a.vhd")}), 0) << console_.err;
  EXPECT_NE(console_.out.find("type: dynamic"), std::string::npos) << console_.out;
}

TEST_F(ToolVhd, FoldsRefuseWrongArgumentsAndImagesWithoutAParent) {
  EXPECT_EQ(Tool({"fold-parent"}), 2);
  EXPECT_EQ(Tool({"fold-chain", N(L"g.vhd"), "--now"}), 2);
  EXPECT_EQ(Tool({"fold-parent", N(L"g.vhd")}), 3);
  EXPECT_NE(console_.err.find("no parent"), std::string::npos) << console_.err;
  EXPECT_EQ(Tool({"fold-chain", N(L"missing.vhd")}), 3);
}

}  // namespace
}  // namespace qvt
