// Helpers shared by the ext and XFS reader tests: a reader opened straight
// on an image (without the map around it), a deterministic tree of files
// for the makers to copy in, and the damage loop that flips bytes of a real
// volume's metadata and checks every answer against the undamaged one.
#ifndef QVT_TESTS_FSMAP_READERPROBEKIT_H
#define QVT_TESTS_FSMAP_READERPROBEKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "FsHandlers.h"
#include "FsmapTestKit.h"
#include "ImageHandle.h"

namespace qvt::test {

struct Probe {
  DiskResult open;
  std::vector<bool> bits;  // one per sector of the volume; empty unless opened
};

// Opens `handler` on sectors [first, first + count) of `image`, reads every
// sector's bit and closes it again.
Probe ProbeHandler(const FsHandler& handler, ImageHandle* image, std::uint32_t first, std::uint32_t count);

// Fills `dir` with `files` files (sizes up to `maxBytes`, some empty, some
// a few bytes, spread over nested folders); their paths relative to `dir`.
std::vector<std::string> FillTree(const std::string& dir, std::uint32_t seed, std::uint32_t files,
                                  std::uint32_t maxBytes);

// A per-sector "in use" view from per-block flags: sector s is in use when
// block s / sectorsPerBlock is, and past the last block always.
std::vector<bool> SectorsOfBlocks(const std::vector<bool>& blockInUse, std::uint32_t sectorsPerBlock,
                                  std::uint32_t sectors);

// Bytes of a file (empty when missing) and writing them back.
std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The documented outcomes of a reader's open: success, not this
// filesystem, its bitmap cannot be read, and read codes.
bool IsDocumentedOpenResult(DiskResult r);

// Byte ranges of a disk file (a volume's metadata) for the damage loop.
struct ByteRegion {
  std::uint64_t offset;
  std::uint32_t length;
};

// `rounds` times: changes one byte of one region (a random value or one
// flipped bit), opens `handler` on the volume, and checks that the open
// ends in a documented code and that an accepted volume calls no sector
// free that `inUse` (the undamaged volume's truth) marks in use; the byte
// is put back each time.
void RunByteMutations(RawDisk* disk, const FsHandler& handler, std::uint32_t first, std::uint32_t count,
                      const std::vector<ByteRegion>& regions, const std::vector<bool>& inUse,
                      std::uint32_t rounds, std::uint32_t seed);

// Opens `handler` with allocation failure injected after n = 0, 1, ...
// allocations until it succeeds: every earlier try ends in DISK_E_NOMEM
// (leaks show under the sanitizer build).
void RunAllocationFailures(const FsHandler& handler, ImageHandle* image, std::uint32_t first, std::uint32_t count);

}  // namespace qvt::test

#endif
