// The stream-optimized writer on a large disk. Built and run by
// scripts/bench-stream-optimized.sh; not a test.
//   stream-optimized-bench make RAW MIB
//     writes a raw disk of MIB MiB whose 1 MiB stretches hold data or not by
//     turns chosen at random (about half of them), as a filled guest disk
//     has: text, tables of small numbers, random bytes (compressed media)
//     and zero blocks, 4 KiB each; the empty stretches are holes.
//   stream-optimized-bench write SOURCE OUT THREADS
//     opens SOURCE (any image the engine opens), writes it to OUT as a
//     single-file stream-optimized disk with THREADS deflating threads
//     (0: one per processor) and prints the seconds it took.
// Paths are plain ASCII here (the engine takes them in its own encoding).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ImageOpen.h"
#include "SparseExtent.h"
#include "VmdkImage.h"

namespace {

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kStretch = 1024 * 1024;

void TextBlock(std::mt19937* rng, unsigned char* out) {
  static const char* const kWords[] = {
      "the",    "disk",  "of",      "a",       "virtual",  "machine", "holds",  "files",
      "and",    "their", "names",   "config",  "system32", "driver",  "error",  "value",
      "return", "int",   "struct",  "include", "window",   "message", "user",   "data",
      "grain",  "table", "offset",  "sector",  "<div>",    "</div>",  "class=", "\"item\"",
      "0x1f",   "errno", "printf(", "static",  "void",     "while",   "if",     "else"};
  std::size_t at = 0;
  while (at < kBlock) {
    const char* word = kWords[(*rng)() % (sizeof(kWords) / sizeof(kWords[0]))];
    for (const char* c = word; *c != '\0' && at < kBlock; ++c)
      out[at++] = static_cast<unsigned char>(*c);
    if (at < kBlock) out[at++] = (*rng)() % 9 == 0 ? '\n' : ' ';
  }
}

void TableBlock(std::mt19937* rng, unsigned char* out) {
  // Records of little-endian counters and small fields, as in databases and
  // executables' tables.
  std::uint32_t counter = (*rng)();
  for (std::size_t at = 0; at + 16 <= kBlock; at += 16) {
    ++counter;
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(counter >> (8 * i));
    out[at + 4] = static_cast<unsigned char>((*rng)() % 4);
    for (std::size_t i = 5; i < 16; ++i)
      out[at + i] = static_cast<unsigned char>((*rng)() % 3 == 0 ? (*rng)() % 16 : 0);
  }
}

void DataBlock(std::mt19937* rng, unsigned char* out) {
  const unsigned kind = (*rng)() % 10;
  if (kind < 4) return TextBlock(rng, out);
  if (kind < 6) return TableBlock(rng, out);
  if (kind < 9) {
    for (std::size_t i = 0; i < kBlock; ++i) out[i] = static_cast<unsigned char>((*rng)());
    return;
  }
  for (std::size_t i = 0; i < kBlock; ++i) out[i] = 0;
}

int Make(const char* path, unsigned long mib) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return 1;
  std::mt19937 rng(20240611);
  std::vector<unsigned char> stretch(kStretch);
  unsigned long filled = 0;
  bool ok = true;
  for (unsigned long m = 0; m < mib && ok; ++m) {
    if (rng() % 2 == 0) continue;
    for (std::size_t at = 0; at < kStretch; at += kBlock) DataBlock(&rng, stretch.data() + at);
    ok = std::fseek(file, static_cast<long>(m * kStretch), SEEK_SET) == 0 &&
         std::fwrite(stretch.data(), 1, kStretch, file) == kStretch;
    ++filled;
  }
  // The last byte makes the file its full size; the stretch there, if
  // empty, stays a hole but for one block.
  const unsigned char zero = 0;
  ok = ok && std::fseek(file, static_cast<long>(mib * kStretch - 1), SEEK_SET) == 0 &&
       std::fwrite(&zero, 1, 1, file) == 1;
  ok = std::fclose(file) == 0 && ok;
  std::printf("%lu of %lu MiB hold data\n", filled, mib);
  return ok ? 0 : 1;
}

// The embedded descriptor of a single-file disk whose extent is the file
// named `name`.
std::string Descriptor(std::uint32_t sectors, const std::string& name) {
  return "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
         "createType=\"streamOptimized\"\n\n# Extent description\nRW " +
         std::to_string(sectors) + " SPARSE \"" + name +
         "\"\n\n# The Disk Data Base \n#DDB\n\nddb.virtualHWVersion = \"4\"\n"
         "ddb.adapterType = \"ide\"\n";
}

int Write(const char* source, const char* out, unsigned long threads) {
  qvt::ImageHandle image = qvt::NoImage();
  if (qvt::ImageOpen(&image, source, true, qvt::VMDK_PARENT_OPEN, nullptr, nullptr) !=
      qvt::DISK_OK) {
    std::fprintf(stderr, "cannot open %s\n", source);
    return 1;
  }
  qvt::ImageGeometry geometry{};
  qvt::DiskResult r = qvt::ImageGetSize(&image, &geometry);
  const std::string path = out;
  const std::string text = Descriptor(geometry.sectors, path.substr(path.find_last_of('/') + 1));
  const qvt::TextView view = qvt::MakeView(text.data(), static_cast<std::uint32_t>(text.size()));
  qvt::SparseWriteRequest request;
  request.descriptor = &view;
  request.descriptorSectors = 1;
  request.hwVersionIndex = 1;
  request.sectors = geometry.sectors;
  request.compressed = true;
  request.streamOptimized = true;
  request.deflateThreads = static_cast<std::uint32_t>(threads);
  const auto start = std::chrono::steady_clock::now();
  if (r == qvt::DISK_OK) r = qvt::SparseWriteExtent(out, &image, request);
  const auto end = std::chrono::steady_clock::now();
  qvt::ImageClose(&image);
  if (r != qvt::DISK_OK) {
    std::fprintf(stderr, "write failed: %d\n", r);
    return 1;
  }
  std::printf("%.3f\n", std::chrono::duration<double>(end - start).count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "make" && argc == 4) return Make(argv[2], std::strtoul(argv[3], nullptr, 10));
  if (verb == "write" && argc == 5)
    return Write(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
  std::fprintf(stderr,
               "usage: stream-optimized-bench make RAW MIB\n"
               "       stream-optimized-bench write SOURCE OUT THREADS\n");
  return 2;
}
