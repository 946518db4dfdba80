// What a standalone copy carries: the grains that hold data through the
// chain and that the trim map calls in use, each whole, nothing else; and how
// it stops: at every progress report, at every failing read, write and
// allocation, always with a result code and never touching the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpen.h"
#include "SparseTestKit.h"
#include "TempFolder.h"
#include "TestAllocationMap.h"
#include "VmdkCopy.h"
#include "VmdkCopyTestKit.h"
#include "VmdkImage.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

using test::Bytes;
using test::MemoryDisk;
using test::TempFolder;
using test::TestLayout;

constexpr std::uint32_t kSectors = 16384;
constexpr std::uint32_t kGrain = 65536;  // bytes

std::uint64_t GrainAt(std::uint32_t grain) { return std::uint64_t{grain} * kGrain; }

// A base and a child over it (engine-made), with grains of every kind: whole
// and half-filled grains in the base, a child grain over a base grain, a
// child grain of its own, and two child grains that were written with zeros
// and so hide non-zero base grains.
class ChainSource {
 public:
  ChainSource() {
    MemoryDisk base(kSectors);
    for (std::uint32_t g : {0u, 1u, 20u, 100u, 127u}) base.Pattern(GrainAt(g), kGrain, 0x10);
    base.Pattern(GrainAt(2) + 5 * 512, 512, 0x11);
    base.Pattern(GrainAt(50), kGrain / 2, 0x12);
    base.Pattern(GrainAt(51), kGrain / 2, 0x13);
    maker_.SingleFile(L"base.vmdk", base);
    MemoryDisk child(kSectors);
    child.Pattern(GrainAt(3), kGrain, 0x20);
    child.Pattern(GrainAt(20), 4096, 0x21);
    for (std::size_t i = 0; i < kGrain - 4096; ++i) {
      // The rest of grain 20 as the base has it, so the child's grain is
      // the whole merged grain.
      child.bytes[GrainAt(20) + 4096 + i] = base.bytes[GrainAt(20) + 4096 + i];
    }
    maker_.SingleFile(L"child.vmdk", child, "base.vmdk");
    HideWithZeros();
    baseBytes_ = test::NativeBytes(Native("base.vmdk"));
    childBytes_ = test::NativeBytes(Native("child.vmdk"));
  }

  std::string Engine(const std::string& name) const {
    return dir_.Engine(std::wstring(name.begin(), name.end()));
  }
  std::string Native(const std::string& name) const {
    return dir_.Native(std::wstring(name.begin(), name.end())).string();
  }
  // The disk as read through the chain.
  Bytes Raw() const {
    ImageHandle image = NoImage();
    EXPECT_EQ(ImageOpen(&image, Engine("child.vmdk").c_str(), true, VMDK_PARENT_OPEN, nullptr,
                        nullptr),
              DISK_OK);
    DiskResult r = DISK_OK;
    Bytes bytes = test::ReadImage(&image, &r);
    EXPECT_EQ(r, DISK_OK);
    ImageClose(&image);
    return bytes;
  }
  bool Untouched() const {
    return test::NativeBytes(Native("base.vmdk")) == baseBytes_ &&
           test::NativeBytes(Native("child.vmdk")) == childBytes_;
  }
  const TempFolder& Dir() const { return dir_; }

 private:
  void HideWithZeros() {
    VmdkImage* image = nullptr;
    ASSERT_EQ(VmdkImageOpen(&image, Engine("child.vmdk").c_str(), false, VMDK_PARENT_OPEN, nullptr,
                            nullptr),
              DISK_OK);
    const Bytes zeros(kGrain, 0);
    EXPECT_EQ(VmdkImageWrite(image, GrainAt(1), kGrain, zeros.data()), DISK_OK);
    EXPECT_EQ(VmdkImageWrite(image, GrainAt(2) + 5 * 512, 512, zeros.data()), DISK_OK);
    std::uint64_t grains = 0;
    EXPECT_EQ(VmdkImageCountGrains(image, &grains), DISK_OK);
    EXPECT_EQ(grains, 4u) << "grains 1, 2, 3 and 20 in the child";
    VmdkImageClose(image);
  }

  TempFolder dir_;
  test::DiskMaker maker_{dir_};
  std::vector<std::uint8_t> baseBytes_;
  std::vector<std::uint8_t> childBytes_;
};

struct LayoutCase {
  const char* name;
  TestLayout layout;
  std::vector<std::uint32_t> extents;  // of the copy
  // A given layout's descriptor comes from the template, which reports a
  // refused allocation as a layout it cannot describe (DISK_E_FORMAT).
  bool template_;
};

std::vector<LayoutCase> SparseLayouts() {
  return {
      {"single", test::GivenLayout(0, kVmdkLayoutSparse, false, {kSectors}), {kSectors}, true},
      {"stream", test::GivenLayout(0, kVmdkLayoutSparse, true, {kSectors}), {kSectors}, true},
      {"split", test::GivenLayout(1, kVmdkLayoutSparse, false, {8192, 8192}), {8192, 8192}, true},
      // The second extent's grains start 100 sectors into a grain of the disk.
      {"split_inside_a_grain", test::GivenLayout(1, kVmdkLayoutSparse, false, {8292, 8092}),
       {8292, 8092}, true},
      {"derived", test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterLsiLogic, 7), {kSectors},
       false},
  };
}

