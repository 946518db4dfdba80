// qvtdisk copy, run in-process over disks qemu-img made (a VMDK chain with a
// child of the engine's, a split chain, a VHD image): qemu-img finds the copy
// identical to the source, sound and without a parent, in the layout asked
// for; a stop anywhere and a refused copy leave no file behind; a trimmed
// copy of an ext4 volume with a deleted file keeps the filesystem whole and
// the kept file's bytes, and is smaller.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PeerChainKit.h"
#include "SparseTestKit.h"
#include "ToolConsole.h"

namespace qvt {
namespace {

using test::FolderState;
using test::RunTool;
using test::ToolConsole;

enum class Source { kChain, kSplitChain, kVhd };

struct CopyCase {
  const char* name;
  Source source;
  std::vector<std::string> flags;
  const char* createType;
  std::vector<std::string> files;     // what the copy writes
  std::vector<std::string> contains;  // lines its descriptor holds
};

void PrintTo(const CopyCase& c, std::ostream* out) { *out << c.name; }

class CopyVerb : public testing::TestWithParam<CopyCase> {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
    std::string log;
    switch (GetParam().source) {
      case Source::kChain:
        ASSERT_TRUE(test::MakeChain(
            dir_, "monolithicSparse", "64M",
            {{L"base.vmdk", "-c 'write -q -P 0x11 0 1M' -c 'write -q -P 0x12 40M 64k'"},
             {L"top.vmdk", "-c 'write -q -P 0x31 512k 4k' -c 'write -q -P 0x32 63M 1M'"}},
            &log))
            << log;
        break;
      case Source::kSplitChain:
        // Past 2 GiB, so that qemu-img makes two extent files.
        ASSERT_TRUE(test::MakeChain(
            dir_, "twoGbMaxExtentSparse", "2100M",
            {{L"base.vmdk", "-c 'write -q -P 0x11 0 1M' -c 'write -q -P 0x12 2047M 2M'"},
             {L"top.vmdk", "-c 'write -q -P 0x31 2048M 64k' -c 'write -q -P 0x32 2099M 1M'"}},
            &log))
            << log;
        break;
      case Source::kVhd:
        ASSERT_EQ(test::RunIn(dir_, "qemu-img create -q -f vpc -o subformat=dynamic top.vhd 64M",
                              &log),
                  0)
            << log;
        ASSERT_EQ(test::RunIn(dir_,
                              "qemu-io -t unsafe -f vpc -c 'write -q -P 0x44 3M 5M' "
                              "-c 'write -q -P 0x45 60M 64k' top.vhd",
                              &log),
                  0)
            << log;
        break;
    }
  }
  std::wstring SourceName() const {
    return GetParam().source == Source::kVhd ? L"top.vhd" : L"top.vmdk";
  }
  std::string SourceFormat() const { return GetParam().source == Source::kVhd ? "vpc" : "vmdk"; }
  std::vector<std::string> Args() const {
    std::vector<std::string> args = {"copy", dir_.Native(SourceName()).string(),
                                     dir_.Native(L"out.vmdk").string()};
    args.insert(args.end(), GetParam().flags.begin(), GetParam().flags.end());
    return args;
  }
  // The copy reads as the source, qemu-img finds no fault and no parent,
  // and the copy is in the layout asked for.
  void ExpectTheCopy() {
    std::string log;
    EXPECT_EQ(test::RunIn(dir_, "qemu-img compare -f " + SourceFormat() + " -F vmdk " +
                                    test::Shell(dir_, SourceName()) + " out.vmdk",
                          &log),
              0)
        << log;
    EXPECT_EQ(test::RunIn(dir_, "qemu-img check -f vmdk out.vmdk", &log), 0) << log;
    EXPECT_EQ(test::BackingFiles(dir_, L"out.vmdk", &log), std::vector<std::string>{}) << log;
    EXPECT_NE(log.find(std::string("create type: ") + GetParam().createType + "\n"),
              std::string::npos)
        << log;
    const std::string descriptor = dir_.ReadFile(L"out.vmdk");
    for (const std::string& line : GetParam().contains) {
      EXPECT_NE(descriptor.find(line + "\n"), std::string::npos) << line;
    }
  }

