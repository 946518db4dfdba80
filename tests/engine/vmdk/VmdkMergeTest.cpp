// Merges, consolidation and commit over chains with a base qemu-img made, checked by
// qemu-img (compare, check, info --backing-chain), and walked through every
// stop and every failing write: the live files must come out untouched.
#include "VmdkMerge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "FileLayer.h"
#include "ImageOpen.h"
#include "MergeChainKit.h"
#include "SparseTestKit.h"
#include "TempFolder.h"
#include "VmdkCopy.h"
#include "VmdkImage.h"

namespace qvt {
namespace {

using test::Quote;

using test::TempFolder;
using test::CreateChildOf;
using test::Files;


// kCommit folds top into mid (a parent that is itself a child), kCommitToBase
// folds mid into the base qemu-img made.
enum class Op { kReparent, kMergeMiddle, kConsolidate, kCommit, kCommitToBase };

struct Case {
  const char* name;
  Op op;
  const char* subformat;
  bool preventFragment;
  int fewestStops;  // reports the operation makes at the least
  bool engineBase = false;  // the base is the engine's copy of qemu-img's
};

// The engine's standalone copy of a disk, in the same layout.
DiskResult CopyOf(const std::string& from, const std::string& to, const std::string& subformat) {
  ImageHandle source = NoImage();
  DiskResult r = ImageOpen(&source, from.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr);
  if (r != DISK_OK) return r;
  VmdkLayout layout{};
  layout.mode = kVmdkLayoutSourceFirst;
  layout.streamOptimized = subformat == "streamOptimized";
  layout.adapter = kVmdkAdapterLsiLogic;
  layout.hwVersionIndex = kVmdkHwVersionDefault;
  r = VmdkCopyImage(to.c_str(), &source, nullptr, nullptr, nullptr, layout);
  ImageClose(&source);
  return r;
}

class ChainOperation : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
    const std::string sub = GetParam().subformat;
    // qemu-img makes the base; the children are the engine's own (it refuses
    // the disk database qemu-img writes into children). Each disk is written
    // before its child is made: a write gives a disk a new CID, which its
    // children would then no longer match.
    // The base is converted from a raw disk, so that every subformat (stream-
    // optimized too, which qemu-io cannot write into) holds the same data.
    Make("qemu-img create -q -f raw base.raw 8M");
    Make("qemu-io -f raw -c 'write -P 0x11 0 256k' -c 'write -P 0x12 5M 64k' base.raw");
    if (GetParam().engineBase) {
      Make("qemu-img convert -O vmdk -o subformat=" + sub + " base.raw qemu-base.vmdk");
      ASSERT_EQ(CopyOf(E(L"qemu-base.vmdk"), E(L"base.vmdk"), sub), DISK_OK);
    } else {
      Make("qemu-img convert -O vmdk -o subformat=" + sub + " base.raw base.vmdk");
    }
    ASSERT_EQ(CreateChildOf(E(L"base.vmdk"), E(L"mid.vmdk")), DISK_OK);
    if (GetParam().op != Op::kReparent) {
      Make("qemu-io -f vmdk -c 'write -P 0x21 64k 128k' -c 'write -P 0x22 3M 100k' " +
           N(L"mid.vmdk"));
    }
    ASSERT_EQ(CreateChildOf(E(L"mid.vmdk"), E(L"top.vmdk")), DISK_OK);
    Make("qemu-io -f vmdk -c 'write -P 0x31 128k 4k' -c 'write -P 0x32 7M 64k' " + N(L"top.vmdk"));
    Make("qemu-img convert -O raw mid.vmdk mid.raw");
    Make("qemu-img convert -O raw top.vmdk top.raw");
  }
  void Make(const std::string& command) { ASSERT_EQ(chain_.Run(command), 0) << command; }
  std::string N(const std::wstring& name) const { return chain_.Q(name); }
  std::string E(const std::wstring& name) const { return chain_.E(name); }
  Files Snapshot() const { return chain_.Snapshot(); }

