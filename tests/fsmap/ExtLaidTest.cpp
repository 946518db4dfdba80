// The ext reader's rules on hand-laid volumes (ExtVolumeLayer), which run
// everywhere: how sectors take block bits, groups whose bitmaps were never
// written, the layouts it refuses, single faults and random damage, and
// running out of memory.
#include <gtest/gtest.h>

#include <functional>

#include "ByteOrder.h"
#include "ExtVolumeLayer.h"
#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "FsmapTestKit.h"
#include "ReaderProbeKit.h"

namespace qvt::test {
namespace {

struct LaidDisk {
  TempFolder dir;
  std::unique_ptr<RawDisk> disk;
  std::uint32_t sectors = 0;
  std::vector<bool> truth;  // per sector
};

// The volume at sector 0 of a disk of its own size (no MBR: the boot block
// is zero), with `patch` applied to its bytes first.
void Place(const ExtShape& shape, const std::function<void(LaidExt&)>& patch, LaidDisk* out) {
  LaidExt laid = LayExtVolume(shape);
  if (patch) patch(laid);
  out->sectors = static_cast<std::uint32_t>(laid.bytes.size() / 512);
  out->truth = SectorsOfBlocks(LayExtVolume(shape).blockInUse, shape.blockSize / 512, out->sectors);
  out->disk = std::make_unique<RawDisk>(out->dir, L"ext", out->sectors);
  out->disk->Put(0, laid.bytes);
}

Probe ProbeLaid(LaidDisk* d) { return ProbeHandler(kExtHandler, d->disk->Open(), 0, d->sectors); }

ExtShape Shape1k() {
  ExtShape s;
  s.fileBlocks = {100, 101, 102, 1500, 2100, 3000};
  return s;
}

ExtShape Shape4k64() {
  ExtShape s;
  s.blockSize = 4096;
  s.blocksCount = 3 * 4096 - 100;  // a short last group
  s.blocksPerGroup = 4096;
  s.descSize = 64;
  s.fileBlocks = {40, 41, 5000, 9000};
  return s;
}

TEST(ExtLaid, OneKibBlocksKeepTheBootBlockAndMapBlockNToSectors2nAnd2nPlus1) {
  LaidDisk d;
  Place(Shape1k(), nullptr, &d);
  const Probe p = ProbeLaid(&d);
  ASSERT_EQ(p.open, DISK_OK);
  EXPECT_EQ(p.bits, d.truth);
  EXPECT_TRUE(p.bits[0] && p.bits[1]);             // boot block
  EXPECT_TRUE(p.bits[2] && p.bits[3]);             // block 1, the superblock
  EXPECT_TRUE(p.bits[200] && p.bits[205]);         // blocks 100..102, file data
  EXPECT_FALSE(p.bits[206] || p.bits[207]);        // block 103, free
}

TEST(ExtLaid, SixtyFourBitDescriptorsWithZeroHighHalvesAreReadNormally) {
  LaidDisk d;
  Place(Shape4k64(), nullptr, &d);
  const Probe p = ProbeLaid(&d);
  ASSERT_EQ(p.open, DISK_OK);
  EXPECT_EQ(p.bits, d.truth);
}

TEST(ExtLaid, GroupsWhoseBitmapWasNeverWrittenUseOnlyTheirOwnMetadata) {
  ExtShape s = Shape1k();
  s.uninitGroups = true;
  s.fileBlocks = {100};  // groups 1 and 2 stay BLOCK_UNINIT, their bitmaps 0xAA
  LaidDisk d;
  Place(s, nullptr, &d);
  const Probe p = ProbeLaid(&d);
  ASSERT_EQ(p.open, DISK_OK);
  EXPECT_EQ(p.bits, d.truth);
}

TEST(ExtLaid, TheWholeMapPassesThroughTheMapBuilder) {
  LaidDisk d;
  Place(Shape1k(), nullptr, &d);
  AllocationMap* map = MapOf(d.disk.get());
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(map->segmentCount, 1u);
  EXPECT_EQ(map->segments[0].kind, kFsExt);
  EXPECT_EQ(MapBits(map, 0, d.sectors), d.truth);
  FreeAllocationMap(map);
}

struct Fault {
  const char* name;
  bool wide;  // on the 64-bit shape
  std::function<void(LaidExt&, const ExtShape&)> patch;
  DiskResult open;
  int groupInUse;  // with DISK_OK: this group must read wholly in use (-1: none)
};

std::uint8_t* Sb(LaidExt& l) { return l.bytes.data() + 1024; }
std::uint8_t* Desc(LaidExt& l, const ExtShape& s, std::uint32_t g) { return l.bytes.data() + DescriptorOffset(l, s, g); }

const Fault kFaults[] = {
    {"wrong magic", false, [](LaidExt& l, const ExtShape&) { WriteLE16(Sb(l) + 56, 0xEF54); }, DISK_E_FS_UNKNOWN, -1},
    {"8 KiB blocks", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 24, 3); }, DISK_E_FS_UNKNOWN, -1},
    {"huge log block size", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 24, 0xFFFFFFFF); }, DISK_E_FS_UNKNOWN, -1},
    {"first data block 0 with 1 KiB blocks", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 20, 0); }, DISK_E_FS_UNKNOWN, -1},
    {"no blocks per group", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 32, 0); }, DISK_E_FS_UNKNOWN, -1},
    {"blocks per group beyond one bitmap block", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 32, 8200); }, DISK_E_FS_UNKNOWN, -1},
    {"blocks per group below 256", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 32, 128); }, DISK_E_FS_UNKNOWN, -1},
    {"blocks per group not a multiple of 8", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 32, 1023); }, DISK_E_FS_UNKNOWN, -1},
    {"more blocks than the volume", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 4, 3 * 1024 + 2); }, DISK_E_FS_UNKNOWN, -1},
    {"bigalloc", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 100, 0x0200); }, DISK_E_FS_UNKNOWN, -1},
    {"journal device", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 96, 0x0008); }, DISK_E_FS_UNKNOWN, -1},
    {"journal to replay", false, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 96, 0x0006); }, DISK_E_FS_BITMAP, -1},
    {"64-bit with high block count", true, [](LaidExt& l, const ExtShape&) { WriteLE32(Sb(l) + 336, 1); }, DISK_E_FS_UNKNOWN, -1},
    {"descriptor size not a power of two", true, [](LaidExt& l, const ExtShape&) { WriteLE16(Sb(l) + 254, 48); }, DISK_E_FS_UNKNOWN, -1},
    {"high bitmap block", true, [](LaidExt& l, const ExtShape& s) { WriteLE32(Desc(l, s, 1) + 32, 1); }, DISK_E_FS_UNKNOWN, -1},
    {"high free count", true, [](LaidExt& l, const ExtShape& s) { WriteLE16(Desc(l, s, 1) + 44, 1); }, DISK_E_FS_UNKNOWN, -1},
    {"free count one too many", false, [](LaidExt& l, const ExtShape& s) { Desc(l, s, 1)[12]++; }, DISK_OK, 1},
    {"bitmap beyond the volume", false, [](LaidExt& l, const ExtShape& s) { WriteLE32(Desc(l, s, 1), 1u << 30); }, DISK_OK, 1},
    {"bitmap in the boot block", false, [](LaidExt& l, const ExtShape& s) { WriteLE32(Desc(l, s, 2), 0); }, DISK_OK, 2},
    {"a used bit cleared", false, [](LaidExt& l, const ExtShape&) { l.bytes[l.groupBitmapOffsets[1] + (1500 - 1025) / 8] = 0; }, DISK_OK, 1},
    {"uninit flag without a good checksum", false, [](LaidExt& l, const ExtShape& s) {
       WriteLE32(Sb(l) + 100, 0x0010);
       WriteLE16(Desc(l, s, 2) + 18, 0x0002);
     }, DISK_OK, 2},
    {"uninit group whose count disagrees", false, [](LaidExt& l, const ExtShape& s) {
       WriteLE32(Sb(l) + 100, 0x0010);
       WriteLE16(Desc(l, s, 2) + 18, 0x0002);
       Desc(l, s, 2)[12]--;
       ResealDescriptor(l, s, 2);
     }, DISK_OK, 2},
    {"uninit group with a good checksum", false, [](LaidExt& l, const ExtShape& s) {
       // Group 2's bitmap says what the synthesised one says, so the
       // counter matches and the group reads normally.
       WriteLE32(Sb(l) + 100, 0x0010);
       WriteLE16(Desc(l, s, 2) + 18, 0x0002);
       ResealDescriptor(l, s, 2);
     }, DISK_OK, -1},
    {"inode table claimed free", false, [](LaidExt& l, const ExtShape& s) {
       // The bitmap and the counter agree on a free inode table: the table
       // still stays in use.
       l.bytes[l.groupBitmapOffsets[1]] = 0x1F & ~0x10;
       Desc(l, s, 1)[12]++;
     }, DISK_OK, -1},
};

