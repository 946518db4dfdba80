// Guest disks for the allocation-map tests: raw sector files in a temporary
// folder, opened as engine images through their ".ndi" side file, so that
// the peer tools (sfdisk, sgdisk, mkfs, lvm2) can write them in place; and
// the shell runner that calls those tools.
#ifndef QVT_TESTS_FSMAP_FSMAPTESTKIT_H
#define QVT_TESTS_FSMAP_FSMAPTESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "ImageHandle.h"
#include "TempFolder.h"
#include "VolumeRecord.h"

namespace qvt::test {

class RawDisk {
 public:
  // A zero-filled disk of `sectors` sectors named `name` (".img").
  RawDisk(const TempFolder& folder, const std::wstring& name, std::uint32_t sectors);
  ~RawDisk();
  RawDisk(const RawDisk&) = delete;
  RawDisk& operator=(const RawDisk&) = delete;

  // Native path, for the peer tools.
  std::string NativePath() const;
  std::string EnginePath() const;
  std::uint32_t Sectors() const { return sectors_; }

  // Byte patches of the closed file.
  void Put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
  void PutLE32(std::uint64_t offset, std::uint32_t value);
  void PutLE64(std::uint64_t offset, std::uint64_t value);
  void PutByte(std::uint64_t offset, std::uint8_t value);
  // An MBR-style entry (type, first sector, count) at entry `index` of the
  // table in sector `sector`, and the table's 0x55 0xAA signature.
  void PutEntry(std::uint64_t sector, int index, std::uint8_t type, std::uint32_t first,
                std::uint32_t count);

  // Opens the disk read-only (closing any earlier handle).
  ImageHandle* Open();
  void Close();

 private:
  const TempFolder& folder_;
  std::wstring name_;
  std::uint32_t sectors_;
  ImageHandle image_ = NoImage();
};

// Whether a peer tool is on the PATH (never under Windows).
bool HaveTool(const std::string& tool);
// Runs a shell command; its exit status. Its output goes into `output`.
int Shell(const std::string& command, std::string* output = nullptr);
std::string ShellQuote(const std::string& text);

// A found volume as (first sector, sector count, type).
struct FoundVolume {
  std::uint32_t first;
  std::uint32_t count;
  std::uint8_t type;
  bool operator==(const FoundVolume& o) const {
    return first == o.first && count == o.count && type == o.type;
  }
};
// The volumes DiscoverVolumes finds on `image`, in the order found.
DiskResult Discover(ImageHandle* image, std::vector<FoundVolume>* found);

}  // namespace qvt::test

#endif
