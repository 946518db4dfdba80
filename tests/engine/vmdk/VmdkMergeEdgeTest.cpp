// The merges' corner cases: which grains move and which stay, the exact size
// of preallocated copies, a stop between two extent copies, and a new
// descriptor that does not fit the embedded area.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "MergeChainKit.h"
#include "SparseTestKit.h"
#include "VmdkMerge.h"

namespace qvt {
namespace {

using test::CreateChildOf;
using test::Files;

constexpr std::uint64_t kDiskSectors = 8 * 2048;  // 8 MiB
constexpr std::uint32_t kGrain = 128;

std::uint32_t GrainAt(std::uint64_t byteOffset) {
  return static_cast<std::uint32_t>(byteOffset / 512 / kGrain * kGrain);
}

class MergeEdge : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
  }
  void Make(const std::string& command) { ASSERT_EQ(chain_.Run(command), 0) << command; }
  void Child(const std::wstring& parent, const std::wstring& child) {
    ASSERT_EQ(CreateChildOf(chain_.E(parent), chain_.E(child)), DISK_OK);
  }
  // base (qemu-img) <- mid <- top, each written before its child is made.
  void MakeChain(const std::string& size, const std::string& baseWrites,
                 const std::string& midWrites, const std::string& topWrites) {
    Make("qemu-img create -q -f vmdk base.vmdk " + size);
    if (!baseWrites.empty()) Make("qemu-io -f vmdk " + baseWrites + " base.vmdk");
    Child(L"base.vmdk", L"mid.vmdk");
    if (!midWrites.empty()) Make("qemu-io -f vmdk " + midWrites + " mid.vmdk");
    Child(L"mid.vmdk", L"top.vmdk");
    if (!topWrites.empty()) Make("qemu-io -f vmdk " + topWrites + " top.vmdk");
  }
  DiskResult MergeMiddle(bool preventFragment, ReplaceSet* set, ProgressFn progress = nullptr,
                         void* context = nullptr) {
    return VmdkMergeMiddleIntoChild(chain_.E(L"top.vmdk").c_str(), chain_.E(L"mid.vmdk").c_str(),
                                    false, preventFragment, set, progress, context);
  }
  std::uintmax_t SizeOf(const std::wstring& name) const {
    return std::filesystem::file_size(chain_.Dir().Native(name));
  }
  bool HasTemp() const {
    for (const auto& f : chain_.Snapshot()) {
      if (f.first.find("_QVT_TEMP") != std::string::npos) return true;
    }
    return false;
  }

  test::ChainFolder chain_;
};

// Registered sets are always undone, whatever an assertion left behind.
struct SetGuard {
  ReplaceSet set;
  SetGuard() { ReplaceSetInit(&set); }
  ~SetGuard() { ReplaceSetRollback(&set); }
};

TEST_F(MergeEdge, AMiddleWhoseGrainsTheChildHoldsMovesNothingButStillRepoints) {
  MakeChain("8M", "-c 'write -P 0x11 0 64k'", "-c 'write -P 0x21 1M 128k'",
            "-c 'write -P 0x31 1M 128k'");
  SetGuard g;
  ASSERT_EQ(MergeMiddle(false, &g.set), DISK_OK);
  // The copy exists, is the same size (no grain appended) and holds the new
  // descriptor.
  ASSERT_TRUE(chain_.Dir().Exists(L"top.vmdk_QVT_TEMP"));
  EXPECT_EQ(SizeOf(L"top.vmdk_QVT_TEMP"), SizeOf(L"top.vmdk"));
  const std::string text = chain_.Dir().ReadFile(L"top.vmdk_QVT_TEMP");
  EXPECT_NE(text.find("parentFileNameHint=\"base.vmdk\""), std::string::npos);
  EXPECT_EQ(text.find("mid.vmdk"), std::string::npos);
}

TEST_F(MergeEdge, AGrainTheMiddleReadsFromItsParentStaysThere) {
  MakeChain("8M", "-c 'write -P 0x11 5M 64k'", "-c 'write -P 0x21 1M 64k'", "");
  SetGuard g;
  ASSERT_EQ(MergeMiddle(false, &g.set), DISK_OK);
  EXPECT_FALSE(chain_.OwnsNoGrain(L"top.vmdk_QVT_TEMP", GrainAt(1 << 20), kGrain, kDiskSectors));
  EXPECT_TRUE(chain_.OwnsNoGrain(L"top.vmdk_QVT_TEMP", GrainAt(5 << 20), kGrain, kDiskSectors));
  ASSERT_EQ(ReplaceSetCommit(&g.set, "_QVT_DEL", false), DISK_OK);
  Make("qemu-io -f vmdk -c 'read -P 0x11 5M 64k' -c 'read -P 0x21 1M 64k' top.vmdk");
}

TEST_F(MergeEdge, ConsolidationLeavesOutGrainsThatReadAsZeros) {
  MakeChain("8M", "-c 'write -P 0 2M 64k' -c 'write -P 0x12 4M 64k'", "", "");
  ASSERT_FALSE(chain_.OwnsNoGrain(L"base.vmdk", GrainAt(2 << 20), kGrain, kDiskSectors))
      << "qemu-io did not allocate the zero grain; the case shows nothing";
  SetGuard g;
  ASSERT_EQ(VmdkConsolidate(chain_.E(L"top.vmdk").c_str(), chain_.E(L"mid.vmdk").c_str(), false,
                            &g.set, nullptr, nullptr),
            DISK_OK);
  EXPECT_TRUE(chain_.OwnsNoGrain(L"top.vmdk_QVT_TEMP", GrainAt(2 << 20), kGrain, kDiskSectors));
  EXPECT_FALSE(chain_.OwnsNoGrain(L"top.vmdk_QVT_TEMP", GrainAt(4 << 20), kGrain, kDiskSectors));
}

