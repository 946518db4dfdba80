#include "ReaderProbeKit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "FsPropertyKit.h"
#include "Heap.h"

namespace qvt::test {

Probe ProbeHandler(const FsHandler& handler, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  Probe probe{DISK_OK, {}};
  void* state = nullptr;
  probe.open = handler.open(&state, image, first, count);
  if (probe.open != DISK_OK) {
    EXPECT_EQ(state, nullptr);
    return probe;
  }
  std::vector<std::uint8_t> bytes((count + 7) / 8, 0);
  EXPECT_EQ(handler.query(state, 0, count, bytes.data(), 0), DISK_OK);
  handler.close(state);
  probe.bits.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) probe.bits[i] = ((bytes[i / 8] >> (i % 8)) & 1) != 0;
  return probe;
}

std::vector<std::string> FillTree(const std::string& dir, std::uint32_t seed, std::uint32_t files,
                                  std::uint32_t maxBytes) {
  std::mt19937 random(seed);
  std::vector<std::string> paths;
  for (std::uint32_t i = 0; i < files; ++i) {
    const std::string folder = "d" + std::to_string(i % 5) + (i % 3 == 0 ? "/sub" + std::to_string(i % 7) : "");
    std::filesystem::create_directories(dir + "/" + folder);
    const std::string path = folder + "/f" + std::to_string(i);
    std::uint32_t size = random() % (maxBytes + 1);
    if (i % 11 == 0) size = 0;
    if (i % 13 == 0) size = 1 + random() % 60;  // small enough to live inline
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() | 1);  // never a zero byte, so zeroed data shows
    WriteBytes(dir + "/" + path, bytes);
    paths.push_back(path);
  }
  return paths;
}

std::vector<bool> SectorsOfBlocks(const std::vector<bool>& blockInUse, std::uint32_t sectorsPerBlock,
                                  std::uint32_t sectors) {
  std::vector<bool> out(sectors, true);
  for (std::uint32_t s = 0; s < sectors; ++s) {
    const std::size_t block = s / sectorsPerBlock;
    if (block < blockInUse.size()) out[s] = blockInUse[block];
  }
  return out;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool IsDocumentedOpenResult(DiskResult r) {
  return r == DISK_OK || r == DISK_E_FS_UNKNOWN || r == DISK_E_FS_BITMAP || r == DISK_E_READ ||
         r == DISK_E_LIMIT;
}

void RunByteMutations(RawDisk* disk, const FsHandler& handler, std::uint32_t first, std::uint32_t count,
                      const std::vector<ByteRegion>& regions, const std::vector<bool>& inUse,
                      std::uint32_t rounds, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uint64_t total = 0;
  for (const ByteRegion& r : regions) total += r.length;
  ASSERT_GT(total, 0u);
  std::uint32_t accepted = 0;
  for (std::uint32_t round = 0; round < rounds; ++round) {
    std::uint64_t pick = random() % total;
    std::size_t k = 0;
    while (pick >= regions[k].length) pick -= regions[k++].length;
    const std::uint64_t at = regions[k].offset + pick;
    disk->Close();
    std::uint8_t original = 0;
    {
      std::ifstream in(disk->NativePath(), std::ios::binary);
      in.seekg(static_cast<std::streamoff>(at));
      in.read(reinterpret_cast<char*>(&original), 1);
    }
    const auto damaged = static_cast<std::uint8_t>(
        random() % 2 == 0 ? original ^ (1u << (random() % 8)) : random() % 256);
    if (damaged == original) continue;
    disk->PutByte(at, damaged);
    ImageHandle* image = disk->Open();
    ASSERT_NE(image, nullptr);
    const Probe probe = ProbeHandler(handler, image, first, count);
    disk->Close();
    disk->PutByte(at, original);
    ASSERT_TRUE(IsDocumentedOpenResult(probe.open)) << "round " << round << " byte " << at << " -> " << probe.open;
    if (probe.open != DISK_OK) continue;
    ++accepted;
    const std::vector<std::uint32_t> wrong = UsedButFree(inUse, probe.bits);
    ASSERT_TRUE(wrong.empty()) << "round " << round << ": byte " << at << " from " << int(original) << " to "
                               << int(damaged) << " frees used sector " << wrong.front();
  }
  // Some damage must be of the kind a reader accepts, or the loop checks little.
  EXPECT_GT(accepted, 0u);
}

void RunAllocationFailures(const FsHandler& handler, ImageHandle* image, std::uint32_t first, std::uint32_t count) {
  for (long n = 0;; ++n) {
    ASSERT_LT(n, 100) << "the open never succeeds";
    void* state = nullptr;
    InjectAllocationFailureAfter(n);
    const DiskResult r = handler.open(&state, image, first, count);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) {
      handler.close(state);
      EXPECT_GT(n, 0);
      return;
    }
    ASSERT_EQ(r, DISK_E_NOMEM) << "after " << n << " allocations";
    ASSERT_EQ(state, nullptr);
  }
}

}  // namespace qvt::test
