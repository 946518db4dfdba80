// Reads (own grains, compressed grains, the parent where a grain is
// missing), grain-allocating writes, and the two emptiness questions.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "FileLayer.h"
#include "Heap.h"
#include "SparseExtent.h"
#include "SparseTestKit.h"
#include "TestAllocationMap.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

using test::FileBytes;
using test::MemoryDisk;
using test::PeekLE32;
using test::PeekLE64;
using test::PokeLE32;
using test::PokeLE64;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kGrain = test::kGrainBytes;
// Two GTs and a short last grain of 64 sectors.
constexpr std::uint32_t kSectors = test::kGtSpan + 4096 + 64;

class Extents : public testing::Test {
 protected:
  void TearDown() override {
    InjectFileFaults(-1, -1);
    InjectAllocationFailureAfter(-1);
    ImageClose(&parent_);
  }
  std::string Path(const std::wstring& name) const { return dir_.Engine(name); }
  // A plain single-file extent with grain 0 holding data.
  void WritePlain(const std::wstring& name, MemoryDisk* disk) {
    ASSERT_EQ(test::WriteDisk(Path(name), disk, false, false, "d.vmdk"), DISK_OK);
  }
  void OpenParent(std::uint32_t sectors) {
    ASSERT_EQ(ZeroImageOpen(&parent_, sectors, 16, 63), DISK_OK);
  }

  test::TempFolder dir_;
  ImageHandle parent_ = NoImage();
};

MemoryDisk GrainZeroOnly() {
  MemoryDisk disk(kSectors);
  disk.Pattern(0, kGrain, 0x21);
  return disk;
}

TEST_F(Extents, ReadsStartingAndEndingAnywhereReturnTheContent) {
  MemoryDisk disk(kSectors);
  disk.Pattern(0, 3 * kGrain, 0x01);
  disk.Pattern((test::kGtSpan - 128) * 512ull, 2 * kGrain, 0x02);  // across the GT boundary
  disk.Pattern((kSectors - 64) * 512ull, 64 * 512, 0x03);          // the short last grain
  WritePlain(L"d.vmdk", &disk);
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), true, kSectors), DISK_OK);
  struct Range {
    std::uint64_t offset;
    std::uint32_t length;
  } const ranges[] = {
      {0, 1},
      {kGrain - 1, 2},                                 // across a grain boundary
      {100, 3 * kGrain},                               // three grains and a bit
      {(test::kGtSpan - 1) * 512ull + 7, 1025},        // across the GT boundary
      {(kSectors - 64) * 512ull - 10, 64 * 512 + 10},  // up to the very end
      {5 * kGrain + 3, 4000},                          // unallocated, no parent: zeros
  };
  for (const Range& r : ranges) {
    Bytes got(r.length, 0xEE);
    ASSERT_EQ(SparseRead(&e, r.offset, r.length, got.data()), DISK_OK) << r.offset;
    EXPECT_TRUE(std::equal(got.begin(), got.end(),
                           disk.bytes.begin() + static_cast<std::ptrdiff_t>(r.offset)))
        << r.offset;
  }
  std::uint8_t byte = 0;
  EXPECT_EQ(SparseRead(&e, kSectors * 512ull, 1, &byte), DISK_E_LIMIT);
  EXPECT_EQ(SparseRead(&e, kSectors * 512ull - 1, 2, &byte), DISK_E_LIMIT);
  EXPECT_EQ(SparseRead(&e, UINT64_MAX - 1, 2, &byte), DISK_E_LIMIT);
  EXPECT_EQ(SparseRead(&e, kSectors * 512ull, 0, &byte), DISK_OK);
  SparseClose(&e);
}

// The zero image reads as zeros, so the parent shows itself by its size: a
// parent one sector short of the extent's end refuses exactly the reads that
// reach it there, at firstSector x 512 + offset.
TEST_F(Extents, MissingGrainsAreReadFromTheParentAtTheDiskOffset) {
  MemoryDisk disk = GrainZeroOnly();
  WritePlain(L"d.vmdk", &disk);
  constexpr std::uint64_t kFirst = 1000;
  struct Case {
    std::uint32_t parentSectors;
    DiskResult lastSector;
  } const cases[] = {
      {kFirst + kSectors, DISK_OK},
      {kFirst + kSectors - 1, DISK_E_LIMIT},
  };
  for (const Case& c : cases) {
    OpenParent(c.parentSectors);
    SparseExtent e;
    ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), true, kSectors, &parent_, kFirst), DISK_OK);
    Bytes sector(512, 0xEE);
    EXPECT_EQ(SparseRead(&e, (kSectors - 1) * 512ull, 512, sector.data()), c.lastSector);
    EXPECT_EQ(SparseRead(&e, (kSectors - 2) * 512ull, 512, sector.data()), DISK_OK);
    EXPECT_EQ(sector, Bytes(512, 0));
    DiskResult r = DISK_OK;
    if (c.lastSector == DISK_OK) {
      EXPECT_TRUE(test::ReadWhole(&e, &r) == disk.bytes);
      EXPECT_EQ(r, DISK_OK);
    }
    SparseClose(&e);
    ImageClose(&parent_);
  }
}

