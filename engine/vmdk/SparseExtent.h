// An open sparse VMDK extent (hosted sparse or stream-optimized): its grain
// directory in memory, one grain table cached, reads that fall through to the
// parent disk where this extent has no grain, grain-allocating writes, the
// emptiness queries the copies and merges ask, and the writer that makes a
// whole new extent from a source in one pass.
#ifndef QVT_ENGINE_VMDK_SPARSEEXTENT_H
#define QVT_ENGINE_VMDK_SPARSEEXTENT_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "FileStream.h"
#include "ImageHandle.h"
#include "Progress.h"
#include "SparseHeader.h"
#include "SparseSource.h"
#include "TextEncoding.h"

namespace qvt {

// Opens an extent's file as a stream: 0 opened, 1 stopped by the user, any
// other value failed. The plain open below, or a merge's preallocated open.
using ExtentOpenFn = int (*)(void* context, const char* path, bool readOnly, FileStream* out);

// FsOpen as an ExtentOpenFn; the context is not used.
int ExtentOpenPlain(void* context, const char* path, bool readOnly, FileStream* out);

// Provided by the allocation map (the filesystem readers): one bit per sector
// of [first, first + count) of the whole disk, sector first + i in bit
// (i % 8) of bits[i / 8], 1 when a filesystem uses the sector. `bits` holds
// at least (count + 7) / 8 bytes.
DiskResult AllocationMapGetBits(const AllocationMap* map, std::uint32_t first, std::uint32_t count,
                                std::uint8_t* bits);

constexpr std::uint32_t kNoGt = 0xFFFFFFFFu;
constexpr std::uint64_t kNoGrain = UINT64_MAX;

// A closed extent is all zero and null; SparseOpen fills it, SparseClose
// empties it again. Not copyable: it owns its stream and buffers.
struct SparseExtent {
  FileStream stream{};
  SparseHeader header{};      // as read from sector 0, in host order
  std::uint64_t sectors = 0;  // the extent's size, from the descriptor
  std::uint32_t grainSectors = 0;
  bool compressed = false;  // flags bit 0x10000: grains are zlib records
  std::uint32_t numGts = 0;
  std::uint64_t gdOffset = 0;     // where the GD was found (the footer's for stream-optimized)
  std::uint32_t* gd = nullptr;    // numGts entries
  std::uint32_t* rgd = nullptr;   // numGts entries; null without a redundant GD
  std::uint32_t* gt = nullptr;    // 512 entries, checked (and reconciled)
  std::uint32_t* rgt = nullptr;   // 512 entries; null without a redundant GD
  std::uint32_t gtIndex = kNoGt;  // the GT held in gt
  bool readOnly = true;
  // The file's size in sectors: the bound for GTEs. It grows with every grain
  // a write appends, so it stays the file's real end.
  std::uint64_t fileSectors = 0;
  // Where the next grain goes; 0 when the extent cannot take grains
  // (read-only or compressed).
  std::uint64_t nextFree = 0;
  ImageHandle* parent = nullptr;           // not owned; null: unallocated grains read as zeros
  std::uint64_t firstSector = 0;           // the extent's first sector within the whole disk
  std::uint8_t* compressedData = nullptr;  // 2 grains, compressed extents only
  std::uint8_t* grain = nullptr;        // one grain: the inflated grain, or a writer's work grain
  std::uint64_t grainIndex = kNoGrain;  // which grain `grain` holds inflated
  PathBuffer path;

