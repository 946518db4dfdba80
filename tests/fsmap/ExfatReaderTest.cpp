// The exFAT reader's own rules on a fresh mkfs.exfat volume: the boot region
// and FAT always in use, each damaged field with its code, a seeded
// mutation loop over every byte the reader reads, and every allocation
// failing in turn.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ByteOrder.h"
#include "ExfatTestVolumes.h"
#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "Heap.h"
#include "NtfsTestVolumes.h"

namespace qvt::test {
namespace {

class ExfatDamage : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kStart = 63;
  void SetUp() override {
    std::string why;
    if (!MakeExfatVolume("plain4096", 8 * (1u << 20), 4096, false, 0, &volume_, &why)) GTEST_SKIP() << why;
    pristine_ = ReadWholeFile(volume_->image);
    disk_ = std::make_unique<RawDisk>(dir_, L"disk", kStart + volume_->sectors + 64);
    disk_->PutEntry(0, 0, 0x07, kStart, volume_->sectors);
    PlaceVolume(disk_.get(), kStart, volume_->image);
    const std::uint32_t root = ReadLE32(&pristine_[96]);
    rootDir_ = Cluster(root);
    for (std::uint64_t at = rootDir_; pristine_[at] != 0; at += 32) {
      if (pristine_[at] == 0x81) bitmapEntry_ = at;
      if (pristine_[at] == 0x82) upcaseEntry_ = at;
    }
    fat_ = std::uint64_t{ReadLE32(&pristine_[80])} * 512;
  }
  std::uint64_t Cluster(std::uint32_t c) const {
    return std::uint64_t{volume_->heapOffset} * 512 + std::uint64_t{c - 2} * volume_->clusterSectors * 512;
  }
  std::uint64_t Disk(std::uint64_t at) const { return std::uint64_t{kStart} * 512 + at; }
  DiskResult Open(void** state) {
    ImageHandle* image = disk_->Open();
    EXPECT_NE(image, nullptr);
    return kExfatHandler.open(state, image, kStart, volume_->sectors);
  }
  void Restore(std::uint64_t at, std::size_t n) {
    disk_->Close();
    disk_->Put(Disk(at), std::vector<std::uint8_t>(pristine_.begin() + static_cast<std::ptrdiff_t>(at),
                                                    pristine_.begin() + static_cast<std::ptrdiff_t>(at + n)));
  }
  std::vector<bool> Query(void* state, std::uint32_t first, std::uint32_t count) {
    std::vector<std::uint8_t> bytes((count + 7) / 8 + 1);
    EXPECT_EQ(kExfatHandler.query(state, first, count, bytes.data(), 3), DISK_OK);
    std::vector<bool> bits(count);
    for (std::uint32_t i = 0; i < count; ++i) bits[i] = (bytes[(i + 3) / 8] >> ((i + 3) % 8)) & 1;
    return bits;
  }

