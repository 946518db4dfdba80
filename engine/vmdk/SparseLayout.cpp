#include "SparseLayout.h"

#include <cstring>

#include "ByteOrder.h"

namespace qvt {
namespace {

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

}  // namespace

std::uint64_t SparseNumGts(std::uint64_t sectors, std::uint32_t grainSectors) {
  return CeilDiv(sectors, SparseSectorsPerGt(grainSectors));
}

std::uint64_t SparseGdSectors(std::uint64_t numGts) { return CeilDiv(numGts, kGdEntriesPerSector); }

SparseHeader SparseNewHeader(std::uint32_t sectors, std::uint32_t descriptorSectors,
                             std::uint32_t hwVersionIndex, bool compressed, bool streamOptimized) {
  const std::uint64_t numGts = SparseNumGts(sectors, kEngineGrainSectors);
  const std::uint64_t gdSectors = SparseGdSectors(numGts);
  const std::uint64_t tableSectors = gdSectors + kGtSectors * numGts;

  SparseHeader h{};
  h.magicNumber = kSparseMagic;
  h.version = streamOptimized ? 3 : 1;
  if (streamOptimized) {
    h.flags = kSparseFlagValidNewline | kSparseFlagCompressed | kSparseFlagMarkers;
  } else if (compressed) {
    h.flags = kSparseFlagValidNewline | kSparseFlagRedundantGt | kSparseFlagCompressed |
              kSparseFlagMarkers;
  } else {
    h.flags = kSparseFlagValidNewline | kSparseFlagRedundantGt;
  }
  h.capacity = sectors;
  if (hwVersionIndex < 3) h.capacity = CeilDiv(sectors, kEngineGrainSectors) * kEngineGrainSectors;
  h.grainSize = kEngineGrainSectors;
  h.descriptorOffset = descriptorSectors != 0 ? 1 : 0;
  h.descriptorSize = descriptorSectors;
  h.numGTEsPerGT = kGtesPerGt;
  if (streamOptimized) {
    h.rgdOffset = 0;
    h.gdOffset = kGdAtEnd;
    h.overHead = kStreamOverHead;
  } else {
    h.rgdOffset = 1 + static_cast<std::uint64_t>(descriptorSectors);
    h.gdOffset = h.rgdOffset + tableSectors;
    h.overHead = CeilDiv(h.gdOffset + tableSectors, kEngineGrainSectors) * kEngineGrainSectors;
  }
  h.uncleanShutdown = 0;
  h.singleEndLineChar = 0x0A;
  h.nonEndLineChar = 0x20;
  h.doubleEndLineChar1 = 0x0D;
  h.doubleEndLineChar2 = 0x0A;
  h.compressAlgorithm = compressed || streamOptimized ? 1 : 0;
  h.padFirstByte = 0;
  return h;
}

SparseMarker DecodeSparseMarker(const std::uint8_t bytes[kMarkerBytes]) {
  return SparseMarker{ReadLE64(bytes + 0), ReadLE32(bytes + 8), ReadLE32(bytes + 12)};
}

void EncodeSparseMarker(const SparseMarker& marker, std::uint8_t sector[512]) {
  std::memset(sector, 0, 512);
  WriteLE64(sector + 0, marker.value);
  WriteLE32(sector + 8, marker.size);
  WriteLE32(sector + 12, marker.type);
}

bool SparseMarkerIs(const std::uint8_t bytes[kMarkerBytes], std::uint64_t value,
                    std::uint32_t type) {
  const SparseMarker m = DecodeSparseMarker(bytes);
  return m.value == value && m.size == 0 && m.type == type;
}

SparseGrainHead DecodeSparseGrainHead(const std::uint8_t bytes[kGrainHeadBytes]) {
  return SparseGrainHead{ReadLE64(bytes + 0), ReadLE32(bytes + 8)};
}

void EncodeSparseGrainHead(const SparseGrainHead& head, std::uint8_t bytes[kGrainHeadBytes]) {
  WriteLE64(bytes + 0, head.lba);
  WriteLE32(bytes + 8, head.size);
}

}  // namespace qvt
