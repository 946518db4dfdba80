// The HFS Plus reader on generated volumes, patched one fault at a time:
// the signature, the allocation file's bit order and extents, the extents
// overflow tree's header, keys, links and pointers; a seeded mutation loop
// over everything the reader reads; and allocation failures at each step.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "FsHandlerTable.h"
#include "FsPropertyKit.h"
#include "Heap.h"
#include "HfsPlusVolume.h"

namespace qvt::test {
namespace {

constexpr std::uint64_t kHeader = 1024;
constexpr std::uint64_t kAllocationFork = kHeader + 112, kExtentsFork = kHeader + 192;
constexpr std::uint32_t kBlock = 4096, kBlocks = 6000;

class HfsPlusReader : public ::testing::Test {
 protected:
  void Make(bool fragmented, bool hfsx = false) {
    const HfsPlusRecipe recipe{kBlock, kBlocks, hfsx, fragmented, SomeHfsPlusFiles(kBlock, 7)};
    ASSERT_TRUE(MakeHfsPlusVolume(recipe, &volume_));
    sectors_ = static_cast<std::uint32_t>(volume_.bytes.size() / 512);
    disk_ = std::make_unique<RawDisk>(dir_, L"hfs", sectors_);
    disk_->Put(0, volume_.bytes);
  }
  ReaderAnswer Ask() { return AskReader(kHfsPlusHandler, disk_.get(), 0, sectors_, sectors_); }
  std::vector<bool> GeneratorSectors() const {
    std::vector<bool> used(sectors_);
    for (std::uint32_t s = 0; s < sectors_; ++s) used[s] = volume_.blockUsed[s / (kBlock / 512)];
    return used;
  }
  bool BlockUsed(const ReaderAnswer& a, std::uint32_t block) const { return a.used[block * (kBlock / 512)]; }
  std::uint64_t TreeNode(std::uint32_t n) const {
    return static_cast<std::uint64_t>(volume_.extentsFirstBlock) * kBlock + n * 4096ull;
  }
  std::uint64_t AllocationByte(std::uint32_t block) const {
    return static_cast<std::uint64_t>(volume_.allocationFirstBlock) * kBlock + block / 8;
  }
  void PutBE32(std::uint64_t at, std::uint32_t v) {
    std::vector<std::uint8_t> b(4);
    WriteBE32(b.data(), v);
    disk_->Put(at, b);
  }
  void PutBE16(std::uint64_t at, std::uint16_t v) {
    std::vector<std::uint8_t> b(2);
    WriteBE16(b.data(), v);
    disk_->Put(at, b);
  }
  TempFolder dir_;
  HfsPlusVolume volume_;
  std::uint32_t sectors_ = 0;
  std::unique_ptr<RawDisk> disk_;
};

TEST_F(HfsPlusReader, WrongSignatureIsRefusedBeforeTheTreeIsRead) {
  Make(true);
  disk_->Put(TreeNode(0), std::vector<std::uint8_t>(512, 0xEE));
  EXPECT_EQ(Ask().open, DISK_E_FORMAT);  // the tree is needed, and damaged
  disk_->Put(kHeader, {'B', 'D'});
  EXPECT_EQ(Ask().open, DISK_E_FS_UNKNOWN);
}

TEST_F(HfsPlusReader, AllocationFileInTheHeaderExtentsNeedsNoTree) {
  Make(false);
  disk_->Put(TreeNode(0), std::vector<std::uint8_t>(4096 * 4, 0xEE));
  const ReaderAnswer a = Ask();
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_TRUE(a.used == GeneratorSectors());
}

TEST_F(HfsPlusReader, NinthExtentComesFromTheOverflowTree) {
  Make(true);
  const ReaderAnswer a = Ask();
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_TRUE(a.used == GeneratorSectors());
  // The leaf's key must start where the header's eight extents end.
  const std::uint64_t startBlock = TreeNode(1) + 14 + 8;
  PutBE32(startBlock, ReadBE32(&volume_.bytes[startBlock]) + 1);
  EXPECT_EQ(Ask().open, DISK_E_FORMAT);
}

TEST_F(HfsPlusReader, HfsxReadsLikeHfsPlus) {
  Make(true, true);
  const ReaderAnswer a = Ask();
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_TRUE(a.used == GeneratorSectors());
}

TEST_F(HfsPlusReader, BlockZeroOfAByteIsItsMostSignificantBit) {
  Make(false);
  std::uint32_t b = 8;
  while (b + 8 < kBlocks && (volume_.blockUsed[b] || volume_.blockUsed[b + 1] || volume_.blockUsed[b + 7])) b += 8;
  ASSERT_LT(b + 8, kBlocks);
  const std::uint64_t at = AllocationByte(b);
  disk_->PutByte(at, static_cast<std::uint8_t>(volume_.bytes[at] | 0x80));
  ReaderAnswer a = Ask();
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_TRUE(BlockUsed(a, b));
  EXPECT_FALSE(BlockUsed(a, b + 1));
  EXPECT_FALSE(BlockUsed(a, b + 7));
  disk_->PutByte(at, static_cast<std::uint8_t>(volume_.bytes[at] | 0x01));
  a = Ask();
  EXPECT_FALSE(BlockUsed(a, b));
  EXPECT_TRUE(BlockUsed(a, b + 7));
}

TEST_F(HfsPlusReader, HeaderBlocksStayInUseWhateverTheBitmapSays) {
  Make(false);
  disk_->PutByte(AllocationByte(0), 0);
  disk_->PutByte(AllocationByte(kBlocks - 1), 0);
  const ReaderAnswer a = Ask();
  ASSERT_EQ(a.open, DISK_OK);
  EXPECT_TRUE(BlockUsed(a, 0));
  EXPECT_TRUE(BlockUsed(a, kBlocks - 1));
}

TEST_F(HfsPlusReader, SectorsPastTheLastBlockAreInUse) {
  Make(false);
  const std::uint32_t volume = sectors_ + 20;
  RawDisk bigger(dir_, L"bigger", volume);
  bigger.Put(0, volume_.bytes);
  const ReaderAnswer a = AskReader(kHfsPlusHandler, &bigger, 0, volume, volume);
  ASSERT_EQ(a.open, DISK_OK);
  for (std::uint32_t s = sectors_; s < volume; ++s) EXPECT_TRUE(a.used[s]) << s;
}

struct Patch {
  const char* name;
  // Where (from the volume start, or from a node of the extents tree when
  // `node` >= 0) and which bytes.
  int node;
  std::uint64_t offset;
  std::vector<std::uint8_t> bytes;
  DiskResult expected;
};

std::vector<std::uint8_t> BE32(std::uint32_t v) { return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}; }
std::vector<std::uint8_t> BE16(std::uint16_t v) { return {std::uint8_t(v >> 8), std::uint8_t(v)}; }

TEST_F(HfsPlusReader, DamagedStructuresGiveTheirCodes) {
  Make(true);
  const std::uint32_t extentsTotal = ReadBE32(&volume_.bytes[kExtentsFork + 12]);
  const std::uint32_t allocationTotal = ReadBE32(&volume_.bytes[kAllocationFork + 12]);
  const Patch patches[] = {
      {"BlockSize1000", -1, kHeader + 40, BE32(1000), DISK_E_FS_UNKNOWN},
      {"BlockSize256", -1, kHeader + 40, BE32(256), DISK_E_FS_UNKNOWN},
      {"TotalPastThePartition", -1, kHeader + 44, BE32(kBlocks * 2), DISK_E_FORMAT},
      {"NoBlocks", -1, kHeader + 44, BE32(0), DISK_E_FORMAT},
      {"ExtentsForkSumDiffers", -1, kExtentsFork + 12, BE32(extentsTotal + 1), DISK_E_FORMAT},
      {"ExtentsExtentPastVolume", -1, kExtentsFork + 16, BE32(kBlocks - 1), DISK_E_FORMAT},
      {"AllocationExtentPastVolume", -1, kAllocationFork + 20, BE32(kBlocks), DISK_E_FORMAT},
      {"AllocationAboveItsTotal", -1, kAllocationFork + 12, BE32(2), DISK_E_FORMAT},
      {"AllocationTotalAboveVolume", -1, kAllocationFork + 12, BE32(kBlocks + 1), DISK_E_FORMAT},
      {"AllocationLongerThanTheTree", -1, kAllocationFork + 12, BE32(allocationTotal + 1), DISK_E_FORMAT},
      {"HeaderNodeOfIndexKind", 0, 8, {0}, DISK_E_FORMAT},
      {"HeaderWithBackwardLink", 0, 4, BE32(1), DISK_E_FORMAT},
      {"HeaderWithTwoRecords", 0, 10, BE16(2), DISK_E_FORMAT},
      {"NodeSize256", 0, 32, BE16(256), DISK_E_FORMAT},
      {"NodeSize3000", 0, 32, BE16(3000), DISK_E_FORMAT},
      {"NodeSize65536Wraps", 0, 32, BE16(0), DISK_E_FORMAT},
      {"MaxKeyLength13", 0, 34, BE16(13), DISK_E_FORMAT},
      {"NoRoot", 0, 16, BE32(0), DISK_E_FORMAT},
      {"RootPastTotalNodes", 0, 16, BE32(4), DISK_E_FORMAT},
      {"RootIsTheHeader", 0, 16, BE32(0), DISK_E_FORMAT},
      {"NoLeafRecords", 0, 20, BE32(0), DISK_E_FORMAT},
      {"NoTotalNodes", 0, 36, BE32(0), DISK_E_FORMAT},
      // Harmless: every node read is bounded by the file, not by this count.
      {"TotalNodesPastTheFile", 0, 36, BE32(1000), DISK_OK},
      {"DepthZero", 0, 14, BE16(0), DISK_E_FORMAT},
      {"LeafOfHeaderKind", 1, 8, {1}, DISK_E_FORMAT},
      {"LeafRecordForAnotherFile", 1, 14 + 4, BE32(7), DISK_E_FORMAT},
      {"LeafRecordOfResourceFork", 1, 14 + 2, {0xFF}, DISK_E_FORMAT},
      {"LeafKeyTooLong", 1, 14, BE16(200), DISK_E_FORMAT},
      {"LeafKeyTooShort", 1, 14, BE16(6), DISK_E_FORMAT},
      {"RecordOffsetPastTheNode", 1, 4096 - 2, BE16(5000), DISK_E_FORMAT},
      {"RecordOffsetInTheDescriptor", 1, 4096 - 2, BE16(4), DISK_E_FORMAT},
      {"RecordCountFillsTheNode", 1, 10, BE16(3000), DISK_E_FORMAT},
      {"LeafExtentPastVolume", 1, 14 + 12, BE32(kBlocks), DISK_E_FORMAT},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.name);
    const std::uint64_t at = p.node < 0 ? p.offset : TreeNode(static_cast<std::uint32_t>(p.node)) + p.offset;
    disk_->Put(at, p.bytes);
    const ReaderAnswer a = Ask();
    EXPECT_EQ(a.open, p.expected);
    if (a.open == DISK_OK) {
      EXPECT_TRUE(a.used == GeneratorSectors());
    }
    disk_->Put(at, std::vector<std::uint8_t>(volume_.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                             volume_.bytes.begin() + static_cast<std::ptrdiff_t>(at + p.bytes.size())));
  }
  EXPECT_EQ(Ask().open, DISK_OK);
}

