// Times BuildAllocationMap on a raw guest disk (a ".ndi" side file beside
// it gives its geometry) and prints the milliseconds, the sectors it calls
// free and the handler of each segment. Built and run by
// scripts/bench-ext-map.sh; not a test.
#include <chrono>
#include <cstdio>
#include <vector>

#include "AllocationMapBuild.h"
#include "RawImage.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ext-map-bench DISK.img\n");
    return 2;
  }
  qvt::ImageHandle image = qvt::NoImage();
  if (qvt::RawImageOpen(&image, argv[1], true) != qvt::DISK_OK) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  qvt::AllocationMap* map = nullptr;
  const qvt::DiskResult r = qvt::BuildAllocationMap(&image, &map);
  const auto built = std::chrono::steady_clock::now();
  if (r != qvt::DISK_OK) {
    std::fprintf(stderr, "map failed: %d\n", r);
    return 1;
  }
  std::uint64_t free = 0;
  std::uint64_t sectors = 0;
  std::vector<std::uint8_t> bits((1u << 20) / 8);
  for (std::uint32_t i = 0; i < map->segmentCount; ++i) sectors += map->segments[i].sectorCount;
  for (std::uint64_t at = 0; at < sectors; at += 1u << 20) {
    const auto n = static_cast<std::uint32_t>(sectors - at < (1u << 20) ? sectors - at : (1u << 20));
    qvt::AllocationMapGetBits(map, static_cast<std::uint32_t>(at), n, bits.data());
    for (std::uint32_t k = 0; k < n; ++k) free += ((bits[k / 8] >> (k % 8)) & 1) == 0;
  }
  const auto queried = std::chrono::steady_clock::now();
  using ms = std::chrono::duration<double, std::milli>;
  std::printf("map built in %.1f ms; all %llu sectors queried in %.1f ms; %llu free\n",
              ms(built - start).count(), static_cast<unsigned long long>(sectors), ms(queried - built).count(),
              static_cast<unsigned long long>(free));
  for (std::uint32_t i = 0; i < map->segmentCount; ++i) {
    std::printf("segment %u: first %u count %u kind %d\n", i, map->segments[i].firstSector,
                map->segments[i].sectorCount, map->segments[i].kind);
  }
  qvt::FreeAllocationMap(map);
  qvt::ImageClose(&image);
  return 0;
}
