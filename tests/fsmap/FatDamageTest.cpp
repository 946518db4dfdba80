// The FAT reader on damaged volumes: a table of single faults in real
// volumes, a seeded mutation loop over the boot sector and the FATs, and
// allocation failures at every step of an open. Every open answers 0 or
// DISK_E_FS_UNKNOWN (memory: DISK_E_NOMEM), and where the damage cannot
// have freed anything, nothing the undamaged volume uses is called free.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "FatPeerKit.h"
#include "FatVolumeKit.h"
#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "Heap.h"
#include "Human68kVolume.h"

namespace qvt::test {
namespace {

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Covers(const std::vector<bool>& damaged, const std::vector<bool>& sound) {
  return UsedButFree(sound, damaged).empty();
}

// A populated FAT16 volume (two FATs) made once for the program, laid at
// the start of a disk of its own size so that volume bytes are disk bytes.
class FatDamage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (bytes_ != nullptr || !HaveFatPeers()) return;
    TempFolder dir;
    const FatVolumeCase c{"Damage", 16, 2, 8192, false};
    const std::string volume = dir.Native(L"v.img").string();
    const std::string log = MakeFatVolume(c, dir.Native(L"scratch").string(), volume);
    if (!log.empty()) {
      ADD_FAILURE() << log;
      return;
    }
    bytes_ = new std::vector<std::uint8_t>(FileBytes(volume));
  }
  void SetUp() override {
    if (bytes_ == nullptr) GTEST_SKIP() << "dosfstools, mtools or sleuthkit is not on this machine";
    sectors_ = static_cast<std::uint32_t>(bytes_->size() / 512);
    disk_ = std::make_unique<RawDisk>(dir_, L"d", sectors_);
    disk_->Put(0, *bytes_);
    const ReaderAnswer sound = AskFatReader(disk_.get(), 0, sectors_, sectors_);
    ASSERT_EQ(sound.open, DISK_OK);
    sound_ = sound.used;
    fatOffset_ = ReadLE16(&(*bytes_)[14]) * 512ull;
    fatBytes_ = ReadLE16(&(*bytes_)[22]) * 512ull;
  }
  void Restore(std::uint64_t at, std::size_t n) {
    disk_->Put(at, std::vector<std::uint8_t>(bytes_->begin() + static_cast<std::ptrdiff_t>(at),
                                             bytes_->begin() + static_cast<std::ptrdiff_t>(at + n)));
  }

  static std::vector<std::uint8_t>* bytes_;
  TempFolder dir_;
  std::unique_ptr<RawDisk> disk_;
  std::uint32_t sectors_ = 0;
  std::vector<bool> sound_;
  std::uint64_t fatOffset_ = 0, fatBytes_ = 0;
};

std::vector<std::uint8_t>* FatDamage::bytes_ = nullptr;

struct Fault {
  const char* name;
  std::uint64_t offset;  // volume byte, or from the second FAT when `inSecondFat`
  std::vector<std::uint8_t> bytes;
  bool inSecondFat;
  DiskResult expected;
  bool mapUnchanged;  // when accepted: the same answer as the sound volume
};

TEST_F(FatDamage, SingleFaultsGiveTheirCodeAndNeverFreeUsedSectors) {
  const Fault faults[] = {
      {"SectorSizeZero", 11, {0, 0}, false, DISK_E_FS_UNKNOWN, false},
      {"SectorSize768", 11, {0x00, 0x03}, false, DISK_E_FS_UNKNOWN, false},
      {"FatSizePastVolume", 22, {0xFF, 0xFF}, false, DISK_E_FS_UNKNOWN, false},
      {"ReservedPastVolume", 14, {0xFF, 0xFF}, false, DISK_E_FS_UNKNOWN, false},
      {"TwoHundredFats", 16, {200}, false, DISK_E_FS_UNKNOWN, false},
      {"FatSizeZeroReadsAsFat32", 22, {0, 0}, false, DISK_E_FS_UNKNOWN, false},
      {"MediaByteCleared", 21, {0x00}, false, DISK_E_FS_UNKNOWN, false},
      {"SecondFatDiffers", 100, {0x5A}, true, DISK_E_FS_UNKNOWN, false},
      {"OemNameChanged", 3, {'D', 'A', 'M', 'A', 'G', 'E', 'D', '!'}, false, DISK_OK, true},
      {"BootCodeScribbled", 200, {1, 2, 3, 4, 5}, false, DISK_OK, true},
      {"TotalPastPartition", 19, {0xFF, 0xFF}, false, DISK_OK, false},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    const std::uint64_t at = f.inSecondFat ? fatOffset_ + fatBytes_ + f.offset : f.offset;
    disk_->Put(at, f.bytes);
    const ReaderAnswer a = AskFatReader(disk_.get(), 0, sectors_, sectors_);
    EXPECT_EQ(a.open, f.expected);
    if (a.open == DISK_OK) {
      EXPECT_TRUE(Covers(a.used, sound_));
      if (f.mapUnchanged) {
        EXPECT_EQ(a.used, sound_);
      }
    }
    Restore(at, f.bytes.size());
  }
}