  // Runs the operation; commits when asked, else rolls back.
  DiskResult Perform(bool commit, ProgressFn progress = nullptr, void* context = nullptr) {
    const Case& c = GetParam();
    if (c.op == Op::kCommit || c.op == Op::kCommitToBase) {
      const bool toBase = c.op == Op::kCommitToBase;
      ReplaceSetList list;
      const DiskResult r =
          VmdkCommitIntoParent(E(toBase ? L"mid.vmdk" : L"top.vmdk").c_str(),
                               E(toBase ? L"base.vmdk" : L"mid.vmdk").c_str(), c.preventFragment,
                               &list, progress, context);
      const DiskResult end = r == DISK_OK && commit ? ReplaceSetListCommit(&list, "_QVT_DEL", false)
                                                    : ReplaceSetListRollback(&list);
      return r != DISK_OK ? r : end;
    }
    ReplaceSet set;
    ReplaceSetInit(&set);
    DiskResult r = DISK_OK;
    const std::string top = E(L"top.vmdk"), mid = E(L"mid.vmdk");
    if (c.op == Op::kReparent) {
      r = VmdkReparent(top.c_str(), mid.c_str(), false, &set, progress, context);
    } else if (c.op == Op::kMergeMiddle) {
      r = VmdkMergeMiddleIntoChild(top.c_str(), mid.c_str(), false, c.preventFragment, &set,
                                   progress, context);
    } else {
      r = VmdkConsolidate(top.c_str(), mid.c_str(), c.preventFragment, &set, progress, context);
    }
    const DiskResult end = r == DISK_OK && commit ? ReplaceSetCommit(&set, "_QVT_DEL", false)
                                                  : ReplaceSetRollback(&set);
    return r != DISK_OK ? r : end;
  }

  test::ChainFolder chain_;
};

TEST_P(ChainOperation, KeepsWhatTheUserReadsAndQemuAgrees) {
  ASSERT_EQ(Perform(true), DISK_OK);
  const Case& c = GetParam();
  const bool toBase = c.op == Op::kCommitToBase;
  const std::wstring kept = c.op == Op::kCommit ? L"mid.vmdk" : toBase ? L"base.vmdk" : L"top.vmdk";
  const std::wstring readBefore = toBase ? L"mid.raw" : L"top.raw";
  std::string log;
  EXPECT_EQ(test::Run("qemu-img compare -f vmdk -F raw " + N(kept) + " " + N(readBefore), &log), 0)
      << log;
  EXPECT_EQ(test::Run("qemu-img check -f vmdk " + N(kept), &log), 0) << log;
  ASSERT_EQ(test::Run("qemu-img info --backing-chain " + N(kept), &log), 0) << log;
  const bool standalone = c.op == Op::kConsolidate || toBase;
  EXPECT_EQ(log.find("backing file: base.vmdk") != std::string::npos, !standalone) << log;
  if (c.op != Op::kCommit && !toBase) {
    EXPECT_EQ(log.find("mid.vmdk"), std::string::npos) << log;
  }
  if (standalone) {
    // A consolidated child's sparse files keep their own type even where the
    // base was flat or stream-optimized: the base's type would send readers
    // to files laid out otherwise. A commit leaves the base's type.
    const std::string sub = c.subformat;
    const bool split = sub.find("twoGb") != std::string::npos;
    const std::string type =
        toBase ? sub : split ? "twoGbMaxExtentSparse" : "monolithicSparse";
    EXPECT_NE(log.find("create type: " + type), std::string::npos) << log;
  }
  for (const auto& f : Snapshot()) {
    EXPECT_EQ(f.first.find("_QVT_"), std::string::npos) << f.first << " left behind";
  }
}

TEST_P(ChainOperation, AStopAtAnyReportLeavesTheLiveFilesAsTheyWere) {
  const Files before = Snapshot();
  for (int stop = 0;; ++stop) {
    test::ProgressLog progress;
    progress.stopAt = stop;
    const DiskResult r = Perform(false, &test::ProgressLog::Record, &progress);
    ASSERT_TRUE(r == DISK_CANCELLED || r == DISK_OK) << "stop " << stop << ": " << r;
    ASSERT_EQ(Snapshot(), before) << "stop " << stop;
    if (r == DISK_OK) {
      EXPECT_GE(stop, GetParam().fewestStops);
      std::printf("%d stops walked\n", stop);
      break;
    }
    ASSERT_LT(stop, 100000);
  }
}

TEST_P(ChainOperation, AFailingWriteAtAnyStepLeavesTheLiveFilesAsTheyWere) {
  const Files before = Snapshot();
  for (long writes = 0;; ++writes) {
    InjectFileFaults(-1, writes);
    const DiskResult r = Perform(false);
    InjectFileFaults(-1, -1);
    ASSERT_EQ(Snapshot(), before) << "write " << writes << " failed: " << r;
    if (r == DISK_OK) {
      EXPECT_GE(writes, 1);  // the new descriptor at the least
      std::printf("%ld failing writes walked\n", writes);
      break;
    }
    ASSERT_TRUE(DiskFailed(r)) << r;
    ASSERT_LT(writes, 100000);
  }
}