TEST(ExtLaid, EachSingleFaultIsRefusedOrKeepsTheDoubtfulGroupInUse) {
  for (const Fault& f : kFaults) {
    SCOPED_TRACE(f.name);
    const ExtShape shape = f.wide ? Shape4k64() : Shape1k();
    LaidDisk d;
    Place(shape, [&](LaidExt& l) { f.patch(l, shape); }, &d);
    const Probe p = ProbeLaid(&d);
    ASSERT_EQ(p.open, f.open);
    if (p.open != DISK_OK) continue;
    EXPECT_TRUE(UsedButFree(d.truth, p.bits).empty());
    if (f.groupInUse < 0) continue;
    const std::uint32_t spb = shape.blockSize / 512;
    const std::uint32_t first = (1 + f.groupInUse * shape.blocksPerGroup) * spb;
    for (std::uint32_t s = first; s < first + shape.blocksPerGroup * spb && s < d.sectors; ++s) {
      ASSERT_TRUE(p.bits[s]) << "sector " << s;
    }
  }
}

TEST(ExtLaid, RandomDamageToSuperblockDescriptorsAndBitmapsNeverFreesAUsedSector) {
  for (bool uninit : {false, true}) {
    ExtShape s = Shape1k();
    s.uninitGroups = uninit;
    s.fileBlocks = {100, 101, 1500};
    LaidDisk d;
    Place(s, nullptr, &d);
    const LaidExt laid = LayExtVolume(s);
    std::vector<ByteRegion> regions{{1024, 400}, {laid.descriptorTable, 3 * 32}};
    for (std::uint64_t at : laid.groupBitmapOffsets) regions.push_back({at, 1024 / 8});
    RunByteMutations(d.disk.get(), kExtHandler, 0, d.sectors, regions, d.truth, 1500, uninit ? 7 : 3);
  }
}

TEST(ExtLaid, RunningOutOfMemoryAtAnyAllocationGivesNomemAndLeaksNothing) {
  for (const ExtShape& s : {Shape1k(), Shape4k64()}) {
    LaidDisk d;
    Place(s, nullptr, &d);
    RunAllocationFailures(kExtHandler, d.disk->Open(), 0, d.sectors);
  }
}

TEST(ExtLaid, AVolumeTooSmallForASuperblockIsNotExt) {
  TempFolder dir;
  RawDisk disk(dir, L"tiny", 3);
  EXPECT_EQ(ProbeHandler(kExtHandler, disk.Open(), 0, 3).open, DISK_E_FS_UNKNOWN);
}

}  // namespace
}  // namespace qvt::test
