// The property every filesystem reader must keep: no sector the filesystem
// uses is ever called free. The tests make a volume with the filesystem's
// own tools, place it in a partitioned guest disk, build the map, and check
// it two ways: against the filesystem's own view of its free space, and by
// a trimmed copy (every sector the map calls free zeroed) that the
// filesystem's checker must pass and whose files must read back unchanged.
#ifndef QVT_TESTS_FSMAP_FSPROPERTYKIT_H
#define QVT_TESTS_FSMAP_FSPROPERTYKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "AllocationMapBuild.h"
#include "FsHandlers.h"
#include "FsmapTestKit.h"

namespace qvt::test {

// Copies the volume image file `volumeNative` into the disk at sector
// `first` (the disk file is closed while it is written).
void PlaceVolume(RawDisk* disk, std::uint32_t first, const std::string& volumeNative);

// Builds the map of the disk (asserting success); free it with FreeAllocationMap.
AllocationMap* MapOf(RawDisk* disk);

// The map's bits for sectors [first, first + count), one bool per sector.
std::vector<bool> MapBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count);

// The segment that starts at `first`, or null.
const AllocationSegment* SegmentAt(const AllocationMap* map, std::uint32_t first);

// Writes a copy of the disk file to `outNative` in which every sector the
// map calls free is zero; the number of sectors zeroed.
std::uint64_t WriteTrimmedCopy(RawDisk* disk, const AllocationMap* map, const std::string& outNative);

// Cuts sectors [first, first + count) of the raw file `diskNative` into
// `outNative`, for the filesystem tools that want a bare volume.
void ExtractVolume(const std::string& diskNative, std::uint32_t first, std::uint32_t count,
                   const std::string& outNative);

// Sectors [first, first + count) marked true in `used` that the map calls
// free: the faults the property forbids. Empty when there are none.
std::vector<std::uint32_t> UsedButFree(const std::vector<bool>& used, const std::vector<bool>& map);

// One reader opened directly on the volume [first, first + count) of a
// disk, and its answer for the volume's first `querySectors` sectors.
struct ReaderAnswer {
  DiskResult open;
  std::vector<bool> used;  // per volume sector, when the open succeeded
};
ReaderAnswer AskReader(const FsHandler& handler, RawDisk* disk, std::uint32_t first, std::uint32_t count,
                       std::uint32_t querySectors);

}  // namespace qvt::test

#endif