  test::TempFolder dir_;
};

TEST_P(CopyVerb, WritesAStandaloneDiskThatReadsAsTheSource) {
  const FolderState before = test::Snapshot(dir_);
  ToolConsole console;
  ASSERT_EQ(RunTool(Args(), &console), 0) << console.err;
  EXPECT_EQ(console.out, "copied " + Args()[1] + " to " + Args()[2] + "\n");
  ExpectTheCopy();
  FolderState after = test::Snapshot(dir_);
  for (const std::string& f : GetParam().files) {
    EXPECT_EQ(after.erase(f), 1u) << f << " not written";
  }
  EXPECT_EQ(after, before) << "the source changed, or the copy wrote other files";
}

TEST_P(CopyVerb, AStopAnywhereLeavesNoFileBehind) {
  const FolderState before = test::Snapshot(dir_);
  int stop = 0;
  for (;; stop = stop == 0 ? 1 : stop * 2) {
    ToolConsole console;
    console.stopAtCheck = stop;
    const int status = RunTool(Args(), &console);
    if (status == 0) break;
    ASSERT_EQ(status, 1) << "stop at " << stop << ": " << console.err;
    EXPECT_EQ(console.err, "qvtdisk: stopped\n") << "stop at " << stop;
    ASSERT_EQ(test::Snapshot(dir_), before) << "stop at " << stop;
    ASSERT_LT(stop, 1 << 20);
  }
  EXPECT_GT(stop, 1) << "the copy made no report past its opening";
  ExpectTheCopy();
}

const CopyCase kCases[] = {
    {"ChainAsItIs", Source::kChain, {}, "monolithicSparse", {"out.vmdk"},
     {"ddb.adapterType = \"ide\"", "CID=fffffffe", "parentCID=ffffffff"}},
    {"ChainSplit", Source::kChain, {"--layout", "split"}, "twoGbMaxExtentSparse",
     {"out.vmdk", "out-s001.vmdk"}, {"RW 131072 SPARSE \"out-s001.vmdk\""}},
    {"ChainFlat", Source::kChain, {"--layout", "flat"}, "monolithicFlat",
     {"out.vmdk", "out-flat.vmdk"}, {"RW 131072 FLAT \"out-flat.vmdk\" 0"}},
    {"ChainStream", Source::kChain, {"--stream-optimized"}, "streamOptimized", {"out.vmdk"}, {}},
    {"ChainStreamBusLogic7", Source::kChain,
     {"--layout", "stream", "--adapter", "buslogic", "--hw-version", "7"}, "streamOptimized",
     {"out.vmdk"}, {"ddb.adapterType = \"buslogic\"", "ddb.virtualHWVersion = \"7\""}},
    {"ChainNamedAdapter", Source::kChain, {"--adapter", "lsilogic", "--trim"}, "monolithicSparse",
     {"out.vmdk"}, {"ddb.adapterType = \"lsilogic\""}},
    {"SplitChainAsItIs", Source::kSplitChain, {}, "twoGbMaxExtentSparse",
     {"out.vmdk", "out-s001.vmdk", "out-s002.vmdk"},
     {"RW 4194304 SPARSE \"out-s001.vmdk\"", "RW 106496 SPARSE \"out-s002.vmdk\""}},
    {"SplitChainDerivedBusLogic", Source::kSplitChain, {"--mode", "4", "--adapter", "buslogic"},
     "twoGbMaxExtentSparse", {"out.vmdk", "out-s001.vmdk", "out-s002.vmdk"},
     {"ddb.adapterType = \"buslogic\""}},
    {"SplitChainOwnSplit", Source::kSplitChain, {"--layout", "split"}, "twoGbMaxExtentSparse",
     {"out.vmdk", "out-s001.vmdk", "out-s002.vmdk"},
     {"RW 4192256 SPARSE \"out-s001.vmdk\"", "RW 108544 SPARSE \"out-s002.vmdk\""}},
    {"SplitChainSingle", Source::kSplitChain, {"--layout", "single"}, "monolithicSparse",
     {"out.vmdk"}, {}},
    {"Vhd", Source::kVhd, {}, "monolithicSparse", {"out.vmdk"},
     {"ddb.adapterType = \"lsilogic\"", "ddb.virtualHWVersion = \"12\""}},
    {"VhdSplitIde", Source::kVhd, {"--layout", "split", "--adapter", "ide"},
     "twoGbMaxExtentSparse", {"out.vmdk", "out-s001.vmdk"}, {"ddb.adapterType = \"ide\""}},
};

INSTANTIATE_TEST_SUITE_P(Sources, CopyVerb, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CopyCase>& i) { return i.param.name; });

class CopyVerbRefusal : public testing::Test {
 protected:
  std::string N(const std::wstring& name) const { return dir_.Native(name).string(); }
  test::TempFolder dir_;
};

TEST_F(CopyVerbRefusal, WrongArgumentsAreUsageErrors) {
  const std::string a = N(L"a.vmdk");
  const std::string b = N(L"b.vmdk");
  const std::vector<std::vector<std::string>> cases = {
      {"copy", a},
      {"copy", a, b, b},
      {"copy", a, b, "--layout"},
      {"copy", a, b, "--layout", "sparse"},
      {"copy", a, b, "--mode", "5"},
      {"copy", a, b, "--mode", "-1"},
      {"copy", a, b, "--mode", "1", "--layout", "split"},
      {"copy", a, b, "--stream-optimized", "--layout", "flat"},
      {"copy", a, b, "--adapter", "scsi"},
      {"copy", a, b, "--hw-version", "2"},
      {"copy", a, b, "--hw-version", "14"},
      {"copy", a, b, "--keep-temp"},
  };
  for (const auto& args : cases) {
    ToolConsole console;
    EXPECT_EQ(RunTool(args, &console), 2) << args.back();
    EXPECT_NE(console.err.find("usage: qvtdisk VERB"), std::string::npos) << args.back();
  }
  EXPECT_TRUE(test::Snapshot(dir_).empty());
}