TEST_F(FatDamage, PartitionShorterThanTheFilesystemKeepsItsSectorsInUse) {
  const std::uint32_t cut = sectors_ / 2 + 3;
  const ReaderAnswer a = AskFatReader(disk_.get(), 0, cut, cut);
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_TRUE(Covers(a.used, std::vector<bool>(sound_.begin(), sound_.begin() + cut)));
  EXPECT_EQ(AskFatReader(disk_.get(), 0, 40, 1).open, DISK_E_FS_UNKNOWN);  // FATs past the end
}

// Boot-sector bytes take any value; FAT bytes only gain bits (in both
// copies, so no entry can become 0 and nothing may be freed) or change in
// one copy only (refused).
TEST_F(FatDamage, MutationsNeverCrashOrFreeWhatTheyCannotFree) {
  std::mt19937 random(20261210);
  for (int round = 0; round < 300; ++round) {
    const int what = round % 3;
    std::uint64_t at = 0;
    std::uint8_t now = 0;
    if (what == 0) {
      at = random() % 64;
      now = static_cast<std::uint8_t>(random());
    } else {
      at = fatOffset_ + random() % 2048;
      now = static_cast<std::uint8_t>((*bytes_)[at] | random());
      if (what == 1) disk_->PutByte(at + fatBytes_, now);
    }
    disk_->PutByte(at, now);
    const ReaderAnswer a = AskFatReader(disk_.get(), 0, sectors_, sectors_);
    SCOPED_TRACE("round " + std::to_string(round) + " byte " + std::to_string(at));
    ASSERT_TRUE(a.open == DISK_OK || a.open == DISK_E_FS_UNKNOWN) << a.open;
    if (what == 1) {
      ASSERT_TRUE(a.open == DISK_OK && Covers(a.used, sound_));
    } else if (what == 2 && now != (*bytes_)[at]) {
      ASSERT_EQ(a.open, DISK_E_FS_UNKNOWN);
    }
    Restore(at, 1);
    if (what == 1) Restore(at + fatBytes_, 1);
  }
}

TEST_F(FatDamage, AllocationFailuresGiveNoMemoryUntilTheOpenSucceeds) {
  ImageHandle* image = disk_->Open();
  ASSERT_NE(image, nullptr);
  for (long n = 0;; ++n) {
    void* state = nullptr;
    InjectAllocationFailureAfter(n);
    const DiskResult r = kFatHandler.open(&state, image, 0, sectors_);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) {
      kFatHandler.close(state);
      break;
    }
    ASSERT_EQ(r, DISK_E_NOMEM) << "after " << n << " allocations";
    ASSERT_EQ(state, nullptr);
    ASSERT_LT(n, 100);
  }
  disk_->Close();
}

// Generated Human68k volumes run everywhere, Windows included: every byte
// of the boot record and FAT region may take any value.
TEST(Human68kDamage, MutationsOfTheBootRecordAndFatNeverCrash) {
  const Human68kGeometry g{1024, 1, 2, 1, 192, 1232, 2, false, 40};
  Human68kVolume v;
  ASSERT_TRUE(MakeHuman68kVolume(g, {{"A", std::vector<std::uint8_t>(3000, 7)}}, &v));
  TempFolder dir;
  const auto sectors = static_cast<std::uint32_t>(v.bytes.size() / 512);
  RawDisk disk(dir, L"x", sectors);
  disk.Put(0, v.bytes);
  std::mt19937 random(68000);
  for (int round = 0; round < 300; ++round) {
    const std::uint64_t at = round % 2 == 0 ? 14 + random() % 20 : 1024 + random() % 2048;
    disk.PutByte(at, static_cast<std::uint8_t>(random()));
    const ReaderAnswer a = AskFatReader(&disk, 0, sectors, sectors);
    ASSERT_TRUE(a.open == DISK_OK || a.open == DISK_E_FS_UNKNOWN) << a.open << " at " << at;
    disk.PutByte(at, v.bytes[at]);
  }
}

}  // namespace
}  // namespace qvt::test
