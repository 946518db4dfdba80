#include "FsPropertyKit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace qvt::test {

void PlaceVolume(RawDisk* disk, std::uint32_t first, const std::string& volumeNative) {
  disk->Close();
  std::ifstream in(volumeNative, std::ios::binary);
  ASSERT_TRUE(in) << volumeNative;
  // One read: a character-by-character copy of a 100 MiB volume takes
  // seconds in a sanitizer build.
  in.seekg(0, std::ios::end);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_LE(static_cast<std::uint64_t>(first) * 512 + bytes.size(),
            static_cast<std::uint64_t>(disk->Sectors()) * 512);
  disk->Put(static_cast<std::uint64_t>(first) * 512, bytes);
}

AllocationMap* MapOf(RawDisk* disk) {
  ImageHandle* image = disk->Open();
  EXPECT_NE(image, nullptr);
  if (image == nullptr) return nullptr;
  AllocationMap* map = nullptr;
  EXPECT_EQ(BuildAllocationMap(image, &map), DISK_OK);
  return map;
}

std::vector<bool> MapBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint8_t> bytes((count + 7) / 8);
  EXPECT_EQ(AllocationMapGetBits(map, first, count, bytes.data()), DISK_OK);
  std::vector<bool> bits(count);
  for (std::uint32_t i = 0; i < count; ++i) bits[i] = (bytes[i / 8] >> (i % 8)) & 1;
  return bits;
}

const AllocationSegment* SegmentAt(const AllocationMap* map, std::uint32_t first) {
  for (std::uint32_t i = 0; map != nullptr && i < map->segmentCount; ++i) {
    if (map->segments[i].firstSector == first) return &map->segments[i];
  }
  return nullptr;
}

std::uint64_t WriteTrimmedCopy(RawDisk* disk, const AllocationMap* map, const std::string& outNative) {
  disk->Close();
  std::ifstream in(disk->NativePath(), std::ios::binary);
  std::ofstream out(outNative, std::ios::binary | std::ios::trunc);
  constexpr std::uint32_t kChunk = 1u << 16;  // sectors
  std::vector<char> buffer(static_cast<std::size_t>(kChunk) * 512);
  std::uint64_t zeroed = 0;
  for (std::uint32_t at = 0; at < disk->Sectors(); at += kChunk) {
    const std::uint32_t n = std::min(kChunk, disk->Sectors() - at);
    in.read(buffer.data(), static_cast<std::streamsize>(n) * 512);
    const std::vector<bool> bits = MapBits(map, at, n);
    for (std::uint32_t s = 0; s < n; ++s) {
      if (bits[s]) continue;
      std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(s) * 512, 512, '\0');
      ++zeroed;
    }
    out.write(buffer.data(), static_cast<std::streamsize>(n) * 512);
  }
  return zeroed;
}

void ExtractVolume(const std::string& diskNative, std::uint32_t first, std::uint32_t count,
                   const std::string& outNative) {
  std::ifstream in(diskNative, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(first) * 512);
  std::vector<char> bytes(static_cast<std::size_t>(count) * 512);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::ofstream out(outNative, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint32_t> UsedButFree(const std::vector<bool>& used, const std::vector<bool>& map) {
  std::vector<std::uint32_t> faults;
  for (std::size_t i = 0; i < used.size() && i < map.size(); ++i) {
    if (used[i] && !map[i]) faults.push_back(static_cast<std::uint32_t>(i));
  }
  return faults;
}

ReaderAnswer AskReader(const FsHandler& handler, RawDisk* disk, std::uint32_t first, std::uint32_t count,
                       std::uint32_t querySectors) {
  ReaderAnswer answer{DISK_E_OPEN, {}};
  ImageHandle* image = disk->Open();
  if (image == nullptr) return answer;
  void* state = nullptr;
  answer.open = handler.open(&state, image, first, count);
  if (answer.open == DISK_OK) {
    std::vector<std::uint8_t> bits((querySectors + 7) / 8, 0);
    EXPECT_EQ(handler.query(state, 0, querySectors, bits.data(), 0), DISK_OK);
    for (std::uint32_t i = 0; i < querySectors; ++i) answer.used.push_back(((bits[i / 8] >> (i % 8)) & 1) != 0);
    handler.close(state);
  } else {
    EXPECT_EQ(state, nullptr);
  }
  disk->Close();
  return answer;
}

}  // namespace qvt::test
