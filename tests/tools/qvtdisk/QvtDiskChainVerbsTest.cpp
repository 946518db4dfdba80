// qvtdisk reparent, merge-middle, consolidate and commit, run in-process over
// chains whose base qemu-img made: qemu-img judges the result (compare,
// check, info --backing-chain); --keep-temp leaves exactly the temporary
// files, which are the result; a stop at any point and an engine error leave
// the live files as they were and no temporary file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "PeerChainKit.h"
#include "SparseTestKit.h"
#include "ToolConsole.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

using test::FolderState;
using test::RunTool;
using test::ToolConsole;

struct ChainCase {
  const char* name;
  const char* verb;
  const char* subformat;
  std::vector<std::string> flags;
  // Re-pointing a split disk writes its new descriptor only, with no
  // report to stop at.
  bool reports = true;
};

void PrintTo(const ChainCase& c, std::ostream* out) { *out << c.name; }

bool Has(const ChainCase& c, const std::string& flag) {
  for (const std::string& f : c.flags) {
    if (f == flag) return true;
  }
  return false;
}

// base <- mid <- top, each with grains of its own written before its child
// is made; top.raw is what top reads as. For reparent, mid holds nothing:
// re-pointing past a disk with grains of its own would change what top reads.
class ChainVerb : public testing::TestWithParam<ChainCase> {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
    const bool reparent = std::string(GetParam().verb) == "reparent";
    std::string log;
    ASSERT_TRUE(test::MakeChain(
        dir_, GetParam().subformat, "8M",
        {{L"base.vmdk", "-c 'write -q -P 0x11 0 256k' -c 'write -q -P 0x12 5M 64k'"},
         {L"mid.vmdk",
          reparent ? "" : "-c 'write -q -P 0x21 64k 128k' -c 'write -q -P 0x22 3M 100k'"},
         {L"top.vmdk", "-c 'write -q -P 0x31 128k 4k' -c 'write -q -P 0x32 7M 64k'"}},
        &log))
        << log;
    ASSERT_EQ(test::RunIn(dir_, "qemu-img convert -O raw top.vmdk top.raw", &log), 0) << log;
  }

  std::string N(const std::wstring& name) const { return dir_.Native(name).string(); }
  std::vector<std::string> Args(std::vector<std::string> extra = {}) const {
    const ChainCase& c = GetParam();
    std::vector<std::string> args = {c.verb, N(L"top.vmdk"), N(L"mid.vmdk")};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  bool IsCommit() const { return std::string(GetParam().verb) == "commit"; }
  bool IsConsolidate() const { return std::string(GetParam().verb) == "consolidate"; }
  // The disk that now reads as top did.
  std::wstring Kept() const { return IsCommit() ? L"mid.vmdk" : L"top.vmdk"; }

  // The kept disk reads as top did, qemu-img finds no fault in it, and its
  // chain is the new one.
  void ExpectTheNewChain() {
    std::string log;
    if (Has(GetParam(), "--absolute")) {
      ToolConsole info;
      ASSERT_EQ(RunTool({"info", N(L"top.vmdk")}, &info), 0) << info.err;
      EXPECT_NE(info.out.find("parent hint: " + dir_.Engine(L"base.vmdk") + "\n"),
                std::string::npos)
          << info.out;
      // qemu-img cannot follow a Windows path; a relative hint lets it judge
      // the rest.
      ToolConsole hint;
      ASSERT_EQ(RunTool({"set-parent-hint", N(L"top.vmdk"), "base.vmdk"}, &hint), 0) << hint.err;
    }
    EXPECT_EQ(test::RunIn(dir_, "qemu-img compare -f vmdk -F raw " + test::Shell(dir_, Kept()) +
                                    " top.raw",
                          &log),
              0)
        << log;
    EXPECT_EQ(test::RunIn(dir_, "qemu-img check -f vmdk " + test::Shell(dir_, Kept()), &log), 0)
        << log;
    const std::vector<std::string> backing = test::BackingFiles(dir_, Kept(), &log);
    const std::vector<std::string> expected =
        IsConsolidate() ? std::vector<std::string>{} : std::vector<std::string>{"base.vmdk"};
    EXPECT_EQ(backing, expected) << log;
  }
  void ExpectNoTemporaryFile() const {
    for (const auto& f : test::Snapshot(dir_)) {
      EXPECT_EQ(f.first.find("_QVT_"), std::string::npos) << f.first << " left behind";
    }
  }

  test::TempFolder dir_;
};

