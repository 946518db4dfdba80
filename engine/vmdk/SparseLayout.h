// Where things lie in a sparse extent: the numbers derived from its size and
// grain size, the header of a new extent, and the small records of
// stream-optimized extents (markers and compressed-grain heads).
#ifndef QVT_ENGINE_VMDK_SPARSELAYOUT_H
#define QVT_ENGINE_VMDK_SPARSELAYOUT_H

#include <cstddef>
#include <cstdint>

#include "SparseHeader.h"

namespace qvt {

// The grain size of every extent this engine writes.
constexpr std::uint32_t kEngineGrainSectors = 128;
// A GT is 512 entries of 4 bytes: 4 sectors.
constexpr std::uint32_t kGtSectors = 4;
constexpr std::uint32_t kGtBytes = kGtesPerGt * 4;
// A GD sector holds 128 entries.
constexpr std::uint32_t kGdEntriesPerSector = 128;
// The largest grain an open accepts: the extent keeps one grain and, for
// compressed extents, twice that for the compressed bytes in memory, so the
// header's grain size must not let a hostile file demand gigabytes.
constexpr std::uint32_t kMaxGrainSectors = 2048;
// The largest descriptor area a header may announce.
constexpr std::uint32_t kMaxDescriptorSectors = 64;
// Stream-optimized extents put their first grain here.
constexpr std::uint64_t kStreamOverHead = 128;

// Sectors covered by one GT.
inline std::uint64_t SparseSectorsPerGt(std::uint32_t grainSectors) {
  return static_cast<std::uint64_t>(grainSectors) * kGtesPerGt;
}
// GTs needed for an extent of `sectors` sectors: ceil(sectors / sectors per GT).
std::uint64_t SparseNumGts(std::uint64_t sectors, std::uint32_t grainSectors);
// Sectors of a GD with `numGts` entries: ceil(numGts / 128).
std::uint64_t SparseGdSectors(std::uint64_t numGts);

// The header of a new extent of `sectors` sectors (at most 2^32 - 1) with an
// embedded descriptor of `descriptorSectors` sectors (0: none). A compressed
// extent that is not stream-optimized keeps the plain layout (both GDs at the
// front) but is flagged compressed, with markers, so that every reader takes
// its grains as records. Capacity is rounded up to whole grains below
// hardware-version index 3.
SparseHeader SparseNewHeader(std::uint32_t sectors, std::uint32_t descriptorSectors,
                             std::uint32_t hwVersionIndex, bool compressed, bool streamOptimized);

// The first 16 bytes of a marker sector of a stream-optimized extent.
constexpr std::size_t kMarkerBytes = 16;
enum SparseMarkerType : std::uint32_t {
  MARKER_EOS = 0,
  MARKER_GT = 1,
  MARKER_GD = 2,
  MARKER_FOOTER = 3,
};
struct SparseMarker {
  std::uint64_t value;  // 0: sectors of the table that follows, or 1 for the footer
  std::uint32_t size;   // 8: always 0 for a marker (a grain record has its size here)
  std::uint32_t type;   // 12
};
SparseMarker DecodeSparseMarker(const std::uint8_t bytes[kMarkerBytes]);
// Encodes the marker into a whole sector (the rest zero).
void EncodeSparseMarker(const SparseMarker& marker, std::uint8_t sector[512]);
bool SparseMarkerIs(const std::uint8_t bytes[kMarkerBytes], std::uint64_t value,
                    std::uint32_t type);

// The head of a compressed grain record; the zlib data follows it.
constexpr std::size_t kGrainHeadBytes = 12;
struct SparseGrainHead {
  std::uint64_t lba;   // 0: the grain's first sector within the extent
  std::uint32_t size;  // 8: bytes of compressed data behind the head
};
SparseGrainHead DecodeSparseGrainHead(const std::uint8_t bytes[kGrainHeadBytes]);
void EncodeSparseGrainHead(const SparseGrainHead& head, std::uint8_t bytes[kGrainHeadBytes]);

}  // namespace qvt

#endif
