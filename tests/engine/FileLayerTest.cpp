#include "FileLayer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TempFolder.h"

namespace qvt {
namespace {

using test::TempFolder;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
  return bytes;
}

struct Reports {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> calls;
  int stopAt = -1;  // index of the call that answers false
};

bool Record(std::uint32_t done, std::uint32_t total, void* context) {
  auto* r = static_cast<Reports*>(context);
  r->calls.emplace_back(done, total);
  return static_cast<int>(r->calls.size()) - 1 != r->stopAt;
}

class FileLayer : public testing::Test {
 protected:
  void TearDown() override { InjectFileFaults(-1, -1); }
  TempFolder dir_;
};

TEST_F(FileLayer, CreatedFileReadsBackWhatWasWrittenAtItsOffsets) {
  const std::string path = dir_.Engine(L"a.bin");
  FileStream s{};
  ASSERT_TRUE(FsCreate(path.c_str(), &s));
  ASSERT_TRUE(StreamWrite(&s, 4096, 5, "hello"));
  ASSERT_TRUE(StreamWrite(&s, 0, 3, "abc"));
  std::uint64_t size = 0;
  ASSERT_TRUE(FsSize(&s, &size));
  EXPECT_EQ(size, 4101u);
  StreamClose(&s);
  EXPECT_FALSE(StreamIsOpen(s));

  ASSERT_TRUE(FsOpen(path.c_str(), true, &s));
  char buffer[5];
  ASSERT_TRUE(StreamRead(&s, 4096, 5, buffer));
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_FALSE(StreamRead(&s, 4098, 5, buffer)) << "a read past the end is short, so it fails";
  StreamClose(&s);
}

TEST_F(FileLayer, OpeningAMissingFileFails) {
  FileStream s{};
  EXPECT_FALSE(FsOpen(dir_.Engine(L"missing.vmdk").c_str(), true, &s));
  EXPECT_FALSE(StreamIsOpen(s));
  EXPECT_FALSE(FsExists(dir_.Engine(L"missing.vmdk").c_str()));
}

TEST_F(FileLayer, CreateSizedSetsTheEndOfFile) {
  FileStream s{};
  ASSERT_TRUE(FsCreateSized(dir_.Engine(L"sized.bin").c_str(), 1 << 20, &s));
  std::uint64_t size = 0;
  ASSERT_TRUE(FsSize(&s, &size));
  EXPECT_EQ(size, 1u << 20);
  ASSERT_TRUE(FsSetSizeAndClose(&s, 1000));
  EXPECT_FALSE(StreamIsOpen(s));
  EXPECT_EQ(std::filesystem::file_size(dir_.Native(L"sized.bin")), 1000u);
}

TEST_F(FileLayer, PreallocatedFileIsCutBackToItsFurthestWrite) {
  const std::string path = dir_.Engine(L"pre.bin");
  FileStream s{};
  ASSERT_TRUE(FsCreateSized(path.c_str(), 64 * 1024, &s));
  StreamClose(&s);

  ASSERT_TRUE(FsOpenPreallocated(path.c_str(), 100, &s));
  std::uint64_t size = 0;
  ASSERT_TRUE(FsSize(&s, &size));
  EXPECT_EQ(size, 100u) << "the logical end starts at the given size";
  ASSERT_TRUE(StreamWrite(&s, 50, 10, "0123456789"));
  ASSERT_TRUE(FsSize(&s, &size));
  EXPECT_EQ(size, 100u) << "a write inside does not move it";
  ASSERT_TRUE(StreamWrite(&s, 2000, 4, "tail"));
  ASSERT_TRUE(FsSize(&s, &size));
  EXPECT_EQ(size, 2004u);
  StreamClose(&s);
  EXPECT_EQ(std::filesystem::file_size(dir_.Native(L"pre.bin")), 2004u);
  EXPECT_EQ(dir_.ReadFile(L"pre.bin").substr(2000), "tail");
}

TEST_F(FileLayer, CopyWithProgressReportsPercentUpToOneHundred) {
  const std::string data = Pattern(3 * 1024 * 1024 + 17);
  dir_.WriteFile(L"src.bin", data);
  dir_.WriteFile(L"dst.bin", "old contents");
  Reports r;
  ASSERT_EQ(FsCopyWithProgress(dir_.Engine(L"src.bin").c_str(), dir_.Engine(L"dst.bin").c_str(),
                               &Record, &r),
            kFsCopyDone);
  EXPECT_EQ(dir_.ReadFile(L"dst.bin"), data);
  ASSERT_FALSE(r.calls.empty());
  for (const auto& [done, total] : r.calls) {
    EXPECT_EQ(total, 100u);
    EXPECT_LE(done, 100u);
  }
  EXPECT_EQ(r.calls.back().first, 100u);
}

TEST_F(FileLayer, StoppedCopyWithProgressLeavesNoTarget) {
  dir_.WriteFile(L"src.bin", Pattern(4 * 1024 * 1024));
  Reports r;
  r.stopAt = 0;
  EXPECT_EQ(FsCopyWithProgress(dir_.Engine(L"src.bin").c_str(), dir_.Engine(L"dst.bin").c_str(),
                               &Record, &r),
            kFsCopyStopped);
  EXPECT_FALSE(dir_.Exists(L"dst.bin"));
  EXPECT_EQ(FsCopyWithProgress(dir_.Engine(L"none.bin").c_str(), dir_.Engine(L"dst.bin").c_str(),
                               nullptr, nullptr),
            kFsCopyFailed);
  EXPECT_FALSE(dir_.Exists(L"dst.bin"));
}

TEST_F(FileLayer, ChunkedCopyCopiesTheWholeFileAndReportsItsStart) {
  const std::string data = Pattern(200 * 1024 + 5);
  dir_.WriteFile(L"src.bin", data);
  Reports r;
  std::uint64_t copied = 0;
  ASSERT_EQ(FsCopyChunked(dir_.Engine(L"src.bin").c_str(), dir_.Engine(L"dst.bin").c_str(), false,
                          0, false, &Record, &r, &copied),
            kFsCopyDone);
  EXPECT_EQ(dir_.ReadFile(L"dst.bin"), data);
  EXPECT_EQ(copied, data.size());
  // (0, 100) at the start, then one report per 64 KiB chunk: four chunks.
  ASSERT_EQ(r.calls.size(), 5u);
  EXPECT_EQ(r.calls.front().first, 0u);
  EXPECT_EQ(r.calls.back().first, 100u);
}

struct PreallocateCase {
  std::uint64_t size;
  bool relative;
  std::uint64_t targetSize;
  std::uint64_t copiedBytes;
};

class ChunkedCopyPreallocated : public FileLayer,
                                public testing::WithParamInterface<PreallocateCase> {};

TEST_P(ChunkedCopyPreallocated, SizesTheTargetAndCopiesWhatFits) {
  const PreallocateCase& c = GetParam();
  const std::string data = Pattern(100000);
  dir_.WriteFile(L"src.bin", data);
  std::uint64_t copied = 0;
  ASSERT_EQ(FsCopyChunked(dir_.Engine(L"src.bin").c_str(), dir_.Engine(L"dst.bin").c_str(), true,
                          c.size, c.relative, nullptr, nullptr, &copied),
            kFsCopyDone);
  EXPECT_EQ(copied, c.copiedBytes);
  const std::string out = dir_.ReadFile(L"dst.bin");
  ASSERT_EQ(out.size(), c.targetSize);
  EXPECT_EQ(out.substr(0, c.copiedBytes), data.substr(0, c.copiedBytes));
}

INSTANTIATE_TEST_SUITE_P(Cases, ChunkedCopyPreallocated,
                         testing::Values(PreallocateCase{300000, false, 300000, 100000},
                                         PreallocateCase{5000, true, 105000, 100000},
                                         PreallocateCase{70000, false, 70000, 70000},
                                         PreallocateCase{0, false, 0, 0}));

TEST_F(FileLayer, ChunkedCopyStoppedAtItsFirstReportLeavesTheTargetSized) {
  dir_.WriteFile(L"src.bin", Pattern(1000));
  Reports r;
  r.stopAt = 0;
  EXPECT_EQ(FsCopyChunked(dir_.Engine(L"src.bin").c_str(), dir_.Engine(L"dst.bin").c_str(), true,
                          8192, false, &Record, &r, nullptr),
            kFsCopyStopped);
  ASSERT_TRUE(dir_.Exists(L"dst.bin"));
  EXPECT_EQ(std::filesystem::file_size(dir_.Native(L"dst.bin")), 8192u);
  ASSERT_EQ(r.calls.size(), 1u);
}

TEST_F(FileLayer, ChunkedCopyFailsOnAWriteFaultAndReleasesBothFiles) {
  dir_.WriteFile(L"src.bin", Pattern(300 * 1024));
  InjectFileFaults(-1, 2);
  EXPECT_EQ(FsCopyChunked(dir_.Engine(L"src.bin").c_str(), dir_.Engine(L"dst.bin").c_str(), false,
                          0, false, nullptr, nullptr, nullptr),
            kFsCopyFailed);
  InjectFileFaults(-1, -1);
  // Both files were closed: they can be removed and replaced at once.
  EXPECT_TRUE(FsDelete(dir_.Engine(L"dst.bin").c_str()));
  EXPECT_TRUE(FsDelete(dir_.Engine(L"src.bin").c_str()));
  EXPECT_EQ(FsCopyChunked(dir_.Engine(L"none.bin").c_str(), dir_.Engine(L"dst.bin").c_str(),
                          false, 0, false, nullptr, nullptr, nullptr),
            kFsCopyFailed);
}

TEST_F(FileLayer, MoveRefusesAnExistingTargetWhileMoveReplacingReplacesIt) {
  dir_.WriteFile(L"a", "A");
  dir_.WriteFile(L"b", "B");
  EXPECT_FALSE(FsMove(dir_.Engine(L"a").c_str(), dir_.Engine(L"b").c_str()));
  EXPECT_EQ(dir_.ReadFile(L"a"), "A");
  EXPECT_EQ(dir_.ReadFile(L"b"), "B");
  EXPECT_TRUE(FsMoveReplacing(dir_.Engine(L"a").c_str(), dir_.Engine(L"b").c_str()));
  EXPECT_FALSE(dir_.Exists(L"a"));
  EXPECT_EQ(dir_.ReadFile(L"b"), "A");
  EXPECT_TRUE(FsMove(dir_.Engine(L"b").c_str(), dir_.Engine(L"c").c_str()));
  EXPECT_EQ(dir_.ReadFile(L"c"), "A");
}

TEST_F(FileLayer, JapaneseNamesSurviveCreateCopyMoveRecycleAndDelete) {
  std::filesystem::create_directory(dir_.Native(L"仮想マシン"));
  const std::wstring made = L"仮想マシン\\表示ソ.vmdk";
  FileStream s{};
  ASSERT_TRUE(FsCreate(dir_.Engine(made).c_str(), &s));
  ASSERT_TRUE(StreamWrite(&s, 0, 4, "KDMV"));
  StreamClose(&s);
  EXPECT_TRUE(FsExists(dir_.Engine(made).c_str()));
  EXPECT_EQ(dir_.ReadFile(made), "KDMV") << "the engine form reached the same file";

  const std::wstring copy = L"仮想マシン\\複製ソ.vmdk";
  ASSERT_EQ(FsCopyWithProgress(dir_.Engine(made).c_str(), dir_.Engine(copy).c_str(), nullptr,
                               nullptr),
            kFsCopyDone);
  const std::wstring moved = L"仮想マシン\\移動表.vmdk";
  ASSERT_TRUE(FsMove(dir_.Engine(copy).c_str(), dir_.Engine(moved).c_str()));
  EXPECT_EQ(dir_.ReadFile(moved), "KDMV");

#ifndef _WIN32
  // The freedesktop Trash of a private data folder, not the user's own.
  const std::string trash = (dir_.Native() / "data").string();
  setenv("XDG_DATA_HOME", trash.c_str(), 1);
#endif
  EXPECT_TRUE(FsRecycle(dir_.Engine(moved).c_str()));
  EXPECT_FALSE(dir_.Exists(moved));
  EXPECT_TRUE(FsDelete(dir_.Engine(made).c_str()));
  EXPECT_FALSE(dir_.Exists(made));
#ifndef _WIN32
  unsetenv("XDG_DATA_HOME");
#endif
}

}  // namespace
}  // namespace qvt
