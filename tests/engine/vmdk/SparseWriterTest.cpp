// The whole-extent writer: the layouts it puts on disk, what it skips, what it
// reports, and how it fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileLayer.h"
#include "Heap.h"
#include "SparseExtent.h"
#include "SparseLayout.h"
#include "SparseTestKit.h"
#include "TestAllocationMap.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

using test::FileBytes;
using test::MemoryDisk;
using test::PeekLE32;
using test::PeekLE64;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kGrain = test::kGrainBytes;

class Writer : public testing::Test {
 protected:
  void TearDown() override {
    InjectFileFaults(-1, -1);
    InjectAllocationFailureAfter(-1);
  }
  std::string Path(const std::wstring& name) const { return dir_.Engine(name); }
  test::TempFolder dir_;
};

// Two GTs: grains 0 and 2 in GT 0, grain 512 (the first of GT 1) and a short
// last grain of 64 sectors.
constexpr std::uint32_t kSectors = test::kGtSpan + 192;

MemoryDisk TwoGts() {
  MemoryDisk disk(kSectors);
  disk.Pattern(0, kGrain, 0x01);
  disk.Pattern(2 * kGrain + 512, 512, 0x02);
  disk.Pattern(test::kGtSpan * 512ull, 3000, 0x03);
  disk.Pattern((kSectors - 64) * 512ull, 64 * 512, 0x04);
  return disk;
}

