// The whole-extent writer with compressed grains deflated on several
// threads: byte for byte the file of the one-thread writer for every source
// and layout, a file the peer tools accept, and the same ending (result,
// reports, file left behind) for every stop and failure along the way, with
// no thread left running.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "FileLayer.h"
#include "Heap.h"
#include "SparseExtent.h"
#include "SparseTestKit.h"

namespace qvt {
namespace {

using test::MemoryDisk;
using test::Quote;
using Bytes = std::vector<std::uint8_t>;
using Reports = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

constexpr std::uint32_t kGrain = test::kGrainBytes;
constexpr std::uint32_t kGrainSectors = kGrain / 512;

// Bytes no deflate can shrink.
void Random(MemoryDisk* disk, std::uint64_t offset, std::uint32_t length, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (std::uint32_t i = 0; i < length; ++i) {
    disk->bytes[offset + i] = static_cast<std::uint8_t>(rng() >> 24);
  }
}

void RandomGrain(MemoryDisk* disk, std::uint64_t grain, std::uint32_t seed) {
  Random(disk, grain * kGrain, kGrain, seed);
}

// --- Sources ---------------------------------------------------------------

MemoryDisk IncompressibleGrains() {
  // Every record is larger than its grain.
  MemoryDisk disk(24 * kGrainSectors);
  for (std::uint32_t g = 0; g < 24; ++g) RandomGrain(&disk, g, g);
  return disk;
}

MemoryDisk ZerosAmongData() {
  // By turns: an empty grain (skipped), a full one, one whose only data is
  // its last sector, and one that is random in its first half only.
  MemoryDisk disk(48 * kGrainSectors);
  for (std::uint32_t g = 0; g < 48; ++g) {
    const std::uint64_t at = static_cast<std::uint64_t>(g) * kGrain;
    switch (g % 4) {
      case 1:
        disk.Pattern(at, kGrain, static_cast<std::uint8_t>(g));
        break;
      case 2:
        disk.Pattern(at + kGrain - 512, 512, 0x5A);
        break;
      case 3:
        Random(&disk, at, kGrain / 2, g);
        break;
      default:
        break;
    }
  }
  return disk;
}

MemoryDisk ShortLastGrain() {
  // 20 grains and 77 sectors: the last grain is short and padded with zeros.
  MemoryDisk disk(20 * kGrainSectors + 77);
  disk.Pattern(0, 19 * kGrain, 0x31);
  Random(&disk, 19 * kGrain, kGrain + 77 * 512, 7);
  return disk;
}

MemoryDisk RecordsOfEverySize() {
  // Grain i is random in its first 504 i bytes and patterned behind them, so
  // the records take from one sector to more than a grain.
  MemoryDisk disk(130 * kGrainSectors);
  for (std::uint32_t g = 0; g < 130; ++g) {
    const std::uint64_t at = static_cast<std::uint64_t>(g) * kGrain;
    const std::uint32_t random = std::min<std::uint32_t>(504 * g, kGrain);
    Random(&disk, at, random, g);
    if (random < kGrain) disk.Pattern(at + random, kGrain - random, static_cast<std::uint8_t>(g));
  }
  return disk;
}

MemoryDisk SeveralGts() {
  // GT 0: 40 grains in a row, more than the queue of 8 threads holds; GT 1
  // empty; GT 2: its first and last grain; the short GT 3: its last grain.
  MemoryDisk disk(3 * test::kGtSpan + 1000);
  for (std::uint32_t g = 100; g < 140; ++g) {
    if (g % 2 == 0) {
      RandomGrain(&disk, g, g);
    } else {
      disk.Pattern(static_cast<std::uint64_t>(g) * kGrain, kGrain, static_cast<std::uint8_t>(g));
    }
  }
  disk.Pattern(2ull * test::kGtSpan * 512, 4096, 0x41);
  RandomGrain(&disk, 3 * 512 - 1, 99);
  Random(&disk, (3ull * test::kGtSpan + 896) * 512, 104 * 512, 5);
  return disk;
}

struct Source {
  const char* name;
  MemoryDisk (*make)();
};

const Source kSources[] = {
    {"IncompressibleGrains", &IncompressibleGrains},
    {"ZerosAmongData", &ZerosAmongData},
    {"ShortLastGrain", &ShortLastGrain},
    {"RecordsOfEverySize", &RecordsOfEverySize},
    {"SeveralGts", &SeveralGts},
};

// --- Writing ---------------------------------------------------------------

struct Layout {
  const char* name;
  bool stream;  // else compressed grains in the plain layout
};

const Layout kLayouts[] = {{"Compressed", false}, {"StreamOptimized", true}};

void PrintTo(const Source& source, std::ostream* out) { *out << source.name; }
void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

// Threads of the operating system in this process; -1 where that is not
// known (under Wine the count would include Wine's own threads).
int LiveThreads() {
#if defined(_WIN32)
  return -1;
#else
  std::error_code error;
  std::filesystem::directory_iterator tasks("/proc/self/task", error);
  if (error) return -1;
  int count = 0;
  for (const auto& task : tasks) {
    static_cast<void>(task);
    ++count;
  }
  return count;
#endif
}

// The thread count once it is back at `expected`, or after two seconds. A
// joined thread can stay listed for a moment after its join; one that still
// waits for work stays for good.
int ThreadsSettledAt(int expected) {
  int count = LiveThreads();
  for (int i = 0; i < 2000 && count != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    count = LiveThreads();
  }
  return count;
}

// The file's bytes, read in one piece (empty when missing).
Bytes FileOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// How a write ended: its result, its reports and the file it left.
struct Outcome {
  DiskResult result = DISK_OK;
  Reports reports;
  Bytes file;
};

// What may go wrong: a stop at report `stopAt`, the writes behind the first
// `writes` failing, a failed read of the source at byte `failReadAt`.
struct Trouble {
  int stopAt = -1;
  long writes = -1;
  std::uint64_t failReadAt = UINT64_MAX;
};

class ThreadedWriter : public testing::Test {
 protected:
  void TearDown() override {
    InjectFileFaults(-1, -1);
    InjectAllocationFailureAfter(-1);
  }