// A root index node whose child is itself, in a tree that claims five
// levels, and a leaf whose forward link is itself: both walks end.
TEST_F(HfsPlusReader, LoopingTreesAreRefused) {
  Make(true);
  const std::uint64_t leaf = TreeNode(1);
  disk_->Put(leaf + 8, {0x00});  // index kind
  PutBE16(TreeNode(0) + 14, 5);
  PutBE32(leaf + 14 + 12, 1);    // the record's child: node 1
  EXPECT_EQ(Ask().open, DISK_E_FORMAT);
  disk_->Put(0, volume_.bytes);
  PutBE32(leaf, 1);  // forward link to itself, and one block more to find
  PutBE32(kAllocationFork + 12, ReadBE32(&volume_.bytes[kAllocationFork + 12]) + 1);
  EXPECT_EQ(Ask().open, DISK_E_FORMAT);
}

TEST_F(HfsPlusReader, MutationsNeverCrashAndAddedBitsNeverFree) {
  Make(true);
  std::mt19937 random(0x482B);
  const std::vector<bool> sound = GeneratorSectors();
  for (int round = 0; round < 400; ++round) {
    std::uint64_t at = 0;
    std::uint8_t now = 0;
    switch (round % 4) {
      case 0: at = kHeader + random() % 512; break;
      case 1: at = TreeNode(0) + random() % 256; break;
      case 2: at = TreeNode(1) + (random() % 2 == 0 ? random() % 128 : 4096 - 1 - random() % 16); break;
      default: at = AllocationByte(static_cast<std::uint32_t>(random() % kBlocks)); break;
    }
    now = round % 4 == 3 ? static_cast<std::uint8_t>(volume_.bytes[at] | random()) : static_cast<std::uint8_t>(random());
    disk_->PutByte(at, now);
    const ReaderAnswer a = Ask();
    SCOPED_TRACE("round " + std::to_string(round) + " byte " + std::to_string(at));
    ASSERT_TRUE(a.open == DISK_OK || a.open == DISK_E_FS_UNKNOWN || a.open == DISK_E_FORMAT ||
                a.open == DISK_E_LIMIT) << a.open;
    if (round % 4 == 3) {
      ASSERT_EQ(a.open, DISK_OK);
      ASSERT_TRUE(UsedButFree(sound, a.used).empty());
    }
    disk_->PutByte(at, volume_.bytes[at]);
  }
}

TEST_F(HfsPlusReader, AllocationFailuresGiveNoMemoryUntilTheOpenSucceeds) {
  Make(true);
  ImageHandle* image = disk_->Open();
  ASSERT_NE(image, nullptr);
  for (long n = 0;; ++n) {
    void* state = nullptr;
    InjectAllocationFailureAfter(n);
    const DiskResult r = kHfsPlusHandler.open(&state, image, 0, sectors_);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) {
      kHfsPlusHandler.close(state);
      break;
    }
    ASSERT_EQ(r, DISK_E_NOMEM) << "after " << n << " allocations";
    ASSERT_EQ(state, nullptr);
    ASSERT_LT(n, 100);
  }
  disk_->Close();
}

}  // namespace
}  // namespace qvt::test
