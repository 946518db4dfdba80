// Copying with progress: content, reports, stops and failures.
#include <utility>
#include <vector>

#include "PlatformFile.h"
#include "PlatformTestSupport.h"

namespace qvt::platform::test {
namespace {

class FileCopyTest : public FolderTest {};

// Records every report; answers false from report number `stopAt` on
// (0: never).
struct Recorder {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  std::size_t stopAt = 0;

  static bool OnProgress(std::uint64_t done, std::uint64_t total, void* context) {
    auto* self = static_cast<Recorder*>(context);
    self->reports.emplace_back(done, total);
    return self->stopAt == 0 || self->reports.size() < self->stopAt;
  }
};

TEST_F(FileCopyTest, CopiesTheContentAndReportsUpToTheTotal) {
  const std::string data = Pattern((5u << 20) / 2 + 17);  // a few chunks and a bit
  ASSERT_TRUE(WriteWholeFile(Child(L"source.bin"), data));
  Recorder recorder;
  ASSERT_EQ(FileCopyWithProgress(Child(L"source.bin"), Child(L"target.bin"), Recorder::OnProgress,
                                 &recorder),
            kCopyDone);
  std::string copied;
  ASSERT_TRUE(ReadWholeFile(Child(L"target.bin"), &copied));
  EXPECT_TRUE(copied == data) << "the copy differs from its source";
  ASSERT_FALSE(recorder.reports.empty());
  std::uint64_t previous = 0;
  for (const auto& [done, total] : recorder.reports) {
    EXPECT_EQ(total, data.size());
    EXPECT_LE(done, total);
    EXPECT_GE(done, previous);
    previous = done;
  }
  EXPECT_EQ(recorder.reports.back().first, data.size());
}

TEST_F(FileCopyTest, ReplacesAnExistingTarget) {
  const std::string data = Pattern(1000, 1);
  ASSERT_TRUE(WriteWholeFile(Child(L"source.bin"), data));
  ASSERT_TRUE(WriteWholeFile(Child(L"target.bin"), Pattern(50000, 2)));
  ASSERT_EQ(FileCopyWithProgress(Child(L"source.bin"), Child(L"target.bin"), nullptr, nullptr),
            kCopyDone);
  std::string copied;
  ASSERT_TRUE(ReadWholeFile(Child(L"target.bin"), &copied));
  EXPECT_TRUE(copied == data);
}

TEST_F(FileCopyTest, AnEmptyFileCopies) {
  ASSERT_TRUE(WriteWholeFile(Child(L"empty.bin"), ""));
  Recorder recorder;
  ASSERT_EQ(FileCopyWithProgress(Child(L"empty.bin"), Child(L"copy.bin"), Recorder::OnProgress,
                                 &recorder),
            kCopyDone);
  std::string copied = "x";
  ASSERT_TRUE(ReadWholeFile(Child(L"copy.bin"), &copied));
  EXPECT_TRUE(copied.empty());
  for (const auto& [done, total] : recorder.reports) {
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(total, 0u);
  }
}

TEST_F(FileCopyTest, AStopAtTheFirstReportLeavesNoTarget) {
  const std::string data = Pattern(3u << 20);
  ASSERT_TRUE(WriteWholeFile(Child(L"source.bin"), data));
  for (const bool targetExisted : {false, true}) {
    if (targetExisted) {
      ASSERT_TRUE(WriteWholeFile(Child(L"target.bin"), "old"));
    }
    Recorder recorder;
    recorder.stopAt = 1;
    EXPECT_EQ(FileCopyWithProgress(Child(L"source.bin"), Child(L"target.bin"),
                                   Recorder::OnProgress, &recorder),
              kCopyStopped)
        << "target existed: " << targetExisted;
    EXPECT_EQ(recorder.reports.size(), 1u);
    EXPECT_FALSE(PathExists(Child(L"target.bin"))) << "target existed: " << targetExisted;
    std::string source;
    ASSERT_TRUE(ReadWholeFile(Child(L"source.bin"), &source));
    EXPECT_TRUE(source == data);
  }
}

TEST_F(FileCopyTest, AMissingSourceFailsAndLeavesNoTarget) {
  Recorder recorder;
  EXPECT_EQ(FileCopyWithProgress(Child(L"missing.bin"), Child(L"target.bin"),
                                 Recorder::OnProgress, &recorder),
            kCopyFailed);
  EXPECT_FALSE(PathExists(Child(L"target.bin")));
  EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(FileCopyTest, ACopyOntoItselfFailsAndKeepsTheFile) {
  const std::string data = Pattern(4000);
  ASSERT_TRUE(WriteWholeFile(Child(L"self.bin"), data));
  EXPECT_EQ(FileCopyWithProgress(Child(L"self.bin"), Child(L"self.bin"), nullptr, nullptr),
            kCopyFailed);
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(Child(L"self.bin"), &kept));
  EXPECT_TRUE(kept == data);
}

TEST_F(FileCopyTest, AFolderIsNoSource) {
  ASSERT_TRUE(DirectoryCreate(Child(L"folder")));
  EXPECT_EQ(FileCopyWithProgress(Child(L"folder"), Child(L"target.bin"), nullptr, nullptr),
            kCopyFailed);
  EXPECT_FALSE(PathExists(Child(L"target.bin")));
}

TEST_F(FileCopyTest, TheCopyKeepsTheLastWriteTime) {
  ASSERT_TRUE(WriteWholeFile(Child(L"source.bin"), Pattern(100)));
  // 2001-02-03 04:05:06.7 UTC, long before the copy is made.
  const std::uint64_t past = 126256467067000000ull;
  ASSERT_TRUE(SetLastWriteTime(Child(L"source.bin"), past));
  ASSERT_EQ(FileCopyWithProgress(Child(L"source.bin"), Child(L"target.bin"), nullptr, nullptr),
            kCopyDone);
  std::uint64_t targetTime = 0;
  ASSERT_TRUE(FileLastWriteTime(Child(L"target.bin"), &targetTime));
  EXPECT_EQ(targetTime, past);
}

}  // namespace
}  // namespace qvt::platform::test
