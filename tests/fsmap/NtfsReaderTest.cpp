// The NTFS reader's own rules: run lists and update sequences on bytes laid
// out here, then a fresh mkntfs volume damaged one field at a time, by a
// seeded mutation loop over every byte the reader reads, and with every
// allocation failing in turn.
#include <gtest/gtest.h>

#include <random>

#include "ByteOrder.h"
#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "Heap.h"
#include "NtfsRecord.h"
#include "NtfsRunList.h"
#include "NtfsTestVolumes.h"

namespace qvt::test {
namespace {

struct RunListCase {
  const char* name;
  std::vector<std::uint8_t> pairs;
  DiskResult expected;
  std::vector<NtfsRun> runs;
};

TEST(NtfsRunList, DecodesOrRejectsEachCase) {
  const RunListCase cases[] = {
      {"two runs", {0x21, 0x10, 0x00, 0x01, 0x11, 0x08, 0x20, 0x00}, DISK_OK, {{256, 16}, {288, 8}}},
      {"negative offset moves back", {0x21, 0x04, 0x00, 0x10, 0x11, 0x02, 0xF0, 0x00}, DISK_OK,
       {{4096, 4}, {4080, 2}}},
      {"four-byte fields", {0x44, 1, 0, 0, 0, 0, 0, 0, 0x40, 0}, DISK_OK, {{0x40000000, 1}}},
      {"sparse run", {0x11, 0x04, 0x10, 0x01, 0x04, 0x00}, DISK_E_FS_BITMAP, {}},
      {"offset field of 5 bytes", {0x51, 0x01, 1, 0, 0, 0, 0, 0x00}, DISK_E_FS_BITMAP, {}},
      {"length field of 5 bytes", {0x15, 1, 0, 0, 0, 0, 0x10, 0x00}, DISK_E_FS_BITMAP, {}},
      {"fields past the end", {0x22, 0x01, 0x00, 0x10}, DISK_E_FS_BITMAP, {}},
      {"no closing zero", {0x11, 0x01, 0x10}, DISK_E_FS_BITMAP, {}},
      {"zero length", {0x11, 0x00, 0x10, 0x00}, DISK_E_FS_BITMAP, {}},
      {"before cluster 0", {0x11, 0x01, 0x10, 0x11, 0x01, 0xE0, 0x00}, DISK_E_FS_BITMAP, {}},
      {"past 2^31 clusters", {0x41, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 0x41, 0x01, 0x01, 0, 0, 0, 0}, DISK_E_FS_BITMAP,
       {}},
  };
  for (const RunListCase& c : cases) {
    std::uint32_t count = 0;
    ASSERT_EQ(DecodeNtfsRunList(c.pairs.data(), c.pairs.size(), nullptr, 0, &count), c.expected) << c.name;
    if (c.expected != DISK_OK) continue;
    std::vector<NtfsRun> runs(count);
    ASSERT_EQ(DecodeNtfsRunList(c.pairs.data(), c.pairs.size(), runs.data(), count, &count), DISK_OK);
    ASSERT_EQ(runs.size(), c.runs.size()) << c.name;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].firstCluster, c.runs[i].firstCluster) << c.name;
      EXPECT_EQ(runs[i].length, c.runs[i].length) << c.name;
    }
  }
}

// A 1024-byte record with sequence number 7 and saved end bytes AA BB, CC DD.
std::vector<std::uint8_t> GuardedRecord() {
  std::vector<std::uint8_t> r(1024, 0x5A);
  std::copy_n("FILE", 4, r.begin());
  WriteLE16(&r[4], 48);
  WriteLE16(&r[6], 3);
  WriteLE16(&r[48], 7);
  r[50] = 0xAA, r[51] = 0xBB, r[52] = 0xCC, r[53] = 0xDD;
  WriteLE16(&r[510], 7);
  WriteLE16(&r[1022], 7);
  return r;
}

TEST(NtfsRecordRepair, PutsBackTheSavedEndsOfEverySector) {
  std::vector<std::uint8_t> r = GuardedRecord();
  ASSERT_EQ(RepairNtfsRecord(r.data(), 1024), DISK_OK);
  EXPECT_EQ(r[510], 0xAA);
  EXPECT_EQ(r[511], 0xBB);
  EXPECT_EQ(r[1022], 0xCC);
  EXPECT_EQ(r[1023], 0xDD);
}

TEST(NtfsRecordRepair, RejectsATornOrMisshapenRecordUnchanged) {
  struct Case { const char* name; std::size_t at; std::uint8_t value; };
  const Case cases[] = {{"second sector torn", 1022, 8}, {"first sector torn", 511, 1},
                        {"magic", 0, 'B'},               {"entry count", 6, 2},
                        {"array past the first sector", 4, 0xFE}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> r = GuardedRecord();
    r[c.at] = c.value;
    const std::vector<std::uint8_t> before = r;
    EXPECT_EQ(RepairNtfsRecord(r.data(), 1024), DISK_E_FS_BITMAP) << c.name;
    EXPECT_EQ(r, before) << c.name;
  }
}