// A reparent of a split disk writes only a new descriptor file and cannot be
// stopped; every other operation reports through its copies and grain loops.
const Case kCases[] = {
    {"ReparentSingle", Op::kReparent, "monolithicSparse", false, 1},
    {"ReparentSplit", Op::kReparent, "twoGbMaxExtentSparse", false, 0},
    {"MergeSingle", Op::kMergeMiddle, "monolithicSparse", false, 5},
    {"MergeSplitPrealloc", Op::kMergeMiddle, "twoGbMaxExtentSparse", true, 5},
    {"MergeSinglePrealloc", Op::kMergeMiddle, "monolithicSparse", true, 5},
    {"MergeOverFlatBase", Op::kMergeMiddle, "monolithicFlat", false, 5},
    {"MergeOverStreamBase", Op::kMergeMiddle, "streamOptimized", true, 5},
    {"ConsolidateSingle", Op::kConsolidate, "monolithicSparse", false, 5},
    {"ConsolidateSplitPrealloc", Op::kConsolidate, "twoGbMaxExtentSparse", true, 5},
    {"ConsolidateOverFlatBase", Op::kConsolidate, "monolithicFlat", true, 5},
    {"ConsolidateOverSplitFlatBase", Op::kConsolidate, "twoGbMaxExtentFlat", false, 5},
    {"ConsolidateOverStreamBase", Op::kConsolidate, "streamOptimized", false, 5},
    {"CommitSingle", Op::kCommit, "monolithicSparse", false, 5},
    {"CommitSplitPrealloc", Op::kCommit, "twoGbMaxExtentSparse", true, 5},
    {"CommitToSparseBase", Op::kCommitToBase, "monolithicSparse", true, 5},
    {"CommitToSplitBase", Op::kCommitToBase, "twoGbMaxExtentSparse", false, 5},
    {"CommitToFlatBase", Op::kCommitToBase, "monolithicFlat", true, 3},
    {"CommitToSplitFlatBase", Op::kCommitToBase, "twoGbMaxExtentFlat", false, 3},
    // Chains wholly the engine's: its copy is the base (a single file: the
    // 8 MiB source has one extent).
    {"MergeOverEngineBase", Op::kMergeMiddle, "monolithicSparse", true, 5, true},
    {"ConsolidateOverEngineBase", Op::kConsolidate, "monolithicSparse", false, 5, true},
    {"CommitToEngineBase", Op::kCommitToBase, "monolithicSparse", false, 5, true},
    {"CommitToEngineBasePrealloc", Op::kCommitToBase, "monolithicSparse", true, 5, true},
};

INSTANTIATE_TEST_SUITE_P(Chains, ChainOperation, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

TEST(ChainSizes, AChildOfAnotherSizeIsRefusedBeforeAnyCopy) {
  if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img is not installed";
  TempFolder dir;
  const auto n = [&](const wchar_t* f) { return Quote(dir.Native(f).string()); };
  // The child is made over a 4 MiB parent, which is then replaced by an
  // 8 MiB disk of the same name.
  ASSERT_EQ(test::Run("qemu-img create -q -f vmdk " + n(L"p.vmdk") + " 4M"), 0);
  ASSERT_EQ(CreateChildOf(dir.Engine(L"p.vmdk"), dir.Engine(L"c.vmdk")), DISK_OK);
  ASSERT_EQ(test::Run("qemu-img create -q -f vmdk " + n(L"p.vmdk") + " 8M"), 0);
  ReplaceSet set;
  ReplaceSetInit(&set);
  EXPECT_EQ(VmdkConsolidate(dir.Engine(L"c.vmdk").c_str(), dir.Engine(L"p.vmdk").c_str(), false,
                            &set, nullptr, nullptr),
            DISK_E_FORMAT);
  EXPECT_FALSE(dir.Exists(L"c.vmdk_QVT_TEMP"));
  ReplaceSetRollback(&set);
  ReplaceSetList list;
  EXPECT_EQ(VmdkCommitIntoParent(dir.Engine(L"c.vmdk").c_str(), dir.Engine(L"p.vmdk").c_str(),
                                 true, &list, nullptr, nullptr),
            DISK_E_FORMAT);
  EXPECT_FALSE(dir.Exists(L"p.vmdk_QVT_TEMP"));
  ReplaceSetListRollback(&list);
}

}  // namespace
}  // namespace qvt
