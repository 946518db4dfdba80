// The XFS reader's rules on hand-laid version 4 volumes (XfsVolumeLayer),
// which run everywhere: free extents of one- and two-level trees, what
// stays in use, the layouts and trees it refuses (the newer format, loops,
// extents outside their group), random damage, and running out of memory.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "ByteOrder.h"
#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "FsmapTestKit.h"
#include "ReaderProbeKit.h"
#include "XfsVolumeLayer.h"

namespace qvt::test {
namespace {

struct LaidDisk {
  TempFolder dir;
  std::unique_ptr<RawDisk> disk;
  std::uint32_t sectors = 0;
  std::vector<bool> truth;
};

void Place(const XfsShape& shape, const std::function<void(LaidXfs&)>& patch, LaidDisk* out) {
  LaidXfs laid = LayXfsVolume(shape);
  out->truth = SectorsOfBlocks(laid.blockInUse, shape.blockSize / 512,
                               static_cast<std::uint32_t>(laid.bytes.size() / 512));
  if (patch) patch(laid);
  out->sectors = static_cast<std::uint32_t>(laid.bytes.size() / 512);
  out->disk = std::make_unique<RawDisk>(out->dir, L"xfs", out->sectors);
  out->disk->Put(0, laid.bytes);
}

Probe ProbeLaid(LaidDisk* d) { return ProbeHandler(kXfsHandler, d->disk->Open(), 0, d->sectors); }

// 512-byte blocks: 62 records fill a leaf, so group 0's 100 extents need a
// second level; group 1 (the short one) has a single leaf, with an empty
// extent in it.
XfsShape TwoLevelShape() {
  XfsShape s;
  std::vector<XfsExtent> many;
  for (std::uint32_t k = 0; k < 100; ++k) many.push_back({kXfsFirstFreeBlock + 3 * k, 1 + k % 2});
  s.freeExtents = {many, {{20, 0}, {30, 100}, {32200, 268}}};
  return s;
}

XfsShape FourKibShape() {
  XfsShape s;
  s.blockSize = 4096;
  s.agBlocks = 4096;
  s.agCount = 3;
  s.dataBlocks = 3 * 4096 - 12;
  s.freeExtents = {{{16, 100}, {200, 3}}, {{16, 4080}}, {{400, 100}, {4000, 84}}};
  return s;
}

TEST(XfsLaid, FreeExtentsOfEveryGroupAreFreeAndEverythingElseInUse) {
  for (const XfsShape& s : {TwoLevelShape(), FourKibShape()}) {
    LaidDisk d;
    Place(s, nullptr, &d);
    const Probe p = ProbeLaid(&d);
    ASSERT_EQ(p.open, DISK_OK);
    EXPECT_EQ(p.bits, d.truth);
  }
}

TEST(XfsLaid, AnEmptyExtentClearsNothingAndTheHeadersStayInUse) {
  LaidDisk d;
  Place(TwoLevelShape(), nullptr, &d);
  const Probe p = ProbeLaid(&d);
  ASSERT_EQ(p.open, DISK_OK);
  const std::uint32_t ag1 = 32768;  // sectors of 512-byte blocks
  EXPECT_TRUE(p.bits[ag1 + 20]);
  for (std::uint32_t s = 0; s < 16; ++s) EXPECT_TRUE(p.bits[s] && p.bits[ag1 + s]) << s;
  EXPECT_FALSE(p.bits[ag1 + 30]);
}

TEST(XfsLaid, TheWholeMapPassesThroughTheMapBuilder) {
  LaidDisk d;
  Place(FourKibShape(), nullptr, &d);
  AllocationMap* map = MapOf(d.disk.get());
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(map->segmentCount, 1u);
  EXPECT_EQ(map->segments[0].kind, kFsXfs);
  EXPECT_EQ(MapBits(map, 0, d.sectors), d.truth);
  FreeAllocationMap(map);
}

struct Fault {
  const char* name;
  std::function<void(LaidXfs&)> patch;
  DiskResult open;
};

std::uint8_t* At(LaidXfs& l, std::uint64_t offset) { return l.bytes.data() + offset; }

// Faults on TwoLevelShape: group 0's root is an inner node over two leaves.
const Fault kFaults[] = {
    {"no superblock magic", [](LaidXfs& l) { l.bytes[0] = 'x'; }, DISK_E_FS_UNKNOWN},
    {"version 5", [](LaidXfs& l) { WriteBE16(At(l, 100), 0xB4A5); }, DISK_E_FS_UNKNOWN},
    {"newer tree magic AB3B", [](LaidXfs& l) { WriteBE32(At(l, l.rootOffsets[0]), 0x41423342); }, DISK_E_FS_UNKNOWN},
    {"block size not a power of two", [](LaidXfs& l) { WriteBE32(At(l, 4), 1000); }, DISK_E_FS_UNKNOWN},
    {"sector size above the block size", [](LaidXfs& l) { WriteBE16(At(l, 102), 1024); }, DISK_E_FS_UNKNOWN},
    {"no groups", [](LaidXfs& l) { WriteBE32(At(l, 88), 0); }, DISK_E_FS_UNKNOWN},
    {"more groups than data blocks", [](LaidXfs& l) { WriteBE32(At(l, 88), 3); }, DISK_E_FS_UNKNOWN},
    {"more data blocks than the volume", [](LaidXfs& l) { WriteBE64(At(l, 8), 2 * 32768); }, DISK_E_FS_UNKNOWN},
    {"groups below 16 MiB", [](LaidXfs& l) {
       WriteBE32(At(l, 84), 16384);
       WriteBE32(At(l, 88), 4);
     }, DISK_E_FS_UNKNOWN},
    {"data blocks of 2^32", [](LaidXfs& l) { WriteBE64(At(l, 8), 1ull << 32); }, DISK_E_FS_UNKNOWN},
    {"second group without its superblock", [](LaidXfs& l) { l.bytes[32768 * 512] = 0; }, DISK_E_FS_UNKNOWN},
    {"AGF magic", [](LaidXfs& l) { l.bytes[l.agfOffsets[1]] = 0; }, DISK_E_FS_UNKNOWN},
    {"AGF of another group", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[1] + 8), 0); }, DISK_E_FS_UNKNOWN},
    {"AGF length past the data", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[1] + 12), 32768); }, DISK_E_FS_UNKNOWN},
    {"root past the group", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[0] + 16), 40000); }, DISK_E_FS_UNKNOWN},
    {"root in the headers", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[0] + 16), 1); }, DISK_E_FS_UNKNOWN},
    {"no levels", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[0] + 28), 0); }, DISK_E_FS_UNKNOWN},
    {"too many levels", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[0] + 28), 10); }, DISK_E_FS_UNKNOWN},
    {"levels disagreeing with the root", [](LaidXfs& l) { WriteBE32(At(l, l.agfOffsets[0] + 28), 3); }, DISK_E_FS_UNKNOWN},
    {"child pointing back at the root", [](LaidXfs& l) {
       const std::uint32_t capacity = (512 - 16) / 12;
       WriteBE32(At(l, l.rootOffsets[0] + 16 + capacity * 8 + 4), 4);
     }, DISK_E_FS_UNKNOWN},
    {"root naming itself with its own level", [](LaidXfs& l) {
       const std::uint32_t capacity = (512 - 16) / 12;
       WriteBE16(At(l, l.rootOffsets[0] + 4), 0);  // a leaf claiming inner records
       (void)capacity;
     }, DISK_E_FS_UNKNOWN},
    {"the same leaf twice", [](LaidXfs& l) {
       const std::uint32_t capacity = (512 - 16) / 12;
       WriteBE32(At(l, l.rootOffsets[0] + 16 + capacity * 8 + 4), 5);
     }, DISK_E_FS_UNKNOWN},
    {"records beyond a leaf", [](LaidXfs& l) { WriteBE16(At(l, l.leafOffsets[0] + 6), 63); }, DISK_E_FS_UNKNOWN},
    {"an empty inner leaf", [](LaidXfs& l) { WriteBE16(At(l, l.leafOffsets[1] + 6), 0); }, DISK_E_FS_UNKNOWN},
    {"extent past the group", [](LaidXfs& l) { WriteBE32(At(l, l.leafOffsets[2] + 16 + 2 * 8 + 4), 269); }, DISK_E_FS_UNKNOWN},
    {"extent over the headers", [](LaidXfs& l) { WriteBE32(At(l, l.leafOffsets[2] + 16 + 8), 2); }, DISK_E_FS_UNKNOWN},
    {"extents out of order", [](LaidXfs& l) { WriteBE32(At(l, l.leafOffsets[2] + 16 + 2 * 8), 40); }, DISK_E_FS_UNKNOWN},
};