// A fresh small volume in an MBR partition, with its layout as the test
// sees it: where the boot sector, MFT records 0 and 6 and the $Bitmap
// attribute's run list lie.
class NtfsDamage : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kStart = 63;
  void SetUp() override {
    std::string why;
    if (!MakeNtfsVolume("plain4096", 8 * (1u << 20) + 1024, 4096, false, 0, &volume_, &why)) GTEST_SKIP() << why;
    pristine_ = ReadWholeFile(volume_->image);
    disk_ = std::make_unique<RawDisk>(dir_, L"disk", kStart + volume_->sectors + 64);
    disk_->PutEntry(0, 0, 0x07, kStart, volume_->sectors);
    PlaceVolume(disk_.get(), kStart, volume_->image);
    mft_ = volume_->mftCluster * volume_->sectorsPerCluster * 512;
    bitmapRecord_ = mft_ + 6 * 1024;
  }
  std::uint64_t Disk(std::uint64_t volumeOffset) const { return std::uint64_t{kStart} * 512 + volumeOffset; }
  DiskResult Open(void** state) {
    ImageHandle* image = disk_->Open();
    EXPECT_NE(image, nullptr);
    return kNtfsHandler.open(state, image, kStart, volume_->sectors);
  }
  // Restores the bytes [at, at + n) of the volume.
  void Restore(std::uint64_t at, std::size_t n) {
    disk_->Close();
    disk_->Put(Disk(at), std::vector<std::uint8_t>(pristine_.begin() + static_cast<std::ptrdiff_t>(at),
                                                    pristine_.begin() + static_cast<std::ptrdiff_t>(at + n)));
  }
  std::vector<bool> Query(void* state) {
    std::vector<std::uint8_t> bytes((volume_->sectors + 7) / 8);
    EXPECT_EQ(kNtfsHandler.query(state, 0, volume_->sectors, bytes.data(), 0), DISK_OK);
    std::vector<bool> bits(volume_->sectors);
    for (std::uint32_t i = 0; i < volume_->sectors; ++i) bits[i] = (bytes[i / 8] >> (i % 8)) & 1;
    return bits;
  }
  // The offset of an attribute of `type` in the record at `record`.
  std::uint64_t AttributeOf(std::uint64_t record, std::uint32_t type) const {
    std::uint64_t at = record + ReadLE16(&pristine_[record + 20]);
    while (ReadLE32(&pristine_[at]) != type) at += ReadLE32(&pristine_[at + 4]);
    return at;
  }

  TempFolder dir_;
  const NtfsVolume* volume_ = nullptr;
  std::vector<std::uint8_t> pristine_;
  std::unique_ptr<RawDisk> disk_;
  std::uint64_t mft_ = 0, bitmapRecord_ = 0;
};

TEST_F(NtfsDamage, APristineVolumeOpensAndAnswersByCluster) {
  void* state = nullptr;
  ASSERT_EQ(Open(&state), DISK_OK);
  const std::vector<bool> bits = Query(state);
  // A 4 KiB cluster is eight sectors with one answer.
  for (std::uint32_t s = 0; s < 8; ++s) EXPECT_EQ(bits[s], NtfsClusterUsed(*volume_, 0));
  std::uint64_t free = 0;
  while (NtfsClusterUsed(*volume_, free)) ++free;
  ASSERT_LT(free, volume_->clusters);
  for (std::uint32_t s = 0; s < 8; ++s) EXPECT_FALSE(bits[free * 8 + s]);
  // Sectors past the last whole cluster (and the backup boot sector) are in use.
  for (std::uint32_t s = static_cast<std::uint32_t>(volume_->clusters * 8); s < volume_->sectors; ++s) {
    EXPECT_TRUE(bits[s]) << s;
  }
  EXPECT_TRUE(UsedButFree(NtfsUsedSectors(*volume_), bits).empty());
  kNtfsHandler.close(state);
}