  SparseWriteRequest Request(const MemoryDisk& disk, bool stream, std::uint32_t threads) {
    text_ = test::SingleFileDescriptor(disk.Sectors(),
                                       stream ? "streamOptimized" : "monolithicSparse", "t.vmdk");
    view_ = MakeView(text_.data(), static_cast<std::uint32_t>(text_.size()));
    SparseWriteRequest request;
    request.descriptor = &view_;
    request.descriptorSectors = 20;
    request.hwVersionIndex = 1;
    request.compressed = true;
    request.streamOptimized = stream;
    request.deflateThreads = threads;
    request.progress = &test::ProgressLog::Record;
    request.progressTotal = disk.Sectors();
    request.ownAllocationOnly = !disk.owned.empty();
    return request;
  }

  Outcome Write(MemoryDisk* disk, bool stream, std::uint32_t threads, const Trouble& trouble = {}) {
    SparseWriteRequest request = Request(*disk, stream, threads);
    test::ProgressLog log;
    log.stopAt = trouble.stopAt;
    request.progressContext = &log;
    std::filesystem::remove(dir_.Native(L"t.vmdk"));
    disk->failReadAt = trouble.failReadAt;
    const int threadsBefore = LiveThreads();
    InjectFileFaults(-1, trouble.writes);
    Outcome outcome;
    outcome.result = test::WriteExtent(dir_.Engine(L"t.vmdk"), disk, request);
    InjectFileFaults(-1, -1);
    EXPECT_EQ(ThreadsSettledAt(threadsBefore), threadsBefore) << "a worker outlived the write";
    disk->failReadAt = UINT64_MAX;
    outcome.reports = log.calls;
    outcome.file = FileOf(dir_.Native(L"t.vmdk"));
    return outcome;
  }