struct MapCase {
  const char* name;
  bool withMap;
  std::vector<std::uint32_t> used;  // sectors the map marks in use
  std::uint32_t usedFirst = 0;      // and this run
  std::uint32_t usedCount = 0;
};

const std::vector<MapCase>& MapCases() {
  static const std::vector<MapCase> cases = {
      {"no_map", false, {}},
      {"first_megabyte", true, {}, 0, 2048},
      // In use: a zero sector of half-filled grain 50 (left out), a filled
      // sector of grain 51, one sector each of grains 3, 20 and 100, and a
      // sector of grain 1, which the child hides with zeros (left out).
      {"scattered_sectors",
       true,
       {50 * 128 + 100, 51 * 128 + 10, 3 * 128 + 127, 20 * 128 + 64, 100 * 128, 1 * 128 + 1}},
      {"nothing_in_use", true, {}},
  };
  return cases;
}

AllocationMap MapFor(const MapCase& c) {
  AllocationMap map;
  map.used.assign(kSectors, false);
  for (std::uint32_t s : c.used) map.used[s] = true;
  for (std::uint32_t s = c.usedFirst; s < c.usedFirst + c.usedCount; ++s) map.used[s] = true;
  return map;
}

TEST(VmdkCopyTrim, CopyHoldsExactlyTheGrainsWithInUseDataAndEachOfThemWhole) {
  ChainSource source;
  const Bytes raw = source.Raw();
  for (const LayoutCase& l : SparseLayouts()) {
    for (const MapCase& m : MapCases()) {
      SCOPED_TRACE(std::string(l.name) + " " + m.name);
      const AllocationMap map = MapFor(m);
      const std::vector<test::GrainPiece> kept =
          test::KeptGrains(raw, m.withMap ? map.used : std::vector<bool>(), l.extents);
      const std::string target = source.Engine(std::string(l.name) + "-" + m.name + ".vmdk");
      ASSERT_EQ(test::CopyDisk(source.Engine("child.vmdk"), target, l.layout.layout,
                               m.withMap ? &map : nullptr),
                DISK_OK);
      if (m.withMap) {
        EXPECT_FALSE(map.asked.empty()) << "the map was never asked";
      }
      EXPECT_EQ(test::OwnGrains(target), static_cast<long long>(kept.size()));
      if (l.extents.size() == 1) {
        std::vector<std::uint32_t> grains;
        for (const test::GrainPiece& p : kept) grains.push_back(p.first / 128);
        EXPECT_EQ(test::OwnGrainSet(target), grains);
      }
      ImageHandle copy = NoImage();
      ASSERT_EQ(ImageOpen(&copy, target.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr),
                DISK_OK);
      DiskResult r = DISK_OK;
      const Bytes got = test::ReadImage(&copy, &r);
      ImageClose(&copy);
      ASSERT_EQ(r, DISK_OK);
      EXPECT_TRUE(got == test::KeptContent(raw, kept))
          << "a kept grain is not whole, or a grain left out reads as data";
    }
  }
  EXPECT_TRUE(source.Untouched());
}

TEST(VmdkCopyTrim, MapOfTheFirstMegabyteKeepsAtMostItsGrains) {
  ChainSource source;
  const MapCase& m = MapCases()[1];
  const AllocationMap map = MapFor(m);
  const TestLayout layout = test::GivenLayout(0, kVmdkLayoutSparse, false, {kSectors});
  const std::string target = source.Engine("mb.vmdk");
  ASSERT_EQ(test::CopyDisk(source.Engine("child.vmdk"), target, layout.layout, &map), DISK_OK);
  const std::vector<std::uint32_t> grains = test::OwnGrainSet(target);
  EXPECT_LE(grains.size(), 16u);
  for (std::uint32_t g : grains) EXPECT_LT(g, 16u);
  EXPECT_EQ(grains, (std::vector<std::uint32_t>{0, 3}));
}

// --- Stopping -------------------------------------------------------------

std::vector<LayoutCase> AllLayouts() {
  std::vector<LayoutCase> all = SparseLayouts();
  all.push_back(
      {"flat", test::GivenLayout(0, kVmdkLayoutFlat, false, {kSectors}), {kSectors}, true});
  all.push_back({"split_flat", test::GivenLayout(1, kVmdkLayoutFlat, false, {5000, 11384}),
                 {5000, 11384}, true});
  return all;
}