TEST_F(Extents, ACompressedGrainIsInflatedOnceForReadsWithinIt) {
  MemoryDisk disk(kSectors);
  disk.Pattern(0, 2 * kGrain, 0x31);
  ASSERT_EQ(test::WriteDisk(Path(L"s.vmdk"), &disk, true, true, "s.vmdk"), DISK_OK);
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"s.vmdk"), true, kSectors), DISK_OK);
  std::uint8_t head[16];
  ASSERT_EQ(SparseRead(&e, 0, 16, head), DISK_OK);
  InjectFileFaults(0, -1);  // from here on every read of the file fails
  std::uint8_t tail[16];
  EXPECT_EQ(SparseRead(&e, kGrain - 16, 16, tail), DISK_OK) << "grain 0 is held inflated";
  EXPECT_TRUE(std::equal(tail, tail + 16, disk.bytes.begin() + kGrain - 16));
  EXPECT_EQ(SparseRead(&e, kGrain, 16, tail), DISK_E_READ) << "grain 1 must be read";
  InjectFileFaults(-1, -1);
  EXPECT_EQ(SparseRead(&e, kGrain, 16, tail), DISK_OK) << "a failed inflate is not kept";
  EXPECT_TRUE(std::equal(tail, tail + 16, disk.bytes.begin() + kGrain));
  SparseClose(&e);
}

// Grain 0's record (sector 128) gets a zlib stream of some length of zeros
// in place of its own: only exactly one grain is a grain. 256 KiB of zeros
// deflate to a few hundred bytes, a deflate bomb of four grains.
TEST_F(Extents, ARecordMustInflateToExactlyOneGrain) {
  MemoryDisk disk(4096);
  disk.Pattern(0, kGrain, 0x41);
  ASSERT_EQ(test::WriteDisk(Path(L"good.vmdk"), &disk, true, true, "s.vmdk"), DISK_OK);
  struct Case {
    std::uint32_t inflated;
    DiskResult read;
  } const cases[] = {{256 * 1024, DISK_E_READ},
                     {kGrain + 1, DISK_E_READ},
                     {kGrain / 2, DISK_E_READ},
                     {kGrain, DISK_OK}};
  for (const Case& c : cases) {
    Bytes file = FileBytes(dir_, L"good.vmdk");
    std::vector<Bytef> stream(compressBound(c.inflated));
    uLongf size = static_cast<uLongf>(stream.size());
    const Bytes zeros(c.inflated, 0);
    ASSERT_EQ(compress2(stream.data(), &size, zeros.data(), static_cast<uLong>(zeros.size()), 9),
              Z_OK);
    ASSERT_LT(size, PeekLE32(file, 128 * 512 + 8)) << "the new stream fits the old record";
    PokeLE32(&file, 128 * 512 + 8, static_cast<std::uint32_t>(size));
    std::copy(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size),
              file.begin() + 128 * 512 + 12);
    test::PutFileBytes(dir_, L"s.vmdk", file);

    SparseExtent e;
    ASSERT_EQ(test::OpenExtent(&e, Path(L"s.vmdk"), true, 4096), DISK_OK);
    Bytes back(kGrain, 0xEE);
    EXPECT_EQ(SparseRead(&e, 0, kGrain, back.data()), c.read) << c.inflated;
    if (c.read == DISK_OK) {
      EXPECT_EQ(back, zeros);
    }
    SparseClose(&e);
  }
}

// --- writes ---------------------------------------------------------------

std::uint64_t GdAt(const Bytes& f) { return PeekLE64(f, 56); }
std::uint64_t RgdAt(const Bytes& f) { return PeekLE64(f, 48); }