TEST_F(Writer, PlainLayoutHasBothTablesUpFrontAndGrainsInDiskOrder) {
  MemoryDisk disk = TwoGts();
  ASSERT_EQ(test::WriteDisk(Path(L"p.vmdk"), &disk, false, false, "p.vmdk"), DISK_OK);
  const Bytes f = FileBytes(dir_, L"p.vmdk");
  EXPECT_EQ(PeekLE32(f, 0), kSparseMagic);
  EXPECT_EQ(PeekLE32(f, 8), 3u);   // flags
  EXPECT_EQ(PeekLE64(f, 28), 1u);  // descriptor at sector 1
  EXPECT_EQ(PeekLE64(f, 36), 20u);
  EXPECT_EQ(PeekLE64(f, 48), 21u);   // rgd
  EXPECT_EQ(PeekLE64(f, 56), 30u);   // gd
  EXPECT_EQ(PeekLE64(f, 64), 128u);  // overHead
  const std::string descriptor(f.begin() + 512, f.begin() + 512 + 23);
  EXPECT_EQ(descriptor, "# Disk DescriptorFile\nv");
  EXPECT_EQ(f[21 * 512 - 1], 0) << "the descriptor area is zero-padded";
  // Each GD names its own GTs, in order behind it.
  EXPECT_EQ(PeekLE32(f, 21 * 512), 22u);
  EXPECT_EQ(PeekLE32(f, 21 * 512 + 4), 26u);
  EXPECT_EQ(PeekLE32(f, 21 * 512 + 8), 0u);
  EXPECT_EQ(PeekLE32(f, 30 * 512), 31u);
  EXPECT_EQ(PeekLE32(f, 30 * 512 + 4), 35u);
  // The two copies of every GT agree.
  EXPECT_TRUE(std::equal(f.begin() + 22 * 512, f.begin() + 30 * 512, f.begin() + 31 * 512));
  const std::pair<std::uint64_t, std::uint32_t> grains[] = {
      {0, 128}, {1, 0}, {2, 256}, {512, 384}, {513, 512}};
  for (const auto& [grain, sector] : grains) {
    EXPECT_EQ(test::GteOnDisk(f, 30, grain), sector) << grain;
  }
  EXPECT_EQ(f.size(), 640u * 512) << "the file ends behind its last grain";
  // The short last grain is a whole grain on disk; its second half is zero.
  EXPECT_TRUE(std::equal(f.begin() + 512 * 512, f.begin() + 576 * 512,
                         disk.bytes.begin() + (kSectors - 64) * 512ull));
  EXPECT_TRUE(std::all_of(f.begin() + 576 * 512, f.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(Writer, StreamLayoutPutsEachGtBehindItsGrainsAndTheGdAtTheEnd) {
  MemoryDisk disk = TwoGts();
  ASSERT_EQ(test::WriteDisk(Path(L"s.vmdk"), &disk, true, true, "s.vmdk"), DISK_OK);
  const Bytes f = FileBytes(dir_, L"s.vmdk");
  EXPECT_EQ(PeekLE32(f, 4), 3u);        // version
  EXPECT_EQ(PeekLE32(f, 8), 0x30001u);  // flags
  EXPECT_EQ(PeekLE64(f, 48), 0u);       // no redundant GD
  EXPECT_EQ(PeekLE64(f, 56), kGdAtEnd);
  EXPECT_EQ(f[77], 1);  // deflate
  ASSERT_EQ(f.size() % 512, 0u);
  const std::uint64_t last = f.size() / 512;
  // End-of-stream, footer, footer marker, GD (1 sector), GD marker.
  EXPECT_TRUE(std::all_of(f.end() - 512, f.end(), [](std::uint8_t b) { return b == 0; }));
  const std::uint64_t footer = (last - 2) * 512;
  EXPECT_TRUE(SparseMarkerIs(&f[(last - 3) * 512], 1, MARKER_FOOTER));
  EXPECT_TRUE(SparseMarkerIs(&f[(last - 5) * 512], 1, MARKER_GD));
  EXPECT_EQ(PeekLE32(f, footer), kSparseMagic);
  EXPECT_EQ(PeekLE64(f, footer + 56), last - 4) << "the footer names the GD's sector";
  // Sector 128: grain 0's record; the GD names GT sectors, each right
  // behind a GT marker that follows its grains.
  EXPECT_EQ(PeekLE64(f, 128 * 512), 0u);
  EXPECT_EQ(f[128 * 512 + 12], 0x78) << "a zlib stream with its header...";
  EXPECT_EQ(f[128 * 512 + 13], 0x01) << "...deflated at level 1";
  for (std::uint32_t g = 0; g < 2; ++g) {
    const std::uint32_t gt = PeekLE32(f, (last - 4) * 512 + 4 * g);
    ASSERT_GT(gt, 128u);
    EXPECT_TRUE(SparseMarkerIs(&f[(gt - 1) * 512ull], 4, MARKER_GT)) << g;
    const std::uint32_t firstGrain = PeekLE32(f, gt * 512ull);
    EXPECT_LT(firstGrain, gt);
    EXPECT_EQ(PeekLE64(f, firstGrain * 512ull), g * 65536ull) << "record lba";
  }
}

struct Flavour {
  const char* name;
  bool compressed;
  bool stream;
};

class WrittenExtent : public Writer, public testing::WithParamInterface<Flavour> {};

TEST_P(WrittenExtent, ReadsBackAsItsSource) {
  MemoryDisk disk = TwoGts();
  ASSERT_EQ(
      test::WriteDisk(Path(L"x.vmdk"), &disk, GetParam().compressed, GetParam().stream, "x.vmdk"),
      DISK_OK);
  for (bool readOnly : {true, false}) {
    SparseExtent e;
    ASSERT_EQ(test::OpenExtent(&e, Path(L"x.vmdk"), readOnly, kSectors), DISK_OK) << readOnly;
    EXPECT_EQ(e.compressed, GetParam().compressed);
    DiskResult r = DISK_OK;
    EXPECT_TRUE(test::ReadWhole(&e, &r) == disk.bytes);
    EXPECT_EQ(r, DISK_OK);
    SparseClose(&e);
  }
}

INSTANTIATE_TEST_SUITE_P(Flavours, WrittenExtent,
                         testing::Values(Flavour{"Plain", false, false},
                                         Flavour{"CompressedPlain", true, false},
                                         Flavour{"StreamOptimized", true, true}),
                         [](const testing::TestParamInfo<Flavour>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(Writer, AnEmptySourceGivesTablesOnly) {
  ImageHandle zero = NoImage();
  ASSERT_EQ(ZeroImageOpen(&zero, 3 * test::kGtSpan, 16, 63), DISK_OK);
  SparseWriteRequest request;
  request.sectors = 3 * test::kGtSpan;
  ASSERT_EQ(SparseWriteExtent(Path(L"e.vmdk").c_str(), &zero, request), DISK_OK);
  // The zero image knows no "own allocation".
  request.ownAllocationOnly = true;
  EXPECT_EQ(SparseWriteExtent(Path(L"o.vmdk").c_str(), &zero, request), DISK_E_LIMIT);
  ImageClose(&zero);

  const Bytes f = FileBytes(dir_, L"e.vmdk");
  // rgd 1, gd 1 + 1 + 12 = 14, overHead 14 + 13 rounded up to 128.
  EXPECT_EQ(f.size(), 128u * 512);
  for (std::uint64_t grain = 0; grain < 3 * 512; grain += 97) {
    EXPECT_EQ(test::GteOnDisk(f, 14, grain), 0u);
    EXPECT_EQ(test::GteOnDisk(f, 1, grain), 0u);
  }
  SparseExtent e;
  EXPECT_EQ(test::OpenExtent(&e, Path(L"e.vmdk"), false, 3 * test::kGtSpan, nullptr, 0, true),
            DISK_OK)
      << "a writable open finds the file ending at overHead";
  EXPECT_EQ(e.nextFree, 128u);
  SparseClose(&e);
}

TEST_F(Writer, EmptyGtRangesCostOneQuestionAndNoRead) {
  MemoryDisk disk(3 * test::kGtSpan);
  disk.Pattern((test::kGtSpan + 600 * 128) * 512ull - 1000, 10, 0x11);
  AllocationMap map;
  SparseWriteRequest request;
  request.map = &map;
  ASSERT_EQ(test::WriteExtent(Path(L"q.vmdk"), &disk, request), DISK_OK);
  EXPECT_EQ(disk.emptyQuestions, 3 + 512) << "three ranges, and the grains of the one with data";
  EXPECT_EQ(disk.reads, 1);
  EXPECT_EQ(disk.lastMap, &map) << "the map goes with every question";
}

TEST_F(Writer, OwnAllocationDecidesWhatIsCopied) {
  // Grain 0 is held but zero; grain 1 has data the source's own files do not hold.
  MemoryDisk disk(4096);
  disk.Pattern(kGrain, 512, 0x21);
  disk.owned.assign(4096, false);
  disk.owned[0] = true;
  struct Case {
    bool ownAllocationOnly;
    bool grain0;
    bool grain1;
  } const cases[] = {{true, true, false}, {false, false, true}};
  for (const Case& c : cases) {
    SparseWriteRequest request;
    request.ownAllocationOnly = c.ownAllocationOnly;
    ASSERT_EQ(test::WriteExtent(Path(L"o.vmdk"), &disk, request), DISK_OK);
    SparseExtent e;
    ASSERT_EQ(test::OpenExtent(&e, Path(L"o.vmdk"), true, 4096, nullptr, 0, true), DISK_OK);
    bool unallocated = false;
    ASSERT_EQ(SparseIsUnallocated(&e, 0, 128, &unallocated), DISK_OK);
    EXPECT_EQ(!unallocated, c.grain0) << c.ownAllocationOnly;
    ASSERT_EQ(SparseIsUnallocated(&e, 128, 128, &unallocated), DISK_OK);
    EXPECT_EQ(!unallocated, c.grain1) << c.ownAllocationOnly;
    SparseClose(&e);
  }
}

TEST_F(Writer, ReportsAfterEachGrainAndRangeAndStopsWhenTold) {
  // The extent is sectors 100 to 100 + kSectors of a larger source disk.
  constexpr std::uint32_t kBase = 100;
  MemoryDisk disk(kBase + kSectors);
  disk.Pattern(kBase * 512ull, kGrain, 0x31);                      // grain 0
  disk.Pattern((kBase + 2 * 128) * 512ull, 512, 0x32);             // grain 2
  disk.Pattern((kBase + test::kGtSpan + 64) * 512ull, 512, 0x33);  // grain 512
  SparseWriteRequest request;
  request.firstSourceSector = kBase;
  request.sectors = kSectors;
  request.progress = &test::ProgressLog::Record;
  request.progressTotal = 999999;
  test::ProgressLog log;
  request.progressContext = &log;
  ASSERT_EQ(test::WriteExtent(Path(L"p.vmdk"), &disk, request), DISK_OK);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {kBase + 128, 999999},                  // grain 0
      {kBase + 384, 999999},                  // grain 2
      {kBase + test::kGtSpan, 999999},        // GT range 0
      {kBase + test::kGtSpan + 128, 999999},  // grain 512
      {kBase + kSectors, 999999},             // GT range 1 (shorter)
  };
  EXPECT_EQ(log.calls, expected);

  for (int stop = 0; stop < static_cast<int>(expected.size()); ++stop) {
    test::ProgressLog stopping;
    stopping.stopAt = stop;
    request.progressContext = &stopping;
    EXPECT_EQ(test::WriteExtent(Path(L"p.vmdk"), &disk, request), DISK_CANCELLED) << stop;
    EXPECT_EQ(stopping.calls.size(), static_cast<std::size_t>(stop + 1));
    EXPECT_TRUE(dir_.Exists(L"p.vmdk")) << "the partial file stays for the caller";
  }
}

TEST_F(Writer, RequestsItCannotWriteAreRefusedBeforeAnyFileExists) {
  MemoryDisk disk(4096);
  const std::string fits(20 * 512, 'x');
  const std::string tooLong(20 * 512 + 1, 'x');
  const TextView fitting = MakeView(fits.data(), static_cast<std::uint32_t>(fits.size()));
  const TextView overlong = MakeView(tooLong.data(), static_cast<std::uint32_t>(tooLong.size()));
  struct Case {
    const char* name;
    const TextView* descriptor;
    std::uint32_t descriptorSectors;
    bool compressed;
    bool stream;
    std::uint32_t first;
    DiskResult expected;
  } const cases[] = {
      {"fitting", &fitting, 20, false, false, 0, DISK_OK},
      {"overlong", &overlong, 20, false, false, 0, DISK_E_LIMIT},
      {"no sectors", &fitting, 0, false, false, 0, DISK_E_LIMIT},
      {"over 64", &fitting, 65, false, false, 0, DISK_E_LIMIT},
      {"sectors without text", nullptr, 20, false, false, 0, DISK_E_LIMIT},
      {"markers uncompressed", nullptr, 0, false, true, 0, DISK_E_LIMIT},
      {"past 2^32", nullptr, 0, false, false, UINT32_MAX - 100, DISK_E_LIMIT},
  };
  for (const Case& c : cases) {
    SparseWriteRequest request;
    request.descriptor = c.descriptor;
    request.descriptorSectors = c.descriptorSectors;
    request.compressed = c.compressed;
    request.streamOptimized = c.stream;
    request.firstSourceSector = c.first;
    request.sectors = 4096;
    EXPECT_EQ(SparseWriteExtentFrom(Path(L"r.vmdk").c_str(), disk.Source(), request), c.expected)
        << c.name;
    EXPECT_EQ(dir_.Exists(L"r.vmdk"), c.expected == DISK_OK) << c.name;
    std::filesystem::remove(dir_.Native(L"r.vmdk"));
  }
}

TEST_F(Writer, SourceAndFileFailuresAreReportedAsTheyAre) {
  MemoryDisk disk = TwoGts();
  EXPECT_EQ(test::WriteExtent(dir_.Engine(L"missing\\x.vmdk"), &disk, SparseWriteRequest{}),
            DISK_E_CREATE);
  disk.failReadAt = test::kGtSpan * 512ull + 5;
  EXPECT_EQ(test::WriteExtent(Path(L"x.vmdk"), &disk, SparseWriteRequest{}), DISK_E_READ);
}

// Each write in turn fails (and then each allocation), for every flavour:
// the header and table writes are DISK_E_WRITE, grains and GTs
// DISK_E_GRAIN_WRITE, refused memory DISK_E_NOMEM; every buffer and the file
// are released on each path (the leak checker watches).
TEST_F(Writer, EveryFailedWriteAndAllocationIsReported) {
  MemoryDisk disk = TwoGts();
  for (const bool stream : {false, true}) {
    std::vector<DiskResult> writes;
    for (long n = 0; n < 1000; ++n) {
      InjectFileFaults(-1, n);
      const DiskResult r = test::WriteDisk(Path(L"f.vmdk"), &disk, stream, stream, "f.vmdk");
      InjectFileFaults(-1, -1);
      writes.push_back(r);
      if (r == DISK_OK) break;
    }
    ASSERT_EQ(writes.back(), DISK_OK);
    writes.pop_back();
    EXPECT_NE(std::find(writes.begin(), writes.end(), DISK_E_WRITE), writes.end());
    EXPECT_NE(std::find(writes.begin(), writes.end(), DISK_E_GRAIN_WRITE), writes.end());
    for (DiskResult r : writes) EXPECT_TRUE(r == DISK_E_WRITE || r == DISK_E_GRAIN_WRITE) << r;

    std::vector<DiskResult> allocations;
    for (long n = 0; n < 1000; ++n) {
      InjectAllocationFailureAfter(n);
      const DiskResult r = test::WriteDisk(Path(L"f.vmdk"), &disk, stream, stream, "f.vmdk");
      InjectAllocationFailureAfter(-1);
      allocations.push_back(r);
      if (r == DISK_OK) break;
    }
    ASSERT_EQ(allocations.back(), DISK_OK);
    allocations.pop_back();
    EXPECT_FALSE(allocations.empty());
    // The file layer's own allocations fail the create.
    for (DiskResult r : allocations) EXPECT_TRUE(r == DISK_E_NOMEM || r == DISK_E_CREATE) << r;
  }
}

}  // namespace
}  // namespace qvt