  test::TempFolder dir_;
  std::string text_;
  TextView view_{};
};

// --- Same file -------------------------------------------------------------

class EachSource : public ThreadedWriter,
                   public testing::WithParamInterface<std::tuple<Source, Layout>> {
 protected:
  const Source& source() const { return std::get<0>(GetParam()); }
  bool stream() const { return std::get<1>(GetParam()).stream; }
};

TEST_P(EachSource, GivesTheFileAndReportsOfOneThread) {
  MemoryDisk disk = source().make();
  const Outcome one = Write(&disk, stream(), 1);
  ASSERT_EQ(one.result, DISK_OK);
  ASSERT_FALSE(one.reports.empty());
  // Two threads as on a small machine, three for an uneven share, eight
  // (the most) for more slots than some ranges have grains.
  for (const std::uint32_t threads : {2u, 3u, 8u, 0u}) {
    const Outcome many = Write(&disk, stream(), threads);
    EXPECT_EQ(many.result, DISK_OK) << threads;
    EXPECT_EQ(many.reports, one.reports) << threads;
    EXPECT_TRUE(many.file == one.file) << threads << " threads write other bytes";
  }
}

TEST_P(EachSource, PassesQemuCheckAndCompare) {
  if (!test::PeerToolsAvailable()) {
    GTEST_SKIP() << "qemu-img and qemu-io are not available here (Linux only, package "
                    "qemu-utils); the interop checks are skipped";
  }
  MemoryDisk disk = source().make();
  ASSERT_EQ(Write(&disk, stream(), 3).result, DISK_OK);
  test::PutFileBytes(dir_, L"src.raw", disk.bytes);
  const std::string image = Quote(dir_.Native(L"t.vmdk").string());
  for (const std::string& command : {"qemu-img check -f vmdk " + image,
                                     "qemu-img compare -f raw -F vmdk " +
                                         Quote(dir_.Native(L"src.raw").string()) + " " + image}) {
    std::string log;
    EXPECT_EQ(test::Run(command, &log), 0) << command << "\n" << log;
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, EachSource,
                         testing::Combine(testing::ValuesIn(kSources), testing::ValuesIn(kLayouts)),
                         [](const testing::TestParamInfo<std::tuple<Source, Layout>>& param) {
                           return std::string(std::get<0>(param.param).name) +
                                  std::get<1>(param.param).name;
                         });

// --- Same ending -----------------------------------------------------------

// GT 0 with more grains than the queues of 2 and 3 threads hold, and the
// short GT 1 with two. The grains with data are marked owned, and the writer
// asks for those, which spares the hundreds of writes below a scan of 32 MiB
// of zeros each.
MemoryDisk Troubled() {
  MemoryDisk disk(test::kGtSpan + 4 * kGrainSectors);
  for (std::uint32_t g = 0; g < 14; ++g) {
    if (g % 3 == 0) {
      RandomGrain(&disk, g, g);
    } else {
      disk.Pattern(static_cast<std::uint64_t>(g) * kGrain, kGrain, static_cast<std::uint8_t>(g));
    }
  }
  disk.Pattern((test::kGtSpan + 5) * 512ull, 512, 0x61);
  RandomGrain(&disk, 512 + 3, 77);
  disk.owned.assign(disk.Sectors(), false);
  for (std::uint32_t s = 0; s < disk.Sectors(); ++s) {
    const auto sector = disk.bytes.begin() + static_cast<std::ptrdiff_t>(s) * 512;
    disk.owned[s] = std::any_of(sector, sector + 512, [](std::uint8_t b) { return b != 0; });
  }
  return disk;
}

// Every stop at a report, every failing write and every failed grain read
// ends with the code, the reports and the partial file of one thread: the
// records of the grains before it are written, those after it are dropped.
TEST_F(ThreadedWriter, EveryStopAndFailureEndsAsWithOneThread) {
  MemoryDisk disk = Troubled();
  for (const Layout& layout : kLayouts) {
    const Outcome whole = Write(&disk, layout.stream, 1);
    ASSERT_EQ(whole.result, DISK_OK);
    // What goes wrong, and the codes it may end with.
    struct Case {
      std::string what;
      Trouble trouble;
      DiskResult code;
      DiskResult orCode;
    };
    std::vector<Case> troubles;
    for (int stop = 0; stop < static_cast<int>(whole.reports.size()); ++stop) {
      troubles.push_back({"stop at report " + std::to_string(stop), Trouble{stop, -1, UINT64_MAX},
                          DISK_CANCELLED, DISK_CANCELLED});
    }
    for (long writes = 0; writes < 1000; ++writes) {
      const Trouble failing{-1, writes, UINT64_MAX};
      if (Write(&disk, layout.stream, 1, failing).result == DISK_OK) break;
      troubles.push_back({"writes fail after " + std::to_string(writes), failing, DISK_E_WRITE,
                          DISK_E_GRAIN_WRITE});
    }
    for (std::uint32_t g = 0; g < disk.Sectors() / kGrainSectors; ++g) {
      const auto owned = disk.owned.begin() + static_cast<std::ptrdiff_t>(g) * kGrainSectors;
      if (std::find(owned, owned + kGrainSectors, true) != owned + kGrainSectors) {
        // The writer reads each grain whole, so this byte fails its read.
        const Trouble failing{-1, -1, static_cast<std::uint64_t>(g) * kGrain};
        troubles.push_back(
            {"read fails in grain " + std::to_string(g), failing, DISK_E_READ, DISK_E_READ});
      }
    }
    for (const auto& [what, trouble, code, orCode] : troubles) {
      const Outcome one = Write(&disk, layout.stream, 1, trouble);
      EXPECT_TRUE(one.result == code || one.result == orCode)
          << layout.name << ", " << what << ": " << one.result;
      for (const std::uint32_t threads : {2u, 3u}) {
        const Outcome many = Write(&disk, layout.stream, threads, trouble);
        EXPECT_EQ(many.result, one.result) << layout.name << ", " << what << ", " << threads;
        EXPECT_EQ(many.reports, one.reports) << layout.name << ", " << what << ", " << threads;
        EXPECT_TRUE(many.file == one.file) << layout.name << ", " << what << ", " << threads;
      }
    }
  }
}

// Memory for the slots and the deflate states of eight threads, refused at
// each allocation in turn: DISK_E_NOMEM (or the file layer's own failure to
// create), with everything freed (the leak checker watches).
TEST_F(ThreadedWriter, EveryRefusedAllocationIsNoMemory) {
  MemoryDisk disk = Troubled();
  SparseWriteRequest request = Request(disk, true, 8);
  request.progress = nullptr;
  std::vector<DiskResult> results;
  for (long n = 0; n < 2000; ++n) {
    InjectAllocationFailureAfter(n);
    const DiskResult r = test::WriteExtent(dir_.Engine(L"a.vmdk"), &disk, request);
    InjectAllocationFailureAfter(-1);
    results.push_back(r);
    if (r == DISK_OK) break;
  }
  ASSERT_EQ(results.back(), DISK_OK);
  results.pop_back();
  EXPECT_GT(results.size(), 32u * 2) << "each of the 32 slots' two buffers is refused in turn";
  for (DiskResult r : results) EXPECT_TRUE(r == DISK_E_NOMEM || r == DISK_E_CREATE) << r;
}

}  // namespace
}  // namespace qvt