TEST_P(ChainVerb, KeepsWhatTheChainReadAndQemuAgrees) {
  ToolConsole console;
  ASSERT_EQ(RunTool(Args(), &console), 0) << console.err;
  EXPECT_NE(console.out.find(N(L"top.vmdk")), std::string::npos) << console.out;
  ExpectTheNewChain();
  ExpectNoTemporaryFile();
}

TEST_P(ChainVerb, KeepTempLeavesTheLiveFilesAndExactlyTheTemporaryFilesThatAreTheResult) {
  const FolderState before = test::Snapshot(dir_);
  ToolConsole console;
  ASSERT_EQ(RunTool(Args({"--keep-temp"}), &console), 0) << console.err;
  FolderState after = test::Snapshot(dir_);
  std::vector<std::string> listed;
  for (const auto& f : after) {
    if (before.count(f.first) != 0) {
      EXPECT_EQ(f.second, before.at(f.first)) << f.first << " changed";
      continue;
    }
    EXPECT_EQ(f.first.size() > 9 ? f.first.substr(f.first.size() - 9) : "", "_QVT_TEMP")
        << f.first;
    EXPECT_NE(console.out.find("  " + (dir_.Native() / f.first).string() + "\n"),
              std::string::npos)
        << f.first << " is not listed in\n" << console.out;
    listed.push_back(f.first);
  }
  EXPECT_EQ(after.size(), before.size() + listed.size());
  ASSERT_FALSE(listed.empty());
  // Put in place by hand, the kept files make the same new chain.
  for (const std::string& temp : listed) {
    std::filesystem::rename(dir_.Native() / temp, dir_.Native() / temp.substr(0, temp.size() - 9));
  }
  ExpectTheNewChain();
}

TEST_P(ChainVerb, AStopAnywhereLeavesTheLiveFilesAsTheyWere) {
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
  if (GetParam().reports) {
    EXPECT_GT(stop, 0) << "the work made no report";
  }
  ExpectTheNewChain();
}

TEST_P(ChainVerb, RecycleSendsTheReplacedFilesAwayAsBackups) {
#if defined(_WIN32)
  GTEST_SKIP() << "the recycle bin of the test machine is not the test's to fill";
#else
  // The POSIX recycle bin is the freedesktop.org trash under XDG_DATA_HOME.
  const std::filesystem::path data = dir_.Native() / "xdg";
  std::filesystem::create_directory(data);
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_DATA_HOME", data.string().c_str(), 1);
  ToolConsole console;
  const int status = RunTool(Args({"--recycle"}), &console);
  if (old != nullptr) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
  ASSERT_EQ(status, 0) << console.err;
  // Each replaced file is there under its backup name, and only those.
  int recycled = 0;
  for (const auto& f : std::filesystem::directory_iterator(data / "Trash" / "files")) {
    const std::string name = f.path().filename().string();
    ASSERT_GT(name.size(), 8u);
    EXPECT_EQ(name.substr(name.size() - 8), "_QVT_DEL") << name;
    EXPECT_TRUE(std::filesystem::exists(dir_.Native() / name.substr(0, name.size() - 8))) << name;
    ++recycled;
  }
  EXPECT_GT(recycled, 0);
  std::filesystem::remove_all(data);
  ExpectNoTemporaryFile();
#endif
}

const ChainCase kCases[] = {
    {"ReparentSingle", "reparent", "monolithicSparse", {}},
    {"ReparentSplitAbsolute", "reparent", "twoGbMaxExtentSparse", {"--absolute"}, false},
    {"MergeMiddleSingle", "merge-middle", "monolithicSparse", {}},
    {"MergeMiddleSplitPrevent", "merge-middle", "twoGbMaxExtentSparse", {"--prevent-fragment"}},
    {"MergeMiddleAbsolutePrevent", "merge-middle", "monolithicSparse",
     {"--absolute", "--prevent-fragment"}},
    {"ConsolidateSinglePrevent", "consolidate", "monolithicSparse", {"--prevent-fragment"}},
    {"ConsolidateSplit", "consolidate", "twoGbMaxExtentSparse", {}},
    {"CommitSingle", "commit", "monolithicSparse", {}},
    {"CommitSplitPrevent", "commit", "twoGbMaxExtentSparse", {"--prevent-fragment"}},
};