  TempFolder dir_;
  const ExfatVolume* volume_ = nullptr;
  std::vector<std::uint8_t> pristine_;
  std::unique_ptr<RawDisk> disk_;
  std::uint64_t rootDir_ = 0, bitmapEntry_ = 0, upcaseEntry_ = 0, fat_ = 0;
};

TEST_F(ExfatDamage, BootRegionAndFatAreInUseAndTheHeapAnswersByCluster) {
  void* state = nullptr;
  ASSERT_EQ(Open(&state), DISK_OK);
  const std::vector<bool> all = Query(state, 0, volume_->sectors);
  for (std::uint32_t s = 0; s < volume_->heapOffset; ++s) ASSERT_TRUE(all[s]) << s;
  EXPECT_TRUE(UsedButFree(volume_->used, all).empty());
  // A query that starts inside the FAT and ends in the heap, at an odd bit.
  const std::uint32_t from = volume_->heapOffset - 5;
  const std::vector<bool> part = Query(state, from, 200);
  for (std::uint32_t i = 0; i < 200; ++i) EXPECT_EQ(part[i], all[from + i]) << i;
  std::uint32_t free = 0;
  for (bool b : all) free += !b;
  EXPECT_GT(free, volume_->sectors / 2);
  kExfatHandler.close(state);
}

TEST_F(ExfatDamage, EachDamagedFieldGivesItsCode) {
  ASSERT_NE(bitmapEntry_, 0u);
  const std::uint32_t bitmapCluster = ReadLE32(&pristine_[bitmapEntry_ + 20]);
  struct Case {
    const char* name;
    std::uint64_t at;
    std::vector<std::uint8_t> bytes;
    DiskResult expected;
  };
  const Case cases[] = {
      {"file system name", 3, {'E', 'X', 'F', 'A', 'X'}, DISK_E_FS_UNKNOWN},
      {"must-be-zero area", 40, {1}, DISK_E_FS_UNKNOWN},
      {"bytes-per-sector shift 14", 108, {14}, DISK_E_FS_UNKNOWN},
      {"cluster of 64 MiB", 109, {17}, DISK_E_FS_UNKNOWN},
      {"boot signature", 510, {0x55, 0x55}, DISK_E_FS_UNKNOWN},
      {"dirty volume", 106, {0x02}, DISK_E_FS_BITMAP},
      {"two FATs", 110, {2}, DISK_E_FS_BITMAP},
      {"heap past the volume", 92, {0xFF, 0xFF, 0xFF, 0x00}, DISK_E_FS_BITMAP},
      {"root cluster 1", 96, {1, 0, 0, 0}, DISK_E_FS_BITMAP},
      {"no bitmap entry: label and up-case only", bitmapEntry_, {0x83}, DISK_E_FS_UNKNOWN},
      {"bitmap past the heap", bitmapEntry_ + 20, {0xF0, 0xFF, 0xFF, 0x0F}, DISK_E_FS_BITMAP},
      {"bitmap of no bytes", bitmapEntry_ + 24, {0, 0, 0, 0, 0, 0, 0, 0}, DISK_E_FS_BITMAP},
      {"bitmap chained elsewhere", fat_ + 4 * bitmapCluster, {9, 0, 0, 0}, DISK_E_FS_BITMAP},
      {"bitmap moved onto free space", bitmapEntry_ + 20,
       {static_cast<std::uint8_t>(volume_->clusters - 4), static_cast<std::uint8_t>((volume_->clusters - 4) >> 8), 0,
        0},
       DISK_E_FS_BITMAP},
  };
  for (const Case& c : cases) {
    disk_->Close();
    disk_->Put(Disk(c.at), c.bytes);
    void* state = reinterpret_cast<void*>(1);
    EXPECT_EQ(Open(&state), c.expected) << c.name;
    EXPECT_EQ(state, nullptr) << c.name;
    Restore(c.at, c.bytes.size());
  }
}

TEST_F(ExfatDamage, NoMutationOfWhatTheReaderReadsCrashesOrFreesAUsedSector) {
  struct Area { std::uint64_t at; std::uint32_t size; };
  const std::uint32_t bitmapCluster = ReadLE32(&pristine_[bitmapEntry_ + 20]);
  const Area areas[] = {{0, 120}, {rootDir_, 128}, {fat_, 4 * (bitmapCluster + 4)}};
  std::mt19937 random(20261211);
  int accepted = 0;
  for (int round = 0; round < 400; ++round) {
    const Area& area = areas[round % 3];
    disk_->Close();
    for (int i = 0, n = 1 + static_cast<int>(random() % 3); i < n; ++i) {
      disk_->PutByte(Disk(area.at + random() % area.size), static_cast<std::uint8_t>(random()));
    }
    void* state = nullptr;
    const DiskResult r = Open(&state);
    EXPECT_TRUE(r == DISK_OK || r == DISK_E_FS_UNKNOWN || r == DISK_E_FS_BITMAP || r == DISK_E_LIMIT)
        << "round " << round << ": " << r;
    if (r == DISK_OK) {
      ++accepted;
      EXPECT_TRUE(UsedButFree(volume_->used, Query(state, 0, volume_->sectors)).empty()) << "round " << round;
      kExfatHandler.close(state);
    }
    Restore(area.at, area.size);
  }
  EXPECT_GT(accepted, 0);
}

TEST_F(ExfatDamage, EveryAllocationFailureIsNoMemoryAndLeavesNothing) {
  ImageHandle* image = disk_->Open();
  ASSERT_NE(image, nullptr);
  for (long n = 0;; ++n) {
    void* state = nullptr;
    InjectAllocationFailureAfter(n);
    const DiskResult r = kExfatHandler.open(&state, image, kStart, volume_->sectors);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) {
      kExfatHandler.close(state);
      EXPECT_GT(n, 0);
      break;
    }
    ASSERT_EQ(r, DISK_E_NOMEM) << n;
    EXPECT_EQ(state, nullptr);
  }
}

}  // namespace
}  // namespace qvt::test
