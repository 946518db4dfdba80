#include "SparseTestKit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qvt::test {
namespace {

bool Zero(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

DiskResult MemoryRead(void* context, std::uint64_t offset, std::uint32_t length, void* buffer) {
  auto* disk = static_cast<MemoryDisk*>(context);
  ++disk->reads;
  if (offset > disk->bytes.size() || length > disk->bytes.size() - offset) return DISK_E_LIMIT;
  if (disk->failReadAt >= offset && disk->failReadAt < offset + length) return DISK_E_READ;
  std::memcpy(buffer, disk->bytes.data() + offset, length);
  return DISK_OK;
}

DiskResult MemoryIsEmpty(void* context, const AllocationMap* map, std::uint32_t first,
                         std::uint32_t count, bool* empty) {
  auto* disk = static_cast<MemoryDisk*>(context);
  ++disk->emptyQuestions;
  disk->lastMap = map;
  if (static_cast<std::uint64_t>(first) + count > disk->Sectors()) return DISK_E_LIMIT;
  *empty = Zero(disk->bytes.data() + static_cast<std::size_t>(first) * 512,
                static_cast<std::size_t>(count) * 512);
  return DISK_OK;
}

DiskResult MemoryIsAbsent(void* context, std::uint32_t first, std::uint32_t count, bool* absent) {
  auto* disk = static_cast<MemoryDisk*>(context);
  if (disk->owned.empty()) return MemoryIsEmpty(context, nullptr, first, count, absent);
  ++disk->emptyQuestions;
  if (static_cast<std::uint64_t>(first) + count > disk->Sectors()) return DISK_E_LIMIT;
  *absent = true;
  for (std::uint32_t s = first; s < first + count; ++s) {
    if (s < disk->owned.size() && disk->owned[s]) *absent = false;
  }
  return DISK_OK;
}

}  // namespace

void MemoryDisk::Pattern(std::uint64_t offset, std::uint32_t length, std::uint8_t seed) {
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint64_t at = offset + i;
    bytes[at] = static_cast<std::uint8_t>((at * 131 + (at >> 9) * 7 + seed) & 0xFF);
    if (bytes[at] == 0) bytes[at] = seed | 1;
  }
}

void MemoryDisk::Fill(std::uint64_t offset, std::uint32_t length, std::uint8_t value) {
  std::memset(bytes.data() + offset, value, length);
}

ExtentSource MemoryDisk::Source() {
  return ExtentSource{this, &MemoryRead, &MemoryIsEmpty, &MemoryIsAbsent};
}

DiskResult WriteExtent(const std::string& path, MemoryDisk* disk, SparseWriteRequest request) {
  if (request.sectors == 0) request.sectors = disk->Sectors() - request.firstSourceSector;
  return SparseWriteExtentFrom(path.c_str(), disk->Source(), request);
}

std::string SingleFileDescriptor(std::uint32_t sectors, const std::string& createType,
                                 const std::string& fileName) {
  return "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"" +
         createType + "\"\n\n# Extent description\nRW " + std::to_string(sectors) + " SPARSE \"" +
         fileName +
         "\"\n\n# The Disk Data Base \n#DDB\n\nddb.virtualHWVersion = \"4\"\n"
         "ddb.geometry.cylinders = \"" +
         std::to_string(sectors / 16 / 63) +
         "\"\nddb.geometry.heads = \"16\"\nddb.geometry.sectors = \"63\"\n"
         "ddb.adapterType = \"ide\"\n";
}

DiskResult WriteDisk(const std::string& path, MemoryDisk* disk, bool compressed, bool stream,
                     const std::string& fileName) {
  const std::string text = SingleFileDescriptor(
      disk->Sectors(), stream ? "streamOptimized" : "monolithicSparse", fileName);
  const TextView view = MakeView(text.data(), static_cast<std::uint32_t>(text.size()));
  SparseWriteRequest request;
  request.descriptor = &view;
  request.descriptorSectors = 20;
  request.hwVersionIndex = 1;
  request.compressed = compressed;
  request.streamOptimized = stream;
  return WriteExtent(path, disk, request);
}

DiskResult OpenExtent(SparseExtent* extent, const std::string& path, bool readOnly,
                      std::uint64_t sectors, ImageHandle* parent, std::uint64_t firstSector,
                      bool split) {
  return SparseOpen(extent, &ExtentOpenPlain, nullptr, path.c_str(), readOnly, split, parent,
                    firstSector, sectors, nullptr, nullptr);
}

std::vector<std::uint8_t> ReadWhole(SparseExtent* extent, DiskResult* result) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(extent->sectors) * 512);
  // In uneven pieces, so that reads start and end inside grains.
  constexpr std::uint32_t kPiece = 3 * 65536 + 1000;
  *result = DISK_OK;
  for (std::size_t at = 0; at < out.size() && *result == DISK_OK; at += kPiece) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(kPiece, out.size() - at));
    *result = SparseRead(extent, at, n, out.data() + at);
  }
  if (*result != DISK_OK) out.clear();
  return out;
}

std::vector<std::uint8_t> FileBytes(const TempFolder& dir, const std::wstring& name) {
  const std::string text = dir.ReadFile(name);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

void PutFileBytes(const TempFolder& dir, const std::wstring& name,
                  const std::vector<std::uint8_t>& bytes) {
  dir.WriteFile(name, std::string(bytes.begin(), bytes.end()));
}

void PokeLE32(std::vector<std::uint8_t>* bytes, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PokeLE64(std::vector<std::uint8_t>* bytes, std::uint64_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) (*bytes)[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t PeekLE32(const std::vector<std::uint8_t>& bytes, std::uint64_t offset) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | bytes[offset + i];
  return v;
}

std::uint64_t PeekLE64(const std::vector<std::uint8_t>& bytes, std::uint64_t offset) {
  return PeekLE32(bytes, offset) | (static_cast<std::uint64_t>(PeekLE32(bytes, offset + 4)) << 32);
}

std::uint32_t GteOnDisk(const std::vector<std::uint8_t>& file, std::uint64_t gdSector,
                        std::uint64_t grain) {
  const std::uint32_t gtSector = PeekLE32(file, gdSector * 512 + 4 * (grain / 512));
  return PeekLE32(file, static_cast<std::uint64_t>(gtSector) * 512 + 4 * (grain % 512));
}

// The peer tools are Linux programs; the Windows build's tests run under
// Wine, where they are not reachable, and skip.
#if defined(_WIN32)
bool PeerToolsAvailable() { return false; }

int Run(const std::string&, std::string* log) {
  if (log != nullptr) log->clear();
  return -1;
}
#else
bool PeerToolsAvailable() {
  static const bool available =
      std::system("qemu-img --version >/dev/null 2>&1 && qemu-io --version >/dev/null 2>&1") == 0;
  return available;
}

int Run(const std::string& command, std::string* log) {
  const std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  std::string output;
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  const int status = pclose(pipe);
  if (log != nullptr) *log = output;
  return status;
}
#endif

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string QemuWrites(const std::vector<PeerWrite>& writes) {
  std::string commands;
  for (const PeerWrite& w : writes) {
    commands += " -c 'write -q -P " + std::to_string(w.pattern) + " " + std::to_string(w.offset) +
                " " + std::to_string(w.length) + "'";
  }
  return commands;
}

bool ProgressLog::Record(std::uint32_t done, std::uint32_t total, void* context) {
  auto* log = static_cast<ProgressLog*>(context);
  log->calls.emplace_back(done, total);
  return static_cast<int>(log->calls.size()) - 1 != log->stopAt;
}

}  // namespace qvt::test
