// Helpers of the extent tests: disks in memory as writer sources, byte
// patches of extent files, the peer tools (qemu-img, qemu-io), a progress
// recorder.
#ifndef QVT_TESTS_ENGINE_VMDK_SPARSETESTKIT_H
#define QVT_TESTS_ENGINE_VMDK_SPARSETESTKIT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "SparseExtent.h"
#include "SparseSource.h"
#include "TempFolder.h"

namespace qvt::test {

constexpr std::uint32_t kGrainBytes = 128 * 512;
constexpr std::uint32_t kGtSpan = 65536;  // sectors one GT covers

// A disk in memory. A range is empty when all its bytes are zero; it is
// absent when no sector of it is marked owned (`owned` empty: absent = empty).
struct MemoryDisk {
  std::vector<std::uint8_t> bytes;
  std::vector<bool> owned;
  std::uint64_t failReadAt = UINT64_MAX;  // a read touching this byte fails
  int emptyQuestions = 0;
  int reads = 0;
  const AllocationMap* lastMap = nullptr;  // the map the last emptiness question came with

  explicit MemoryDisk(std::uint32_t sectors) : bytes(static_cast<std::size_t>(sectors) * 512, 0) {}
  std::uint32_t Sectors() const { return static_cast<std::uint32_t>(bytes.size() / 512); }
  // Fills [offset, offset + length) with a pattern that differs per byte and seed.
  void Pattern(std::uint64_t offset, std::uint32_t length, std::uint8_t seed);
  void Fill(std::uint64_t offset, std::uint32_t length, std::uint8_t value);
  ExtentSource Source();
};

// Writes an extent file from the disk (request.sectors 0: the whole disk).
DiskResult WriteExtent(const std::string& path, MemoryDisk* disk, SparseWriteRequest request);

// The embedded descriptor of a single-file disk whose one extent is the file
// itself; createType "monolithicSparse" or "streamOptimized".
std::string SingleFileDescriptor(std::uint32_t sectors, const std::string& createType,
                                 const std::string& fileName);

// Writes a single-file sparse disk with a 20-sector embedded descriptor.
DiskResult WriteDisk(const std::string& path, MemoryDisk* disk, bool compressed, bool stream,
                     const std::string& fileName);

DiskResult OpenExtent(SparseExtent* extent, const std::string& path, bool readOnly,
                      std::uint64_t sectors, ImageHandle* parent = nullptr,
                      std::uint64_t firstSector = 0, bool split = false);

// The whole extent as read through SparseRead (empty on failure, with *result set).
std::vector<std::uint8_t> ReadWhole(SparseExtent* extent, DiskResult* result);

// File bytes and patches.
std::vector<std::uint8_t> FileBytes(const TempFolder& dir, const std::wstring& name);
void PutFileBytes(const TempFolder& dir, const std::wstring& name,
                  const std::vector<std::uint8_t>& bytes);
void PokeLE32(std::vector<std::uint8_t>* bytes, std::uint64_t offset, std::uint32_t value);
void PokeLE64(std::vector<std::uint8_t>* bytes, std::uint64_t offset, std::uint64_t value);
std::uint32_t PeekLE32(const std::vector<std::uint8_t>& bytes, std::uint64_t offset);
std::uint64_t PeekLE64(const std::vector<std::uint8_t>& bytes, std::uint64_t offset);

// The GTE of grain `grain` in the GT copy whose GD starts at sector `gdSector`.
std::uint32_t GteOnDisk(const std::vector<std::uint8_t>& file, std::uint64_t gdSector,
                        std::uint64_t grain);

// qemu-img and qemu-io on the PATH (never under Windows).
bool PeerToolsAvailable();
// Runs a shell command; its exit status (output goes to `log` when given).
int Run(const std::string& command, std::string* log = nullptr);
std::string Quote(const std::string& path);

// qemu-io writes of a byte pattern, as -c arguments for one qemu-io call.
struct PeerWrite {
  std::uint64_t offset;
  std::uint32_t length;
  int pattern;
};
std::string QemuWrites(const std::vector<PeerWrite>& writes);

// Records (done, total) and answers false at call `stopAt` (-1: never).
struct ProgressLog {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> calls;
  int stopAt = -1;
  static bool Record(std::uint32_t done, std::uint32_t total, void* context);
};

}  // namespace qvt::test

#endif
