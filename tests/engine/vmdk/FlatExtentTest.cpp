// Flat extents (a run of sectors at an offset in a file) and flat extraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FileLayer.h"
#include "FlatExtent.h"
#include "Heap.h"
#include "SparseTestKit.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

using test::MemoryDisk;
using Bytes = std::vector<std::uint8_t>;

class Flat : public testing::Test {
 protected:
  void TearDown() override {
    InjectFileFaults(-1, -1);
    InjectAllocationFailureAfter(-1);
  }
  std::string Path(const std::wstring& name) const { return dir_.Engine(name); }
  // A file of `sectors` sectors of pattern.
  Bytes MakeFile(const std::wstring& name, std::uint32_t sectors) {
    MemoryDisk disk(sectors);
    disk.Pattern(0, sectors * 512, 0x5A);
    test::PutFileBytes(dir_, name, disk.bytes);
    return disk.bytes;
  }
  DiskResult Open(FlatExtent* e, const std::wstring& name, bool readOnly, std::uint64_t offset,
                  std::uint64_t sectors) {
    return FlatOpen(e, &ExtentOpenPlain, nullptr, Path(name).c_str(), readOnly, offset, 0, sectors);
  }
  test::TempFolder dir_;
};

TEST_F(Flat, ReadsAndWritesLandBehindTheExtentsOffset) {
  Bytes file = MakeFile(L"f.bin", 1003);
  FlatExtent e;
  ASSERT_EQ(Open(&e, L"f.bin", false, 3 * 512, 1000), DISK_OK);
  Bytes got(1500);
  ASSERT_EQ(FlatRead(&e, 7, 1500, got.data()), DISK_OK);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), file.begin() + 3 * 512 + 7));
  const Bytes data(700, 0xC3);
  ASSERT_EQ(FlatWrite(&e, 999 * 512 - 188, 700, data.data()), DISK_OK);
  std::uint8_t byte = 0;
  EXPECT_EQ(FlatRead(&e, 1000 * 512, 1, &byte), DISK_E_LIMIT);
  EXPECT_EQ(FlatWrite(&e, 1000 * 512 - 1, 2, data.data()), DISK_E_LIMIT);
  EXPECT_EQ(FlatRead(&e, UINT64_MAX, 1, &byte), DISK_E_LIMIT);
  FlatClose(&e);
  EXPECT_FALSE(StreamIsOpen(e.stream));
  std::copy(data.begin(), data.end(), file.begin() + 3 * 512 + 999 * 512 - 188);
  EXPECT_TRUE(test::FileBytes(dir_, L"f.bin") == file);

  ASSERT_EQ(Open(&e, L"f.bin", true, 3 * 512, 1000), DISK_OK);
  EXPECT_EQ(FlatWrite(&e, 0, 1, data.data()), DISK_E_LIMIT) << "read-only";
  FlatClose(&e);
}

int Stopping(void*, const char*, bool, FileStream*) { return 1; }

// Opens the file named by the context, whatever path it is given.
int OpenNamed(void* context, const char*, bool readOnly, FileStream* out) {
  return FsOpen(static_cast<const std::string*>(context)->c_str(), readOnly, out) ? 0 : -1;
}

TEST_F(Flat, OpeningWantsTheWholeExtentInTheFile) {
  MakeFile(L"f.bin", 100);
  const std::string longName(600, 'a');
  struct Case {
    const char* name;
    std::uint64_t offset;
    std::uint64_t sectors;
    DiskResult expected;
  } const cases[] = {
      {"exactly", 512, 99, DISK_OK},
      {"one sector short", 512, 100, DISK_E_FORMAT},
      {"one byte short", 513, 99, DISK_E_FORMAT},
      {"offset overflowing", UINT64_MAX - 100, 1, DISK_E_FORMAT},
      {"more than a disk has", 0, 1ull << 32, DISK_E_LIMIT},
  };
  for (const Case& c : cases) {
    FlatExtent e;
    EXPECT_EQ(Open(&e, L"f.bin", true, c.offset, c.sectors), c.expected) << c.name;
    EXPECT_EQ(StreamIsOpen(e.stream), c.expected == DISK_OK) << c.name;
    FlatClose(&e);
  }
  FlatExtent e;
  EXPECT_EQ(Open(&e, L"missing.bin", true, 0, 1), DISK_E_OPEN);
  EXPECT_EQ(FlatOpen(&e, &Stopping, nullptr, Path(L"f.bin").c_str(), true, 0, 0, 1),
            DISK_CANCELLED);
  std::string real = Path(L"f.bin");
  EXPECT_EQ(FlatOpen(&e, &OpenNamed, &real, longName.c_str(), true, 0, 0, 1), DISK_E_LIMIT)
      << "a name that does not fit its 520 bytes";
  EXPECT_FALSE(StreamIsOpen(e.stream));
}

