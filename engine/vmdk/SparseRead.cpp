// Reading sectors of a sparse extent: allocated grains from the file,
// compressed grains inflated one at a time, the rest from the parent disk.
#include <algorithm>
#include <cstring>

#include "SparseCommon.h"
#include "SparseExtent.h"
#include "SparseGrain.h"
#include "SparseLayout.h"
#include "SparseTables.h"

namespace qvt {
namespace {

// Brings compressed grain `grain`, whose record starts at sector `gte`, into
// the extent's grain buffer.
DiskResult InflateGrain(SparseExtent* e, std::uint64_t grain, std::uint32_t gte) {
  if (e->grainIndex == grain) return DISK_OK;
  e->grainIndex = kNoGrain;
  const std::uint64_t grainBytes = SparseGrainBytes(*e);
  const std::uint64_t recordAt = gte * kSectorBytes;
  std::uint8_t headBytes[kGrainHeadBytes];
  if (!StreamRead(&e->stream, recordAt, kGrainHeadBytes, headBytes)) return DISK_E_READ;
  const SparseGrainHead head = DecodeSparseGrainHead(headBytes);
  // A record of another grain means the GT points at the wrong place, and
  // deflate never needs twice the grain, so a larger size is a damaged head.
  if (head.lba != grain * e->grainSectors || head.size > 2 * grainBytes) return DISK_E_FORMAT;
  if (!StreamRead(&e->stream, recordAt + kGrainHeadBytes, head.size, e->compressedData)) {
    return DISK_E_READ;
  }
  std::uint32_t produced = 0;
  const DiskResult inflated = GrainInflate(e->compressedData, head.size, e->grain,
                                           static_cast<std::uint32_t>(grainBytes), &produced);
  if (inflated != DISK_OK) return inflated;
  // The grain must come out whole, except that a last grain reaching past the
  // extent's end may stop at that end (qemu-img writes it so).
  const std::uint64_t inExtent =
      std::min<std::uint64_t>(grainBytes, (e->sectors - grain * e->grainSectors) * kSectorBytes);
  if (produced < inExtent) return DISK_E_READ;
  std::memset(e->grain + produced, 0, static_cast<std::size_t>(grainBytes - produced));
  e->grainIndex = grain;
  return DISK_OK;
}

}  // namespace

DiskResult SparseRead(SparseExtent* e, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (!SparseBytesFit(*e, offset, length)) return DISK_E_LIMIT;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t grainBytes = SparseGrainBytes(*e);
  while (length > 0) {
    const std::uint64_t grain = offset / grainBytes;
    const std::uint64_t within = offset % grainBytes;
    const auto piece =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(length, grainBytes - within));
    std::uint32_t gte = 0;
    bool hasGt = false;
    const DiskResult looked = SparseLookupGte(e, grain, &gte, &hasGt);
    if (looked != DISK_OK) return looked;
    if (gte == 0) {
      if (e->parent != nullptr) {
        const DiskResult r =
            ImageRead(e->parent, e->firstSector * kSectorBytes + offset, piece, out);
        if (r != DISK_OK) return r;
      } else {
        std::memset(out, 0, piece);
      }
    } else if (e->compressed) {
      const DiskResult r = InflateGrain(e, grain, gte);
      if (r != DISK_OK) return r;
      std::memcpy(out, e->grain + within, piece);
    } else if (!StreamRead(&e->stream, gte * kSectorBytes + within, piece, out)) {
      return DISK_E_READ;
    }
    offset += piece;
    out += piece;
    length -= piece;
  }
  return DISK_OK;
}

}  // namespace qvt