INSTANTIATE_TEST_SUITE_P(Chains, ChainVerb, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ChainCase>& i) { return i.param.name; });

// Putting the files in place fails where a backup name is taken (by a
// folder, which no rename replaces). Over a split chain past 2 GiB, so that
// every disk has two extent files and the commit two sets.
struct PutCase {
  const char* name;
  const char* verb;
  const wchar_t* taken;  // the backup name in the way
  bool changed;          // a live file was replaced before the failure
};

void PrintTo(const PutCase& c, std::ostream* out) { *out << c.name; }

class PutInPlace : public testing::TestWithParam<PutCase> {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
    std::string log;
    ASSERT_TRUE(test::MakeChain(
        dir_, "twoGbMaxExtentSparse", "2100M",
        {{L"base.vmdk", "-c 'write -q -P 0x11 0 256k' -c 'write -q -P 0x12 2050M 64k'"},
         {L"mid.vmdk", "-c 'write -q -P 0x21 64k 128k' -c 'write -q -P 0x22 2060M 100k'"},
         {L"top.vmdk", "-c 'write -q -P 0x31 128k 4k' -c 'write -q -P 0x32 2070M 64k'"}},
        &log))
        << log;
    ASSERT_EQ(test::RunIn(dir_, "qemu-img convert -O raw top.vmdk " + Raw(), &log), 0) << log;
  }
  std::string N(const std::wstring& name) const { return dir_.Native(name).string(); }
  // What top reads as, kept apart: the snapshots would read all its bytes.
  std::string Raw() const { return test::Shell(expected_, L"top.raw"); }
  test::TempFolder dir_;
  test::TempFolder expected_;
};

TEST_P(PutInPlace, AFailureLeavesTheDisksAsTheyWereOrTheCopiesThatFinishTheChange) {
  const PutCase& c = GetParam();
  std::filesystem::create_directory(dir_.Native(c.taken));
  dir_.WriteFile(std::wstring(c.taken) + L"\\in-the-way", "x");
  const FolderState before = test::Snapshot(dir_);
  ToolConsole console;
  ASSERT_EQ(RunTool({c.verb, N(L"top.vmdk"), N(L"mid.vmdk")}, &console), 3) << console.err;
  EXPECT_NE(console.err.find("DISK_E_CREATE (-208)"), std::string::npos) << console.err;
  const FolderState after = test::Snapshot(dir_);
  if (!c.changed) {
    EXPECT_EQ(after, before);
    return;
  }
  // The copies left are named, and renamed as told they make the new chain.
  std::vector<std::string> left;
  for (const auto& f : after) {
    if (f.first.find("_QVT_") == std::string::npos) continue;
    ASSERT_EQ(f.first.substr(f.first.size() - 9), "_QVT_TEMP") << f.first;
    EXPECT_NE(console.err.find("  " + (dir_.Native() / f.first).string() + "\n"),
              std::string::npos)
        << console.err;
    left.push_back(f.first);
  }
  ASSERT_FALSE(left.empty()) << console.err;
  for (const std::string& temp : left) {
    std::filesystem::rename(dir_.Native() / temp, dir_.Native() / temp.substr(0, temp.size() - 9));
  }
  const std::string kept = std::string(c.verb) == "commit" ? "mid.vmdk" : "top.vmdk";
  std::string log;
  EXPECT_EQ(test::RunIn(dir_, "qemu-img compare -f vmdk -F raw " + kept + " " + Raw(), &log), 0)
      << log;
  EXPECT_EQ(test::RunIn(dir_, "qemu-img check " + kept, &log), 0) << log;
}

const PutCase kPutCases[] = {
    // The descriptor goes first: nothing replaced yet.
    {"MergeDescriptorTaken", "merge-middle", L"top.vmdk_QVT_DEL", false},
    {"MergeSecondExtentTaken", "merge-middle", L"top-s002.vmdk_QVT_DEL", true},
    {"CommitFirstExtentTaken", "commit", L"mid-s001.vmdk_QVT_DEL", false},
    {"CommitSecondExtentTaken", "commit", L"mid-s002.vmdk_QVT_DEL", true},
};

INSTANTIATE_TEST_SUITE_P(Chains, PutInPlace, testing::ValuesIn(kPutCases),
                         [](const testing::TestParamInfo<PutCase>& i) { return i.param.name; });