// mid holds grains 1, 2, 48 and 49 (the last one partly written); top holds
// grain 2 already, so the merge appends three.
TEST_F(MergeEdge, APreallocatedCopyEndsExactlyTheAddedGrainsLonger) {
  MakeChain("8M", "", "-c 'write -P 0x21 64k 128k' -c 'write -P 0x22 3M 100k'",
            "-c 'write -P 0x31 128k 4k'");
  const Files before = chain_.Snapshot();
  for (const bool preventFragment : {true, false}) {
    SCOPED_TRACE(preventFragment ? "preallocated" : "plain copy");
    SetGuard g;
    ASSERT_EQ(MergeMiddle(preventFragment, &g.set), DISK_OK);
    EXPECT_EQ(SizeOf(L"top.vmdk_QVT_TEMP"), SizeOf(L"top.vmdk") + 3 * kGrain * 512);
    for (const std::uint64_t at : {64u << 10, 3u << 20, (3u << 20) + (64u << 10)}) {
      EXPECT_FALSE(chain_.OwnsNoGrain(L"top.vmdk_QVT_TEMP", GrainAt(at), kGrain, kDiskSectors))
          << at;
    }
    ASSERT_EQ(ReplaceSetRollback(&g.set), DISK_OK);
    EXPECT_EQ(chain_.Snapshot(), before);
  }
}

// Reports of the file copies count percent; the grain loop counts sectors.
struct SecondCopyStop {
  int copiesBegun = 0;
  bool inCopy = false;
  static bool Report(std::uint32_t, std::uint32_t total, void* context) {
    auto* s = static_cast<SecondCopyStop*>(context);
    const bool copying = total == 100;
    if (copying && !s->inCopy) ++s->copiesBegun;
    s->inCopy = copying;
    return s->copiesBegun < 2;
  }
};

TEST_F(MergeEdge, AStopInTheSecondExtentCopyLeavesOneCopyRegistered) {
  // Over 2 GiB a split disk has two extent files.
  Make("qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse base.vmdk 3G");
  Child(L"base.vmdk", L"mid.vmdk");
  Make("qemu-io -f vmdk -c 'write -P 0x21 0 64k' -c 'write -P 0x22 2500M 64k' mid.vmdk");
  Child(L"mid.vmdk", L"top.vmdk");
  const Files before = chain_.Snapshot();
  SetGuard g;
  SecondCopyStop stop;
  ASSERT_EQ(MergeMiddle(false, &g.set, &SecondCopyStop::Report, &stop), DISK_CANCELLED);
  EXPECT_EQ(g.set.extentCount, 1u);
  ASSERT_EQ(ReplaceSetRollback(&g.set), DISK_OK);
  EXPECT_FALSE(HasTemp());
  EXPECT_EQ(chain_.Snapshot(), before);
}

TEST_F(MergeEdge, ADescriptorTooLongForTheEmbeddedAreaIsRefusedUntouched) {
  // A child whose embedded area is a single sector (as other tools may make
  // it), re-pointed with an absolute hint through long folder names.
  const std::wstring d(200, L'd'), e(200, L'e');
  std::filesystem::create_directories(chain_.Dir().Native(d) / e);
  Make("qemu-img create -q -f vmdk " + std::string(d.begin(), d.end()) + "/" +
       std::string(e.begin(), e.end()) + "/base.vmdk 8M");
  Child(d + L"\\" + e + L"\\base.vmdk", L"mid.vmdk");
  Child(L"mid.vmdk", L"top.vmdk");
  std::vector<std::uint8_t> top = test::FileBytes(chain_.Dir(), L"top.vmdk");
  const std::uint64_t at = test::PeekLE64(top, 28) * 512;
  ASSERT_LT(std::string(top.begin() + at, top.begin() + at + 512).find('\0'), 512u)
      << "the child's text does not fit one sector; the case shows nothing";
  test::PokeLE64(&top, 36, 1);
  test::PutFileBytes(chain_.Dir(), L"top.vmdk", top);
  const Files before = chain_.Snapshot();
  SetGuard g;
  EXPECT_EQ(VmdkReparent(chain_.E(L"top.vmdk").c_str(), chain_.E(L"mid.vmdk").c_str(), true,
                         &g.set, nullptr, nullptr),
            DISK_E_LIMIT);
  ASSERT_EQ(ReplaceSetRollback(&g.set), DISK_OK);
  EXPECT_EQ(chain_.Snapshot(), before);
}

TEST_F(MergeEdge, ABaseDiskIsNoChildToMergeInto) {
  Make("qemu-img create -q -f vmdk base.vmdk 8M");
  Child(L"base.vmdk", L"mid.vmdk");
  SetGuard g;
  EXPECT_EQ(VmdkConsolidate(chain_.E(L"base.vmdk").c_str(), chain_.E(L"mid.vmdk").c_str(), false,
                            &g.set, nullptr, nullptr),
            DISK_E_FORMAT);
  EXPECT_EQ(VmdkReparent(chain_.E(L"mid.vmdk").c_str(), chain_.E(L"base.vmdk").c_str(), false,
                         &g.set, nullptr, nullptr),
            DISK_E_FORMAT);
  EXPECT_FALSE(HasTemp());
}

}  // namespace
}  // namespace qvt
