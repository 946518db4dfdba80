// Reading a physical volume from a disk: where the label may stand, which
// binary fields are trusted, what the two passes of volume discovery get,
// and that damage anywhere is a refusal rather than a crash.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "Heap.h"
#include "Lvm2TestKit.h"

namespace qvt {
namespace {

using test::FoundVolume;
using test::RawDisk;
using test::SyntheticPv;

constexpr std::uint32_t kDiskSectors = 131072 + 4096;  // a 64 MiB PV at sector 2048 and room
constexpr std::uint32_t kPvFirst = 2048;

class Lvm2Reading : public ::testing::Test {
 protected:
  SyntheticPv Pv() const {
    SyntheticPv pv;
    pv.text = test::Lvm2Text({{"lv1", 2, 0}, {"lv_two", 3, 2}});
    return pv;
  }
  DiskResult Read(const SyntheticPv& pv, std::vector<FoundVolume>* found) {
    RawDisk disk(dir_, L"pv", kDiskSectors);
    test::WriteSyntheticPv(&disk, kPvFirst, pv);
    ImageHandle* image = disk.Open();
    if (image == nullptr) return DISK_E_OPEN;
    return test::ReadPv(image, kPvFirst, found);
  }

  test::TempFolder dir_;
};

TEST_F(Lvm2Reading, ThePvAsPvcreateWritesItGivesOneRecordPerVolume) {
  std::vector<FoundVolume> found;
  ASSERT_EQ(Read(Pv(), &found), DISK_OK);
  const std::vector<FoundVolume> expected = {{kPvFirst + 2048, 16384, 0},
                                             {kPvFirst + 2048 + 16384, 24576, 0}};
  EXPECT_EQ(found, expected);
}

TEST_F(Lvm2Reading, TheLabelIsFoundInAnyOfTheFirstFourSectors) {
  for (std::uint32_t sector = 0; sector < 4; ++sector) {
    SyntheticPv pv = Pv();
    pv.labelSector = sector;
    pv.labelSectorField = sector;
    std::vector<FoundVolume> found;
    EXPECT_EQ(Read(pv, &found), DISK_OK) << sector;
    EXPECT_EQ(found.size(), 2u) << sector;
  }
}

TEST_F(Lvm2Reading, DamagedOrMisplacedStructuresAreRefused) {
  const struct {
    const char* what;
    std::function<void(SyntheticPv*)> change;
  } cases[] = {
      {"a label in sector 1 that says sector 0", [](SyntheticPv* p) { p->labelSectorField = 0; }},
      {"a label in sector 4",
       [](SyntheticPv* p) {
         p->labelSector = 4;
         p->labelSectorField = 4;
       }},
      {"metadata over 2048 bytes", [](SyntheticPv* p) { p->rawSize = 2049; }},
      {"a text over 2048 bytes", [](SyntheticPv* p) { p->text += std::string(2048, '\n'); }},
      {"a raw location past the area's end",
       [](SyntheticPv* p) {
         p->rawOffset = p->metadataSize - 100;  // LVM2 would wrap it to the area's start
       }},
      {"a raw location at offset 0", [](SyntheticPv* p) { p->rawOffset = 0; }},
      {"a raw location past 2^64", [](SyntheticPv* p) { p->rawOffset = ~0ull - 10; }},
      {"a metadata area past the PV", [](SyntheticPv* p) { p->metadataSize = p->deviceSize; }},
      {"a metadata area past the disk",
       [](SyntheticPv* p) {
         p->deviceSize = 1ull << 40;
         p->metadataOffset = (1ull << 39);
       }},
      {"a metadata area past 2^64",
       [](SyntheticPv* p) {
         p->deviceSize = ~0ull;
         p->metadataOffset = ~0ull - 1000;
       }},
      {"a metadata area smaller than its header", [](SyntheticPv* p) { p->metadataSize = 511; }},
      {"text that is no Shift_JIS", [](SyntheticPv* p) { p->text.insert(0, "# \x81\x20\n"); }},
  };
  for (const auto& c : cases) {
    SyntheticPv pv = Pv();
    c.change(&pv);
    std::vector<FoundVolume> found;
    EXPECT_EQ(Read(pv, &found), DISK_E_FS_UNKNOWN) << c.what;
  }
}

TEST_F(Lvm2Reading, TheTextEndsAtItsNul) {
  SyntheticPv pv = Pv();
  pv.rawSize = pv.text.size() + 40;  // the NUL, then bytes no parser should see
  RawDisk disk(dir_, L"pv", kDiskSectors);
  test::WriteSyntheticPv(&disk, kPvFirst, pv);
  disk.Put(kPvFirst * 512ull + pv.metadataOffset + pv.rawOffset + pv.text.size() + 1,
           std::vector<std::uint8_t>(39, '}'));
  std::vector<FoundVolume> found;
  EXPECT_EQ(test::ReadPv(disk.Open(), kPvFirst, &found), DISK_OK);
  EXPECT_EQ(found.size(), 2u);
}

TEST_F(Lvm2Reading, OneByteChangedInTheLabelOrAreaHeaderIsCaughtByTheCrc) {
  const std::uint64_t label = kPvFirst * 512ull + 512;
  const std::uint64_t header = kPvFirst * 512ull + 4096;
  for (std::uint64_t at : {label + 20, label + 40, label + 200, label + 511, header + 4,
                           header + 40, header + 48, header + 511}) {
    RawDisk disk(dir_, L"pv", kDiskSectors);
    test::WriteSyntheticPv(&disk, kPvFirst, Pv());
    disk.PutByte(at, 0x5A);
    std::vector<FoundVolume> found;
    EXPECT_EQ(test::ReadPv(disk.Open(), kPvFirst, &found), DISK_E_FS_UNKNOWN) << at;
  }
}

TEST_F(Lvm2Reading, AFullListKeepsWhatFitsAndSaysSo) {
  RawDisk disk(dir_, L"pv", kDiskSectors);
  test::WriteSyntheticPv(&disk, kPvFirst, Pv());
  VolumeRecord records[2] = {MakeVolumeRecord(7, 7), MakeVolumeRecord(0, 0)};
  VolumeList list{records, 2, 1};  // one slot already taken
  ASSERT_EQ(ReadLvm2PhysicalVolume(disk.Open(), kPvFirst, &list), DISK_OK);
  EXPECT_EQ(list.count, 2u);
  EXPECT_EQ(VolumeFirstSector(records[0]), 7u);
  EXPECT_EQ(VolumeFirstSector(records[1]), kPvFirst + 2048);
}

TEST_F(Lvm2Reading, ReadFailuresAndMemoryFailuresComeBackAsThemselves) {
  RawDisk disk(dir_, L"pv", kDiskSectors);
  test::WriteSyntheticPv(&disk, kPvFirst, Pv());
  VolumeList counting{nullptr, kMaxVolumes, 0};
  // A PV that starts in the disk's last sector cannot have its label read.
  EXPECT_EQ(ReadLvm2PhysicalVolume(disk.Open(), kDiskSectors - 1, &counting), DISK_E_LIMIT);
  EXPECT_EQ(counting.count, 0u);
  ImageHandle* image = disk.Open();
  InjectAllocationFailureAfter(0);
  const DiskResult r = ReadLvm2PhysicalVolume(image, kPvFirst, &counting);
  InjectAllocationFailureAfter(-1);
  EXPECT_EQ(r, DISK_E_NOMEM);
  EXPECT_EQ(counting.count, 0u);
}

// Random damage over the binary structures and the text of a sound PV: the
// answer is a list of volumes on the PV or a refusal, nothing else.
TEST_F(Lvm2Reading, RandomDamageGivesAVolumeListOrARefusal) {
  RawDisk disk(dir_, L"pv", kDiskSectors);
  const SyntheticPv pv = Pv();
  test::WriteSyntheticPv(&disk, kPvFirst, pv);
  const std::uint64_t base = kPvFirst * 512ull;
  const std::uint64_t text = base + pv.metadataOffset + pv.rawOffset;
  std::mt19937 random(7);
  for (int round = 0; round < 150; ++round) {
    test::WriteSyntheticPv(&disk, kPvFirst, pv);
    for (int e = 0; e < 3; ++e) {
      const std::uint64_t at =
          (random() % 2 == 0) ? base + random() % 4608 : text + random() % pv.text.size();
      disk.PutByte(at, static_cast<std::uint8_t>(random()));
    }
    std::vector<FoundVolume> found;
    const DiskResult r = test::ReadPv(disk.Open(), kPvFirst, &found);
    ASSERT_TRUE(r == DISK_OK || r == DISK_E_FS_UNKNOWN) << r;
    for (const FoundVolume& v : found) {
      EXPECT_GE(v.first, kPvFirst);
      EXPECT_LE(static_cast<std::uint64_t>(v.first) + v.count, kPvFirst + 131072ull);
    }
  }
}

}  // namespace
}  // namespace qvt