TEST(VmdkCopyStop, ReportsRunFromZeroToTheCapacityAndAStopAtAnyOfThemCancels) {
  ChainSource source;
  for (const LayoutCase& l : AllLayouts()) {
    SCOPED_TRACE(l.name);
    const std::string target = source.Engine(std::string(l.name) + ".vmdk");
    test::ProgressLog full;
    ASSERT_EQ(test::CopyDisk(source.Engine("child.vmdk"), target, l.layout.layout, nullptr,
                             &test::ProgressLog::Record, &full),
              DISK_OK);
    ASSERT_GE(full.calls.size(), 2u);
    EXPECT_EQ(full.calls.front(), std::make_pair(0u, kSectors));
    for (std::size_t i = 0; i < full.calls.size(); ++i) {
      EXPECT_EQ(full.calls[i].second, kSectors);
      EXPECT_LE(full.calls[i].first, kSectors);
      if (i > 0) {
        EXPECT_GE(full.calls[i].first, full.calls[i - 1].first) << "report " << i;
      }
    }
    for (std::size_t stop = 0; stop < full.calls.size(); ++stop) {
      test::ProgressLog log;
      log.stopAt = static_cast<int>(stop);
      EXPECT_EQ(test::CopyDisk(source.Engine("child.vmdk"), target, l.layout.layout, nullptr,
                               &test::ProgressLog::Record, &log),
                DISK_CANCELLED)
          << "stop at report " << stop;
      EXPECT_EQ(log.calls.size(), stop + 1) << "it went on after the stop";
    }
  }
  EXPECT_TRUE(source.Untouched());
}

// Runs `copy` with the fault `inject(n)` for n = 0, 1, ... until it succeeds;
// every failing run must end in one of `allowed`. The number of runs.
template <typename Copy, typename Inject>
int UntilItSucceeds(Copy copy, Inject inject, const std::vector<DiskResult>& allowed) {
  constexpr int kMostRuns = 20000;
  for (int n = 0; n < kMostRuns; ++n) {
    inject(n);
    const DiskResult r = copy();
    inject(-1);
    if (r == DISK_OK) return n;
    const bool known = std::find(allowed.begin(), allowed.end(), r) != allowed.end();
    EXPECT_TRUE(known) << "result " << r << " with the fault after " << n;
    if (!known) return n;
  }
  ADD_FAILURE() << "still failing after " << kMostRuns << " runs";
  return kMostRuns;
}

TEST(VmdkCopyFaults, FailingWritesEndTheCopyWithAWriteError) {
  ChainSource source;
  for (const LayoutCase& l : AllLayouts()) {
    SCOPED_TRACE(l.name);
    const std::string target = source.Engine(std::string(l.name) + ".vmdk");
    const int runs = UntilItSucceeds(
        [&] { return test::CopyDisk(source.Engine("child.vmdk"), target, l.layout.layout); },
        [](long n) { InjectFileFaults(-1, n); }, {DISK_E_WRITE, DISK_E_GRAIN_WRITE});
    EXPECT_GT(runs, 0);
  }
  EXPECT_TRUE(source.Untouched());
}

TEST(VmdkCopyFaults, FailingReadsOfTheSourceEndTheCopyWithAReadError) {
  ChainSource source;
  for (const LayoutCase& l : AllLayouts()) {
    SCOPED_TRACE(l.name);
    const std::string target = source.Engine(std::string(l.name) + ".vmdk");
    ImageHandle image = NoImage();
    ASSERT_EQ(ImageOpen(&image, source.Engine("child.vmdk").c_str(), true, VMDK_PARENT_OPEN,
                        nullptr, nullptr),
              DISK_OK);
    const int runs = UntilItSucceeds(
        [&] {
          return VmdkCopyImage(target.c_str(), &image, nullptr, nullptr, nullptr,
                               l.layout.layout);
        },
        [](long n) { InjectFileFaults(n, -1); }, {DISK_E_READ});
    EXPECT_GT(runs, 0);
    ImageClose(&image);
  }
  EXPECT_TRUE(source.Untouched());
}

// The results a refused allocation may give: DISK_E_NOMEM where the copy
// allocates, DISK_E_CREATE where the file layer cannot take a new file's
// record, and the template's DISK_E_FORMAT for a given layout.
std::vector<DiskResult> NomemResults(const LayoutCase& l) {
  std::vector<DiskResult> allowed{DISK_E_NOMEM, DISK_E_CREATE};
  if (l.template_) allowed.push_back(DISK_E_FORMAT);
  return allowed;
}

TEST(VmdkCopyFaults, RefusedAllocationsEndTheCopyWithAnErrorAndLeakNothing) {
  ChainSource source;
  for (const LayoutCase& l : AllLayouts()) {
    SCOPED_TRACE(l.name);
    const std::string target = source.Engine(std::string(l.name) + ".vmdk");
    ImageHandle image = NoImage();
    ASSERT_EQ(ImageOpen(&image, source.Engine("child.vmdk").c_str(), true, VMDK_PARENT_OPEN,
                        nullptr, nullptr),
              DISK_OK);
    const int runs = UntilItSucceeds(
        [&] {
          return VmdkCopyImage(target.c_str(), &image, nullptr, nullptr, nullptr,
                               l.layout.layout);
        },
        [](long n) { InjectAllocationFailureAfter(n); }, NomemResults(l));
    EXPECT_GT(runs, 0);
    ImageClose(&image);
  }
  EXPECT_TRUE(source.Untouched());
}

}  // namespace
}  // namespace qvt