TEST_F(Extents, AWriteIntoAMissingGrainAppendsItAndEntersItInBothGts) {
  MemoryDisk disk = GrainZeroOnly();
  WritePlain(L"d.vmdk", &disk);
  const std::uint64_t sizeBefore = FileBytes(dir_, L"d.vmdk").size();
  struct Write {
    std::uint64_t offset;
    std::uint32_t length;
    std::uint8_t seed;
  } const writes[] = {
      {3 * kGrain + 100, 1000, 0x51},                     // a new grain
      {200, 300, 0x52},                                   // in place, grain 0
      {(test::kGtSpan - 64) * 512ull, 2 * kGrain, 0x53},  // three new grains across the GT boundary
      {(kSectors - 1) * 512ull, 512, 0x54},               // the short last grain
  };
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), false, kSectors), DISK_OK);
  for (const Write& w : writes) {
    MemoryDisk data(2 * 128 + 1);
    data.Pattern(0, w.length, w.seed);
    ASSERT_EQ(SparseWrite(&e, w.offset, w.length, data.bytes.data()), DISK_OK) << w.offset;
    std::copy(data.bytes.begin(), data.bytes.begin() + w.length,
              disk.bytes.begin() + static_cast<std::ptrdiff_t>(w.offset));
  }
  SparseClose(&e);

  const Bytes file = FileBytes(dir_, L"d.vmdk");
  EXPECT_EQ(file.size(), sizeBefore + 5ull * kGrain) << "five new grains, one in place";
  const std::uint64_t newGrains[] = {3, test::kGtSpan / 128 - 1, test::kGtSpan / 128,
                                     test::kGtSpan / 128 + 1, (kSectors - 1) / 128};
  std::uint32_t expectedSector = static_cast<std::uint32_t>(sizeBefore / 512);
  for (std::uint64_t grain : newGrains) {
    EXPECT_EQ(test::GteOnDisk(file, GdAt(file), grain), expectedSector) << grain;
    EXPECT_EQ(test::GteOnDisk(file, RgdAt(file), grain), expectedSector) << grain;
    expectedSector += 128;
  }

  for (bool readOnly : {true, false}) {
    ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), readOnly, kSectors), DISK_OK) << readOnly;
    DiskResult r = DISK_OK;
    EXPECT_TRUE(test::ReadWhole(&e, &r) == disk.bytes);
    EXPECT_EQ(r, DISK_OK);
    SparseClose(&e);
  }
}

TEST_F(Extents, WritesThatChangeNothingAllocateNothing) {
  MemoryDisk disk = GrainZeroOnly();
  WritePlain(L"d.vmdk", &disk);
  const Bytes before = FileBytes(dir_, L"d.vmdk");
  const Bytes zeros(3 * kGrain, 0);
  // Without a parent zeros change nothing; with the zero image as parent the
  // bytes equal the parent's.
  for (bool withParent : {false, true}) {
    if (withParent) OpenParent(kSectors);
    SparseExtent e;
    ASSERT_EQ(
        test::OpenExtent(&e, Path(L"d.vmdk"), false, kSectors, withParent ? &parent_ : nullptr),
        DISK_OK);
    EXPECT_EQ(SparseWrite(&e, 5 * kGrain + 7, 2 * kGrain, zeros.data()), DISK_OK);
    EXPECT_EQ(SparseWrite(&e, (kSectors - 64) * 512ull, 64 * 512, zeros.data()), DISK_OK);
    SparseClose(&e);
    EXPECT_TRUE(FileBytes(dir_, L"d.vmdk") == before) << withParent;
  }
}

TEST_F(Extents, ANewGrainTakesTheParentsSectorsUpToTheDisksEnd) {
  MemoryDisk disk = GrainZeroOnly();
  WritePlain(L"d.vmdk", &disk);
  // The parent ends where the extent ends, inside its last grain.
  OpenParent(kSectors);
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), false, kSectors, &parent_), DISK_OK);
  const Bytes ones(512, 0x01);
  EXPECT_EQ(SparseWrite(&e, (kSectors - 1) * 512ull, 512, ones.data()), DISK_OK);
  Bytes back(512);
  ASSERT_EQ(SparseRead(&e, (kSectors - 1) * 512ull, 512, back.data()), DISK_OK);
  EXPECT_EQ(back, ones);
  SparseClose(&e);
  ImageClose(&parent_);

  // A parent too small for the grain: its refusal is the write's result.
  OpenParent(kSectors - 200);
  const Bytes before = FileBytes(dir_, L"d.vmdk");  // before the open, which is exclusive
  ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), false, kSectors, &parent_), DISK_OK);
  EXPECT_EQ(SparseWrite(&e, (kSectors - 100) * 512ull, 512, ones.data()), DISK_E_LIMIT);
  SparseClose(&e);
  EXPECT_TRUE(FileBytes(dir_, L"d.vmdk") == before);
}