  SparseExtent() = default;
  SparseExtent(const SparseExtent&) = delete;
  SparseExtent& operator=(const SparseExtent&) = delete;
};

// Opens a sparse extent of `sectors` sectors (the descriptor's extent size)
// whose first sector within the disk is `firstSector`; the two together stay
// below 2^32 (else DISK_E_LIMIT). `splitLayout`: the disk has a separate
// descriptor. `extent` must be closed (as constructed, or after SparseClose).
// Reports (done, numGts) to `progress` while the GTs load (writable opens
// load them all); a false answer stops with DISK_CANCELLED. A writable,
// uncompressed extent must end exactly behind its last grain (DISK_E_FORMAT
// otherwise). On any failure the extent is left closed.
DiskResult SparseOpen(SparseExtent* extent, ExtentOpenFn open, void* openContext, const char* path,
                      bool readOnly, bool splitLayout, ImageHandle* parent,
                      std::uint64_t firstSector, std::uint64_t sectors, ProgressFn progress,
                      void* progressContext);

// Closes the stream and frees every buffer; the extent is closed afterwards
// (closing a closed extent does nothing).
void SparseClose(SparseExtent* extent);

// Reads bytes at `offset` within the extent; a range beyond it is DISK_E_LIMIT.
DiskResult SparseRead(SparseExtent* extent, std::uint64_t offset, std::uint32_t length,
                      void* buffer);

// Writes bytes at `offset` within a writable, uncompressed extent, allocating
// grains at the file's end (both GT copies updated). DISK_E_LIMIT for
// compressed or read-only extents and ranges beyond the extent;
// DISK_E_UNSUPPORTED where the extent has no GT to hold a new grain.
DiskResult SparseWrite(SparseExtent* extent, std::uint64_t offset, std::uint32_t length,
                       const void* data);

// True when no sector of [first, first + count) (sectors within the extent)
// holds data in the whole chain: unallocated parts ask the parent, compressed
// grains count as data, allocated grains are read and are empty when all
// zero (with a map: when every sector the map marks in use is zero).
DiskResult SparseIsEmpty(SparseExtent* extent, const AllocationMap* map, std::uint64_t first,
                         std::uint32_t count, bool* empty);

// True when no grain of this extent's own file covers any sector of the range.
DiskResult SparseIsUnallocated(SparseExtent* extent, std::uint64_t first, std::uint32_t count,
                               bool* unallocated);

// What the whole-extent writer makes.
struct SparseWriteRequest {
  const AllocationMap* map = nullptr;  // asked by the emptiness questions (may be null)
  // Embedded descriptor: null for none; else its text, which must fit
  // `descriptorSectors` (1 to 64) sectors.
  const TextView* descriptor = nullptr;
  std::uint32_t descriptorSectors = 0;
  std::uint32_t hwVersionIndex = 0;
  std::uint32_t firstSourceSector = 0;  // where the extent starts within the source
  std::uint32_t sectors = 0;            // the extent's size
  // Copy only what the source holds in its own files (ImageIsRangeAbsent)
  // rather than all that is not empty in its chain.
  bool ownAllocationOnly = false;
  bool compressed = false;
  bool streamOptimized = false;  // needs compressed
  // Threads that deflate compressed grains, the calling thread included (it
  // reads the source and writes the records in order): 0 one per processor
  // (at most 8), 1 the calling thread alone, grain by grain. The file is the
  // same either way.
  std::uint32_t deflateThreads = 0;
  ProgressFn progress = nullptr;
  void* progressContext = nullptr;
  std::uint32_t progressTotal = 0;  // sectors of the whole disk
};

// Creates a complete new sparse extent file at `path` from the source's
// sectors [firstSourceSector, firstSourceSector + sectors). Reports (sector
// reached in the whole disk, progressTotal) after each written grain and each
// GT range; a false answer stops with DISK_CANCELLED and leaves the partial
// file for the caller to delete. The calling thread makes every read of the
// source, every write and every report; only deflating is shared out.
DiskResult SparseWriteExtent(const char* path, ImageHandle* source,
                             const SparseWriteRequest& request);
// The same from any source (the image form above wraps ImageExtentSource).
DiskResult SparseWriteExtentFrom(const char* path, const ExtentSource& source,
                                 const SparseWriteRequest& request);

}  // namespace qvt

#endif