TEST_F(CopyVerbRefusal, ARefusedCopyWritesNothingAndOverwritesNothing) {
  if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
  std::string log;
  ASSERT_EQ(test::RunIn(dir_, "qemu-img create -q -f vpc d.vhd 8M && "
                              "qemu-img create -q -f vmdk taken.vmdk 8M && "
                              "qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse "
                              "s.vmdk 8M && touch split-s001.vmdk",
                        &log),
            0)
      << log;
  const FolderState before = test::Snapshot(dir_);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      // The derived modes need a VMDK source.
      {{"copy", N(L"d.vhd"), N(L"new.vmdk"), "--mode", "3"}, "DISK_E_LIMIT (-207)"},
      {{"copy", N(L"d.vhd"), N(L"new.vmdk"), "--mode", "4"}, "DISK_E_LIMIT (-207)"},
      {{"copy", N(L"missing.vmdk"), N(L"new.vmdk")}, "DISK_E_OPEN (-201)"},
      {{"copy", N(L"d.vhd"), N(L"taken.vmdk")}, "taken.vmdk exists"},
      // An extent file the copy would write is there already.
      {{"copy", N(L"d.vhd"), N(L"split.vmdk"), "--layout", "split"}, "split-s001.vmdk exists"},
      {{"copy", N(L"s.vmdk"), N(L"s.vmdk"), "--layout", "single"}, "s.vmdk exists"},
  };
  for (const auto& c : cases) {
    ToolConsole console;
    EXPECT_EQ(RunTool(c.args, &console), 3) << c.message;
    EXPECT_NE(console.err.find(c.message), std::string::npos) << console.err;
    EXPECT_EQ(test::Snapshot(dir_), before) << c.message;
  }
}

// An ext4 volume (mkfs.ext4 on a file) with a file kept and a larger one
// deleted (debugfs), as a VMDK: the raw file itself is no candidate for a
// trim, as raw images answer no emptiness question and are copied whole.
TEST(CopyVerbTrim, LeavesOutWhatTheFilesystemDoesNotUseAndKeepsItWhole) {
  if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
  if (test::Run("mkfs.ext4 -V && debugfs -V && e2fsck -V") != 0) {
    GTEST_SKIP() << "mkfs.ext4, debugfs and e2fsck (e2fsprogs) are not installed";
  }
  test::TempFolder dir;
  std::string log;
  ASSERT_EQ(test::RunIn(dir,
                        "mkdir content && head -c 3M /dev/urandom > content/keep.bin && "
                        "head -c 20M /dev/urandom > content/gone.bin && "
                        "truncate -s 64M disk.img && mkfs.ext4 -q -F -d content disk.img && "
                        "debugfs -w -R 'rm /gone.bin' disk.img && "
                        "echo 'NDI 0 131072 16 63 512' > disk.ndi && "
                        "qemu-img convert -f raw -O vmdk disk.img disk.vmdk",
                        &log),
            0)
      << log;
  for (const auto& [name, flags] : std::vector<std::pair<std::wstring, std::vector<std::string>>>{
           {L"full.vmdk", {}}, {L"trim.vmdk", {"--trim"}}, {L"raw.vmdk", {}}}) {
    const std::wstring from = name == L"raw.vmdk" ? L"disk.img" : L"disk.vmdk";
    std::vector<std::string> args = {"copy", dir.Native(from).string(), dir.Native(name).string()};
    args.insert(args.end(), flags.begin(), flags.end());
    ToolConsole console;
    ASSERT_EQ(RunTool(args, &console), 0) << console.err;
  }
  EXPECT_EQ(test::RunIn(dir, "qemu-img compare -f raw -F vmdk disk.img full.vmdk", &log), 0)
      << log;
  EXPECT_EQ(test::RunIn(dir, "qemu-img compare -f raw -F vmdk disk.img raw.vmdk", &log), 0)
      << log;
  EXPECT_EQ(test::RunIn(dir, "qemu-img check trim.vmdk", &log), 0) << log;
  ASSERT_EQ(test::RunIn(dir, "qemu-img convert -O raw trim.vmdk trim.raw", &log), 0) << log;
  EXPECT_EQ(test::RunIn(dir, "e2fsck -fn trim.raw", &log), 0) << log;
  ASSERT_EQ(test::RunIn(dir, "debugfs -R 'dump /keep.bin kept.bin' trim.raw", &log), 0) << log;
  EXPECT_EQ(test::RunIn(dir, "cmp content/keep.bin kept.bin", &log), 0) << log;
  const auto full = std::filesystem::file_size(dir.Native(L"full.vmdk"));
  const auto trim = std::filesystem::file_size(dir.Native(L"trim.vmdk"));
  // The deleted file's 20 MiB are left out (but for grains it shares with
  // what is in use).
  EXPECT_LT(trim + 19 * 1024 * 1024, full) << trim << " of " << full;
}

}  // namespace
}  // namespace qvt