TEST_F(Extents, WritesAreRefusedWhereTheExtentCannotTakeThem) {
  MemoryDisk disk = GrainZeroOnly();
  WritePlain(L"d.vmdk", &disk);
  ASSERT_EQ(test::WriteDisk(Path(L"s.vmdk"), &disk, true, true, "s.vmdk"), DISK_OK);
  ASSERT_EQ(test::WriteDisk(Path(L"c.vmdk"), &disk, true, false, "c.vmdk"), DISK_OK);
  // Without a redundant GD and with GT 1 gone (it held no grain), GT 1's
  // range has no table to enter a grain in.
  Bytes noGt = FileBytes(dir_, L"d.vmdk");
  PokeLE64(&noGt, 48, 0);
  PokeLE32(&noGt, GdAt(noGt) * 512 + 4, 0);
  test::PutFileBytes(dir_, L"nogt.vmdk", noGt);

  const Bytes data(512, 0x77);
  struct Case {
    const wchar_t* file;
    bool readOnly;
    std::uint64_t offset;
    DiskResult expected;
  } const cases[] = {
      {L"d.vmdk", true, 0, DISK_E_LIMIT},
      {L"s.vmdk", false, 0, DISK_E_LIMIT},
      {L"c.vmdk", false, 0, DISK_E_LIMIT},
      {L"d.vmdk", false, kSectors * 512ull - 256, DISK_E_LIMIT},
      {L"nogt.vmdk", false, (test::kGtSpan + 5) * 512ull, DISK_E_UNSUPPORTED},
      {L"nogt.vmdk", false, 0, DISK_OK},
  };
  for (const Case& c : cases) {
    const Bytes before = FileBytes(dir_, c.file);
    SparseExtent e;
    ASSERT_EQ(test::OpenExtent(&e, Path(c.file), c.readOnly, kSectors), DISK_OK);
    EXPECT_EQ(SparseWrite(&e, c.offset, 512, data.data()), c.expected) << c.offset;
    SparseClose(&e);
    if (c.expected != DISK_OK) {
      EXPECT_TRUE(FileBytes(dir_, c.file) == before);
    }
  }
}

// Writes number, from the first: the grain, the primary GTE, the redundant GTE.
TEST_F(Extents, AFailedWriteLeavesTheGrainTablesConsistent) {
  const Bytes data(kGrain, 0x66);
  const std::uint64_t offset = 7ull * kGrain;
  struct Case {
    long writesBeforeFault;
    bool readsNewData;  // right after, and after reopening
  } const cases[] = {{0, false}, {1, false}, {2, true}};
  for (const Case& c : cases) {
    MemoryDisk disk = GrainZeroOnly();
    WritePlain(L"d.vmdk", &disk);
    SparseExtent e;
    ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), false, kSectors), DISK_OK);
    InjectFileFaults(-1, c.writesBeforeFault);
    EXPECT_EQ(SparseWrite(&e, offset, kGrain, data.data()), DISK_E_GRAIN_WRITE);
    InjectFileFaults(-1, -1);
    const Bytes expected = c.readsNewData ? data : Bytes(kGrain, 0);
    Bytes back(kGrain);
    ASSERT_EQ(SparseRead(&e, offset, kGrain, back.data()), DISK_OK);
    EXPECT_EQ(back, expected) << c.writesBeforeFault;
    SparseClose(&e);
    ASSERT_EQ(test::OpenExtent(&e, Path(L"d.vmdk"), true, kSectors), DISK_OK);
    ASSERT_EQ(SparseRead(&e, offset, kGrain, back.data()), DISK_OK);
    EXPECT_EQ(back, expected) << "reopened, " << c.writesBeforeFault;
    SparseClose(&e);
  }
}

// --- emptiness ------------------------------------------------------------

// Grain 0: data in sector 5 only; grain 1: zeros, but held in the file;
// grain 2 on and GT 1: not held. Written copying only what is owned.
MemoryDisk Mixed() {
  MemoryDisk disk(kSectors);
  disk.Pattern(5 * 512, 512, 0x71);
  disk.owned.assign(kSectors, false);
  for (std::uint32_t s = 0; s < 256; ++s) disk.owned[s] = true;
  return disk;
}

