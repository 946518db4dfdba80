// Helpers of the standalone-copy tests: layouts as the callers fill them,
// a copy from a disk opened by its path, chains of a qemu-made base and
// engine-made children, and what the peers say about the result.
#ifndef QVT_TESTS_ENGINE_VMDK_VMDKCOPYTESTKIT_H
#define QVT_TESTS_ENGINE_VMDK_VMDKCOPYTESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "VmdkCopy.h"

namespace qvt::test {

// A VmdkLayout with its entries; copies keep their own entries.
struct TestLayout {
  VmdkLayout layout{};
  std::vector<VmdkLayoutExtent> entries;

  TestLayout() = default;
  TestLayout(const TestLayout& other) : layout(other.layout), entries(other.entries) { Fix(); }
  TestLayout& operator=(const TestLayout& other) {
    layout = other.layout;
    entries = other.entries;
    Fix();
    return *this;
  }
  void Add(std::uint32_t sectors, const std::string& name = "");
  void Fix() {
    layout.extentCount = static_cast<std::uint32_t>(entries.size());
    layout.entries = entries.empty() ? nullptr : entries.data();
  }
};

// Mode 0: the layout as given; adapter lsilogic, hardware version index 7
// ("10"), no encoding key, extents unnamed.
TestLayout GivenLayout(std::uint32_t split, std::uint32_t kind, bool streamOptimized,
                       const std::vector<std::uint32_t>& sizes);
// A derived mode (1 to 4) with the given adapter and hardware version.
TestLayout DerivedLayout(std::uint32_t mode, std::uint32_t adapter, std::uint32_t hwVersionIndex,
                         bool streamOptimized = false);

// Opens `source` (engine path, its whole chain), copies it to `target` and
// closes it again.
DiskResult CopyDisk(const std::string& source, const std::string& target, const VmdkLayout& layout,
                    const AllocationMap* map = nullptr, ProgressFn progress = nullptr,
                    void* context = nullptr);
// The capacity of the disk at `path` (engine path); 0 when it does not open.
std::uint32_t CapacityOf(const std::string& path);

// Makes the engine's child of the disk at `parent` (both engine paths).
DiskResult MakeChild(const std::string& parent, const std::string& child);

// The descriptor text of a disk file (embedded or whole), native path.
std::string DescriptorOf(const std::string& native);

// Grains held in the disk's own sparse extents (engine path); -1 when it
// does not open or has flat extents.
long long OwnGrains(const std::string& path);
// The disk's 128-sector grains (by index within the whole disk) that its own
// files hold data for; for single-file disks, whose grains line up with the
// disk's.
std::vector<std::uint32_t> OwnGrainSet(const std::string& path);

// The SHA-256 of a file, and of a single-file VMDK's content read through
// libvmdk ("" when that fails).
std::string FileSha(const std::string& native);
std::string PyvmdkSha(const std::string& native, std::string* log);
bool PyvmdkAvailable();

// The bytes of a native file.
std::vector<std::uint8_t> NativeBytes(const std::string& native);

// The grains a copy must hold: per extent (sizes in `extents`, the whole
// raw image when empty), each 128-sector grain counted from the extent's
// first sector that holds a non-zero sector `inUse` marks (every sector
// when it is empty). Their sector ranges within the whole disk.
struct GrainPiece {
  std::uint32_t first;
  std::uint32_t count;
  bool operator==(const GrainPiece& o) const { return first == o.first && count == o.count; }
};
std::vector<GrainPiece> KeptGrains(const std::vector<std::uint8_t>& raw,
                                   const std::vector<bool>& inUse = {},
                                   const std::vector<std::uint32_t>& extents = {});
// `raw` with every sector outside `kept` zeroed: what the copy reads as.
std::vector<std::uint8_t> KeptContent(const std::vector<std::uint8_t>& raw,
                                      const std::vector<GrainPiece>& kept);

}  // namespace qvt::test

#endif