TEST_F(NtfsDamage, EachDamagedFieldGivesItsCode) {
  const std::uint64_t info = AttributeOf(mft_, 0x10);
  const std::uint64_t bitmapData = AttributeOf(bitmapRecord_, 0x80);
  const std::uint64_t bitmapPairs = bitmapData + ReadLE16(&pristine_[bitmapData + 32]);
  const std::uint32_t bitmapLcn = ReadLE32(&pristine_[bitmapPairs + 2]);  // header 0x21 or 0x31
  struct Case {
    const char* name;
    std::uint64_t at;
    std::vector<std::uint8_t> bytes;
    DiskResult expected;
  };
  const Case cases[] = {
      {"oem name", 3, {'N', 'T', 'F', 'X'}, DISK_E_FS_UNKNOWN},
      {"4096 bytes per sector", 11, {0x00, 0x10}, DISK_E_FS_UNKNOWN},
      {"boot signature", 510, {0x55, 0x55}, DISK_E_FS_UNKNOWN},
      {"no sectors per cluster", 13, {0}, DISK_E_FS_BITMAP},
      {"three sectors per cluster", 13, {3}, DISK_E_FS_BITMAP},
      {"more than 2^31 clusters", 40, {0, 0, 0, 0, 8, 0, 0, 0}, DISK_E_FS_BITMAP},
      {"larger than its partition", 40, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, DISK_E_FS_BITMAP},
      {"mft past the volume", 48, {0, 0, 0, 1, 0, 0, 0, 0}, DISK_E_FS_BITMAP},
      {"record size code 0", 64, {0}, DISK_E_FS_BITMAP},
      {"mft record torn", mft_ + 1022, {0x12, 0x34}, DISK_E_FS_BITMAP},
      {"bitmap record torn", bitmapRecord_ + 510, {0x12, 0x34}, DISK_E_FS_BITMAP},
      {"attribute list in $MFT", info + ReadLE32(&pristine_[info + 4]), {0x20}, DISK_E_FS_BITMAP},
      {"$MFT misnamed", AttributeOf(mft_, 0x30) + 24 + 66 + 2, {'X'}, DISK_E_FS_BITMAP},
      {"bitmap data named", bitmapData + 9, {1}, DISK_E_FS_BITMAP},
      {"bitmap run sparse", bitmapPairs, {0x01}, DISK_E_FS_BITMAP},
      {"bitmap run past the volume", bitmapPairs + 2, {0xFF, 0x7F}, DISK_E_FS_BITMAP},
      {"bitmap moved onto free space", bitmapPairs + 2,
       {static_cast<std::uint8_t>(volume_->clusters - 8), static_cast<std::uint8_t>((volume_->clusters - 8) >> 8)},
       DISK_E_FS_BITMAP},
  };
  ASSERT_NE(bitmapLcn, 0u);
  for (const Case& c : cases) {
    disk_->Close();
    disk_->Put(Disk(c.at), c.bytes);
    void* state = reinterpret_cast<void*>(1);
    EXPECT_EQ(Open(&state), c.expected) << c.name;
    EXPECT_EQ(state, nullptr) << c.name;
    Restore(c.at, c.bytes.size());
  }
}

TEST_F(NtfsDamage, NoMutationOfWhatTheReaderReadsCrashesOrFreesAUsedSector) {
  const std::vector<bool> used = NtfsUsedSectors(*volume_);
  struct Area { std::uint64_t at; std::uint32_t size; };
  const Area areas[] = {{0, 80}, {mft_, 1024}, {bitmapRecord_, 1024}};
  std::mt19937 random(20261210);
  int accepted = 0;
  for (int round = 0; round < 400; ++round) {
    const Area& area = areas[round % 3];
    const int flips = 1 + static_cast<int>(random() % 3);
    disk_->Close();
    for (int i = 0; i < flips; ++i) {
      disk_->PutByte(Disk(area.at + random() % area.size), static_cast<std::uint8_t>(random()));
    }
    void* state = nullptr;
    const DiskResult r = Open(&state);
    EXPECT_TRUE(r == DISK_OK || r == DISK_E_FS_UNKNOWN || r == DISK_E_FS_BITMAP || r == DISK_E_LIMIT)
        << "round " << round << ": " << r;
    if (r == DISK_OK) {
      ++accepted;
      EXPECT_TRUE(UsedButFree(used, Query(state)).empty()) << "round " << round;
      kNtfsHandler.close(state);
    }
    Restore(area.at, area.size);
  }
  EXPECT_GT(accepted, 0);
}

TEST_F(NtfsDamage, EveryAllocationFailureIsNoMemoryAndLeavesNothing) {
  ImageHandle* image = disk_->Open();
  ASSERT_NE(image, nullptr);
  for (long n = 0;; ++n) {
    void* state = nullptr;
    InjectAllocationFailureAfter(n);
    const DiskResult r = kNtfsHandler.open(&state, image, kStart, volume_->sectors);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) {
      kNtfsHandler.close(state);
      EXPECT_GT(n, 0);
      break;
    }
    ASSERT_EQ(r, DISK_E_NOMEM) << n;
    EXPECT_EQ(state, nullptr);
  }
}

}  // namespace
}  // namespace qvt::test