TEST_F(Extents, EmptyMeansNoDataAndUnallocatedMeansNoGrain) {
  MemoryDisk disk = Mixed();
  SparseWriteRequest request;
  request.ownAllocationOnly = true;
  ASSERT_EQ(test::WriteExtent(Path(L"m.vmdk"), &disk, request), DISK_OK);
  struct Case {
    std::uint64_t first;
    std::uint32_t count;
    bool empty;
    bool unallocated;
  } const cases[] = {
      {0, 128, false, false},
      {0, 5, true, false},  // zeros of a held grain
      {5, 1, false, false},
      {6, 250, true, false},  // the rest of grain 0 and the held grain of zeros
      {128, 128, true, false},
      {256, 128, true, true},
      {200, 100, true, false},
      {256, test::kGtSpan, true, true},  // into GT 1
      {kSectors - 1, 1, true, true},
      {0, 0, true, true},
  };
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"m.vmdk"), true, kSectors, nullptr, 0, true), DISK_OK);
  for (const Case& c : cases) {
    bool empty = !c.empty;
    bool unallocated = !c.unallocated;
    ASSERT_EQ(SparseIsEmpty(&e, nullptr, c.first, c.count, &empty), DISK_OK) << c.first;
    ASSERT_EQ(SparseIsUnallocated(&e, c.first, c.count, &unallocated), DISK_OK) << c.first;
    EXPECT_EQ(empty, c.empty) << c.first << "+" << c.count;
    EXPECT_EQ(unallocated, c.unallocated) << c.first << "+" << c.count;
  }
  bool flag = false;
  EXPECT_EQ(SparseIsEmpty(&e, nullptr, kSectors - 1, 2, &flag), DISK_E_LIMIT);
  EXPECT_EQ(SparseIsUnallocated(&e, kSectors, 1, &flag), DISK_E_LIMIT);
  EXPECT_EQ(SparseIsUnallocated(&e, UINT64_MAX, 1, &flag), DISK_E_LIMIT);
  SparseClose(&e);
}

TEST_F(Extents, WithAMapOnlySectorsInUseCount) {
  MemoryDisk disk = Mixed();
  SparseWriteRequest request;
  request.ownAllocationOnly = true;
  ASSERT_EQ(test::WriteExtent(Path(L"m.vmdk"), &disk, request), DISK_OK);
  constexpr std::uint64_t kFirst = 1000;  // the map speaks of the whole disk's sectors
  struct Case {
    std::uint32_t inUse;  // the one sector the map marks, within the extent
    bool empty;
  } const cases[] = {{5, false}, {6, true}, {4, true}, {300, true}};
  OpenParent(static_cast<std::uint32_t>(kFirst + kSectors));
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"m.vmdk"), true, kSectors, &parent_, kFirst, true), DISK_OK);
  for (const Case& c : cases) {
    AllocationMap map;
    map.used.assign(kFirst + kSectors, false);
    map.used[kFirst + c.inUse] = true;
    bool empty = !c.empty;
    ASSERT_EQ(SparseIsEmpty(&e, &map, 0, 512, &empty), DISK_OK);
    EXPECT_EQ(empty, c.empty) << c.inUse;
    // Held grains ask the map over their own sectors; the rest goes to the parent.
    ASSERT_FALSE(map.asked.empty());
    EXPECT_EQ(map.asked.front(), std::make_pair(static_cast<std::uint32_t>(kFirst), 128u));
  }
  AllocationMap failing;
  failing.failure = DISK_E_FS_BITMAP;
  bool empty = false;
  EXPECT_EQ(SparseIsEmpty(&e, &failing, 0, 10, &empty), DISK_E_FS_BITMAP);
  SparseClose(&e);
}

TEST_F(Extents, ACompressedGrainIsNeverEmpty) {
  MemoryDisk disk(4096);
  disk.owned.assign(4096, false);
  disk.owned[0] = true;  // a grain of zeros, held
  SparseWriteRequest request;
  request.ownAllocationOnly = true;
  request.compressed = true;
  request.streamOptimized = true;
  ASSERT_EQ(test::WriteExtent(Path(L"s.vmdk"), &disk, request), DISK_OK);
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Path(L"s.vmdk"), true, 4096, nullptr, 0, true), DISK_OK);
  bool empty = true;
  ASSERT_EQ(SparseIsEmpty(&e, nullptr, 0, 1, &empty), DISK_OK);
  EXPECT_FALSE(empty);
  ASSERT_EQ(SparseIsEmpty(&e, nullptr, 128, 128, &empty), DISK_OK);
  EXPECT_TRUE(empty);
  SparseClose(&e);
}

}  // namespace
}  // namespace qvt