TEST_F(Flat, ARangeIsEmptyWhenAllItsSectorsAreZero) {
  Bytes zeros(400 * 512, 0);
  zeros[300 * 512 + 17] = 1;
  test::PutFileBytes(dir_, L"z.bin", zeros);
  FlatExtent e;
  ASSERT_EQ(Open(&e, L"z.bin", true, 0, 400), DISK_OK);
  struct Case {
    std::uint64_t first;
    std::uint32_t count;
    bool empty;
  } const cases[] = {{0, 300, true},  {0, 301, false},   {300, 1, false},
                     {301, 99, true}, {150, 200, false}, {0, 0, true}};
  for (const Case& c : cases) {
    bool empty = !c.empty;
    ASSERT_EQ(FlatIsEmpty(&e, c.first, c.count, &empty), DISK_OK) << c.first;
    EXPECT_EQ(empty, c.empty) << c.first << "+" << c.count;
  }
  bool empty = false;
  EXPECT_EQ(FlatIsEmpty(&e, 399, 2, &empty), DISK_E_LIMIT);
  InjectFileFaults(0, -1);
  EXPECT_EQ(FlatIsEmpty(&e, 0, 1, &empty), DISK_E_READ);
  InjectFileFaults(-1, -1);
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(FlatIsEmpty(&e, 0, 1, &empty), DISK_E_NOMEM);
  InjectAllocationFailureAfter(-1);
  FlatClose(&e);
}

TEST_F(Flat, ExtractionCopiesTheRangeAndReportsBeforeEachChunk) {
  MemoryDisk disk(10000);
  disk.Pattern(0, 10000 * 512, 0x33);
  test::ProgressLog log;
  ASSERT_EQ(FlatExtractFrom(Path(L"x.bin").c_str(), disk.Source(), 1000, 9000,
                            &test::ProgressLog::Record, &log, 12345),
            DISK_OK);
  const Bytes file = test::FileBytes(dir_, L"x.bin");
  ASSERT_EQ(file.size(), 9000u * 512);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), disk.bytes.begin() + 1000 * 512));
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {1000, 12345}, {5096, 12345}, {9192, 12345}};
  EXPECT_EQ(log.calls, expected);

  for (int stop = 0; stop < 3; ++stop) {
    test::ProgressLog stopping;
    stopping.stopAt = stop;
    EXPECT_EQ(FlatExtractFrom(Path(L"x.bin").c_str(), disk.Source(), 1000, 9000,
                              &test::ProgressLog::Record, &stopping, 12345),
              DISK_CANCELLED);
    EXPECT_EQ(stopping.calls.size(), static_cast<std::size_t>(stop + 1));
    EXPECT_EQ(std::filesystem::file_size(dir_.Native(L"x.bin")), stop * 4096u * 512);
  }

  ImageHandle zero = NoImage();
  ASSERT_EQ(ZeroImageOpen(&zero, 5000, 16, 63), DISK_OK);
  ASSERT_EQ(FlatExtract(Path(L"z.bin").c_str(), &zero, 0, 5000, nullptr, nullptr, 0), DISK_OK);
  EXPECT_TRUE(test::FileBytes(dir_, L"z.bin") == Bytes(5000 * 512, 0));
  EXPECT_EQ(FlatExtract(Path(L"z.bin").c_str(), &zero, 1, 5000, nullptr, nullptr, 0), DISK_E_LIMIT)
      << "the source's own refusal";
  ImageClose(&zero);
}

TEST_F(Flat, ExtractionFailuresKeepTheirKind) {
  MemoryDisk disk(5000);
  EXPECT_EQ(FlatExtractFrom(dir_.Engine(L"missing\\x.bin").c_str(), disk.Source(), 0, 5000, nullptr,
                            nullptr, 0),
            DISK_E_CREATE);
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(FlatExtractFrom(Path(L"m.bin").c_str(), disk.Source(), 0, 5000, nullptr, nullptr, 0),
            DISK_E_NOMEM);
  InjectAllocationFailureAfter(-1);
  EXPECT_FALSE(dir_.Exists(L"m.bin")) << "no file without a buffer";
  InjectFileFaults(-1, 1);
  EXPECT_EQ(FlatExtractFrom(Path(L"w.bin").c_str(), disk.Source(), 0, 5000, nullptr, nullptr, 0),
            DISK_E_WRITE);
  InjectFileFaults(-1, -1);
  disk.failReadAt = 4500 * 512;
  EXPECT_EQ(FlatExtractFrom(Path(L"r.bin").c_str(), disk.Source(), 0, 5000, nullptr, nullptr, 0),
            DISK_E_READ);
}

}  // namespace
}  // namespace qvt