TEST(XfsLaid, EachSingleFaultRejectsTheVolume) {
  for (const Fault& f : kFaults) {
    SCOPED_TRACE(f.name);
    LaidDisk d;
    Place(TwoLevelShape(), f.patch, &d);
    EXPECT_EQ(ProbeLaid(&d).open, f.open);
  }
}

TEST(XfsLaid, AnExtentOverTheTreesOwnBlocksLeavesThemInUse) {
  XfsShape s = TwoLevelShape();
  s.freeExtents[1] = {{4, 10}, {30, 100}};  // group 1's tree roots are its blocks 4 and 5
  LaidDisk d;
  Place(s, nullptr, &d);
  const Probe p = ProbeLaid(&d);
  ASSERT_EQ(p.open, DISK_OK);
  EXPECT_TRUE(p.bits[32768 + 4]);
  EXPECT_TRUE(p.bits[32768 + 5]);   // its by-size root
  EXPECT_FALSE(p.bits[32768 + 6]);
}

TEST(XfsLaid, RandomDamageToHeadersAndTreesNeverFreesAUsedSector) {
  LaidDisk d;
  Place(TwoLevelShape(), nullptr, &d);
  const LaidXfs laid = LayXfsVolume(TwoLevelShape());
  std::vector<ByteRegion> regions{{0, 204}, {32768 * 512, 204}};
  for (std::uint64_t at : laid.agfOffsets) regions.push_back({at, 64});
  for (std::uint64_t at : laid.rootOffsets) regions.push_back({at, 512});
  for (std::uint64_t at : laid.leafOffsets) regions.push_back({at, 512});
  RunByteMutations(d.disk.get(), kXfsHandler, 0, d.sectors, regions, d.truth, 1000, 11);
}

TEST(XfsLaid, RunningOutOfMemoryAtAnyAllocationGivesNomemAndLeaksNothing) {
  LaidDisk d;
  Place(FourKibShape(), nullptr, &d);
  RunAllocationFailures(kXfsHandler, d.disk->Open(), 0, d.sectors);
}

}  // namespace
}  // namespace qvt::test
