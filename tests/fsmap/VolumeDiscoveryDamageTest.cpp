// Partition tables that are damaged or hostile: each ends the map with its
// code, never with a loop, an overread or a map that places volumes where
// the table cannot mean them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FileLayer.h"
#include "FsmapTestKit.h"
#include "Heap.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kSectors = 8192;

// A GPT header at LBA 1 with `entries` entries of 128 bytes at LBA 2.
void PutGptHeader(RawDisk* d, std::uint32_t entries) {
  d->PutEntry(0, 0, 0xEE, 1, kSectors - 1);
  d->Put(512, {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'});
  d->PutLE32(512 + 8, 0x00010000);
  d->PutLE32(512 + 12, 92);
  d->PutLE64(512 + 24, 1);
  d->PutLE64(512 + 72, 2);
  d->PutLE32(512 + 80, entries);
  d->PutLE32(512 + 84, 128);
}

void PutGptEntry(RawDisk* d, int index, std::uint64_t first, std::uint64_t last,
                 const std::vector<std::uint8_t>& type = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72,
                                                          0x47, 0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47,
                                                          0x7D, 0xE4}) {
  const std::uint64_t at = 1024 + static_cast<std::uint64_t>(index) * 128;
  d->Put(at, type);
  d->PutLE64(at + 32, first);
  d->PutLE64(at + 40, last);
}

const std::vector<std::uint8_t> kLvmGuid = {0x79, 0xD3, 0xD6, 0xE6, 0x07, 0xF5, 0xC2, 0x44,
                                            0xA2, 0x3C, 0x23, 0x8F, 0x2A, 0x3D, 0xF9, 0x28};

struct DamageCase {
  const char* what;
  std::function<void(RawDisk*)> make;
  DiskResult expected;
};

class DamagedTables : public ::testing::Test {
 protected:
  DiskResult Build(const DamageCase& c) {
    RawDisk disk(dir_, L"d", kSectors);
    c.make(&disk);
    ImageHandle* image = disk.Open();
    if (image == nullptr) return DISK_E_OPEN;
    AllocationMap* map = reinterpret_cast<AllocationMap*>(&disk);  // must be cleared
    const DiskResult r = BuildAllocationMap(image, &map);
    if (r != DISK_OK) {
      EXPECT_EQ(map, nullptr);
    }
    FreeAllocationMap(map);
    return r;
  }
  TempFolder dir_;
};

TEST_F(DamagedTables, EachDamageEndsTheMapWithItsCode) {
  const DamageCase cases[] = {
      {"two primaries overlap", [](RawDisk* d) {
         d->PutEntry(0, 0, 0x83, 100, 200);
         d->PutEntry(0, 1, 0x83, 250, 100);
       }, DISK_E_FS_UNKNOWN},
      {"a partition of no sectors", [](RawDisk* d) { d->PutEntry(0, 0, 0x83, 100, 0); },
       DISK_E_FS_UNKNOWN},
      {"a partition past the end", [](RawDisk* d) { d->PutEntry(0, 0, 0x83, 100, kSectors); },
       DISK_E_FS_UNKNOWN},
      {"a partition that ends at the last sector",
       [](RawDisk* d) { d->PutEntry(0, 0, 0x83, 100, kSectors - 100); }, DISK_OK},
      {"an extended record that links to itself", [](RawDisk* d) {
         d->PutEntry(0, 0, 0x05, 100, 1000);
         d->PutEntry(100, 0, 0x83, 10, 20);
         d->PutEntry(100, 1, 0x05, 0, 100);
       }, DISK_E_FORMAT},
      {"an extended record that links back to an earlier one", [](RawDisk* d) {
         d->PutEntry(0, 0, 0x0F, 100, 1000);
         d->PutEntry(100, 1, 0x05, 100, 100);  // to 200
         d->PutEntry(200, 1, 0x05, 0, 100);    // back to 100
       }, DISK_E_FORMAT},
      {"an extended record past the end", [](RawDisk* d) { d->PutEntry(0, 0, 0x85, kSectors + 5, 10); },
       DISK_E_FORMAT},
      {"an extended record without its signature", [](RawDisk* d) { d->PutEntry(0, 0, 0x05, 100, 1000); },
       DISK_E_FORMAT},
      {"a logical partition placed past 2^32 sectors", [](RawDisk* d) {
         d->PutEntry(0, 0, 0x05, 100, 1000);
         d->PutEntry(100, 0, 0x83, 0xFFFFFFF0u, 100);
       }, DISK_E_FS_UNKNOWN},
      {"an LVM partition without a physical volume", [](RawDisk* d) { d->PutEntry(0, 1, 0x8E, 100, 500); },
       DISK_E_FS_UNKNOWN},
      {"an LVM logical partition without a physical volume", [](RawDisk* d) {
         d->PutEntry(0, 0, 0x05, 100, 1000);
         d->PutEntry(100, 0, 0x8E, 10, 500);
       }, DISK_E_FS_UNKNOWN},
      {"a GPT header with another signature", [](RawDisk* d) {
         PutGptHeader(d, 4);
         d->PutByte(512, 'X');
       }, DISK_E_FORMAT},
      {"a GPT header of another revision", [](RawDisk* d) {
         PutGptHeader(d, 4);
         d->PutLE32(512 + 8, 0x00020000);
       }, DISK_E_FORMAT},
      {"a GPT header of another size", [](RawDisk* d) {
         PutGptHeader(d, 4);
         d->PutLE32(512 + 12, 96);
       }, DISK_E_FORMAT},
      {"a GPT header that is not at LBA 1", [](RawDisk* d) {
         PutGptHeader(d, 4);
         d->PutLE64(512 + 24, 2);
       }, DISK_E_FORMAT},
      {"a GPT of 1025 entries", [](RawDisk* d) { PutGptHeader(d, 1025); }, DISK_E_FORMAT},
      {"a GPT of 1024 entries", [](RawDisk* d) { PutGptHeader(d, 1024); }, DISK_OK},
      {"GPT entries of 256 bytes", [](RawDisk* d) {
         PutGptHeader(d, 4);
         d->PutLE32(512 + 84, 256);
       }, DISK_E_FORMAT},
      {"a GPT entry array past the end", [](RawDisk* d) {
         PutGptHeader(d, 128);
         d->PutLE64(512 + 72, kSectors - 4);
       }, DISK_E_FORMAT},
      {"a GPT entry array at a huge LBA", [](RawDisk* d) {
         PutGptHeader(d, 128);
         d->PutLE64(512 + 72, 0x0080000000000001ull);
       }, DISK_E_FORMAT},
      {"a GPT entry that ends before it starts", [](RawDisk* d) {
         PutGptHeader(d, 4);
         PutGptEntry(d, 0, 300, 200);
       }, DISK_E_FS_UNKNOWN},
      {"a GPT entry past 2^32 sectors", [](RawDisk* d) {
         PutGptHeader(d, 4);
         PutGptEntry(d, 1, 0x100000010ull, 0x100000100ull);
       }, DISK_E_FS_UNKNOWN},
      {"a GPT entry past the end", [](RawDisk* d) {
         PutGptHeader(d, 4);
         PutGptEntry(d, 0, 100, kSectors);
       }, DISK_E_FS_UNKNOWN},
      {"overlapping GPT entries", [](RawDisk* d) {
         PutGptHeader(d, 4);
         PutGptEntry(d, 0, 100, 200);
         PutGptEntry(d, 3, 200, 300);
       }, DISK_E_FS_UNKNOWN},
      {"a GPT LVM entry without a physical volume", [](RawDisk* d) {
         PutGptHeader(d, 4);
         PutGptEntry(d, 2, 100, 200, kLvmGuid);
       }, DISK_E_FS_UNKNOWN},
  };
  for (const DamageCase& c : cases) {
    EXPECT_EQ(Build(c), c.expected) << c.what;
  }
}

TEST_F(DamagedTables, AReadFailureEndsTheMapWithTheReadsCode) {
  RawDisk disk(dir_, L"d", kSectors);
  disk.PutEntry(0, 0, 0x05, 100, 1000);
  disk.PutEntry(100, 0, 0x83, 10, 20);
  ImageHandle* image = disk.Open();
  ASSERT_NE(image, nullptr);
  bool failedSomewhere = false;
  for (long reads = 0; reads < 4; ++reads) {
    InjectFileFaults(reads, -1);
    AllocationMap* map = nullptr;
    const DiskResult r = BuildAllocationMap(image, &map);
    InjectFileFaults(-1, -1);
    if (r == DISK_OK) {
      FreeAllocationMap(map);
      continue;
    }
    failedSomewhere = true;
    EXPECT_EQ(r, DISK_E_READ) << "after " << reads << " reads";
    EXPECT_EQ(map, nullptr);
  }
  EXPECT_TRUE(failedSomewhere);
}

TEST_F(DamagedTables, RunningOutOfMemoryAnywhereFailsCleanly) {
  RawDisk disk(dir_, L"d", kSectors);
  disk.PutEntry(0, 0, 0x83, 10, 90);
  disk.PutEntry(0, 1, 0x05, 100, 1000);
  disk.PutEntry(100, 0, 0x07, 10, 20);
  disk.PutEntry(100, 1, 0x05, 200, 100);
  disk.PutEntry(300, 0, 0x0C, 10, 20);
  ImageHandle* image = disk.Open();
  ASSERT_NE(image, nullptr);
  bool succeeded = false;
  for (long n = 0; n < 64 && !succeeded; ++n) {
    InjectAllocationFailureAfter(n);
    AllocationMap* map = nullptr;
    const DiskResult r = BuildAllocationMap(image, &map);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) {
      succeeded = true;
      EXPECT_EQ(map->segmentCount, 7u);
      FreeAllocationMap(map);
    } else {
      EXPECT_EQ(r, DISK_E_NOMEM) << "after " << n << " allocations";
      EXPECT_EQ(map, nullptr);
    }
  }
  EXPECT_TRUE(succeeded);
}

}  // namespace
}  // namespace qvt::test