// Without peers: the engine's own disks, so that these run under Wine too.
class ChainVerbRefusal : public testing::Test {
 protected:
  void SetUp() override {
    base_.Pattern(0, 65536, 0x11);
    maker_.SingleFile(L"base.vmdk", base_);
    top_.Pattern(65536, 65536, 0x21);
    maker_.SingleFile(L"top.vmdk", top_, "base.vmdk");
    maker_.SingleFile(L"other.vmdk", base_);
  }
  std::string N(const std::wstring& name) const { return dir_.Native(name).string(); }

  test::TempFolder dir_;
  test::DiskMaker maker_{dir_};
  test::MemoryDisk base_{2048};
  test::MemoryDisk top_{2048};
};

TEST_F(ChainVerbRefusal, WrongArgumentsAreUsageErrors) {
  const std::string a = N(L"top.vmdk");
  const std::string b = N(L"base.vmdk");
  const std::vector<std::vector<std::string>> cases = {
      {"reparent"},
      {"merge-middle", a},
      {"consolidate", a, b, b},
      {"reparent", a, b, "--prevent-fragment"},
      {"consolidate", a, b, "--absolute"},
      {"commit", a, b, "--absolute"},
      {"commit", a, b, "--keep-temp", "--recycle"},
      {"merge-middle", a, b, "--now"},
  };
  const FolderState before = test::Snapshot(dir_);
  for (const auto& args : cases) {
    ToolConsole console;
    EXPECT_EQ(RunTool(args, &console), 2) << args[0] << " " << args.size();
    EXPECT_NE(console.err.find("usage: qvtdisk VERB"), std::string::npos);
    EXPECT_EQ(console.out, "");
  }
  EXPECT_EQ(test::Snapshot(dir_), before);
  ToolConsole help;
  ASSERT_EQ(RunTool({"help"}, &help), 0);
  for (const char* verb : {"  reparent CHILD MIDDLE", "  merge-middle CHILD MIDDLE",
                           "  consolidate CHILD TOP", "  commit CHILD PARENT"}) {
    EXPECT_NE(help.out.find(verb), std::string::npos) << verb;
  }
}

TEST_F(ChainVerbRefusal, EngineErrorsExitWithThreeAndLeaveNoTemporaryFile) {
  const FolderState before = test::Snapshot(dir_);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      // A base disk is no child to take anything in.
      {{"reparent", N(L"base.vmdk"), N(L"top.vmdk")}, "DISK_E_FORMAT (-206)"},
      {{"merge-middle", N(L"base.vmdk"), N(L"top.vmdk")}, "DISK_E_FORMAT (-206)"},
      {{"consolidate", N(L"base.vmdk"), N(L"top.vmdk")}, "DISK_E_FORMAT (-206)"},
      {{"commit", N(L"base.vmdk"), N(L"top.vmdk")}, "DISK_E_FORMAT (-206)"},
      // top's parent has no parent to re-point to.
      {{"reparent", N(L"top.vmdk"), N(L"base.vmdk")}, "DISK_E_FORMAT (-206)"},
      {{"commit", N(L"none.vmdk"), N(L"base.vmdk")}, "DISK_E_OPEN (-201)"},
      {{"consolidate", N(L"top.vmdk"), N(L"none.vmdk")}, "DISK_E_OPEN (-201)"},
      // A disk that is not the child's parent is never folded into or past.
      {{"commit", N(L"top.vmdk"), N(L"other.vmdk")}, "other.vmdk is not the parent of"},
      {{"merge-middle", N(L"top.vmdk"), N(L"other.vmdk")}, "other.vmdk is not the parent of"},
      {{"reparent", N(L"top.vmdk"), N(L"other.vmdk")}, "other.vmdk is not the parent of"},
  };
  for (const auto& c : cases) {
    ToolConsole console;
    EXPECT_EQ(RunTool(c.args, &console), 3) << c.args[0] << " " << c.message;
    EXPECT_NE(console.err.find(c.message), std::string::npos) << console.err;
    EXPECT_NE(console.err.find("qvtdisk: cannot "), std::string::npos) << console.err;
    EXPECT_EQ(test::Snapshot(dir_), before) << c.args[0] << " " << c.message;
  }
}

}  // namespace
}  // namespace qvt
