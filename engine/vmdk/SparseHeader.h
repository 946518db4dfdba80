// The 512-byte header in sector 0 of a sparse VMDK extent.
#ifndef QVT_ENGINE_VMDK_SPARSEHEADER_H
#define QVT_ENGINE_VMDK_SPARSEHEADER_H

#include <cstddef>
#include <cstdint>

namespace qvt {

constexpr std::uint32_t kSparseMagic = 0x564D444B;  // "KDMV" on disk
constexpr std::uint32_t kSparseFlagValidNewline = 0x00000001;
constexpr std::uint32_t kSparseFlagRedundantGt = 0x00000002;
constexpr std::uint32_t kSparseFlagCompressed = 0x00010000;
constexpr std::uint32_t kSparseFlagMarkers = 0x00020000;
constexpr std::uint64_t kGdAtEnd = 0xFFFFFFFFFFFFFFFFull;
constexpr std::uint32_t kGtesPerGt = 512;
constexpr std::size_t kSparseHeaderBytes = 512;
// Bytes 0 to 79 hold every field; an open reads only these.
constexpr std::size_t kSparseHeaderFieldBytes = 80;

// In host order. On disk every field is little-endian at the offset noted.
struct SparseHeader {
  std::uint32_t magicNumber;       // 0
  std::uint32_t version;           // 4
  std::uint32_t flags;             // 8
  std::uint64_t capacity;          // 12, sectors
  std::uint64_t grainSize;         // 20, sectors
  std::uint64_t descriptorOffset;  // 28, sectors
  std::uint64_t descriptorSize;    // 36, sectors
  std::uint32_t numGTEsPerGT;      // 44
  std::uint64_t rgdOffset;         // 48, sector of the redundant GD; 0: none
  std::uint64_t gdOffset;          // 56, sector of the GD; kGdAtEnd: see the footer
  std::uint64_t overHead;          // 64, sectors before the first grain
  std::uint8_t uncleanShutdown;    // 72
  std::uint8_t singleEndLineChar;  // 73, '\n'
  std::uint8_t nonEndLineChar;     // 74, ' '
  std::uint8_t doubleEndLineChar1; // 75, '\r'
  std::uint8_t doubleEndLineChar2; // 76, '\n'
  std::uint16_t compressAlgorithm; // 77, 0 none, 1 deflate
  std::uint8_t padFirstByte;       // 79
};

// Decodes the fields of a header from `bytes` (at least 512 of them); false
// when there are fewer.
bool DecodeSparseHeader(const std::uint8_t* bytes, std::size_t length, SparseHeader* header);

// What an open demands of a header: the magic, version 1 to 3, 512 GTEs per
// GT, a descriptor at sector 1 of 1 to 64 sectors or none at all (offset and
// size 0), a clean shutdown, the four newline-test characters, compression
// 0 or 1 and a zero byte 79.
bool SparseHeaderIsValid(const SparseHeader& header);

// Decodes and checks in one go (the test of "is this a sparse extent").
bool ParseSparseHeader(const std::uint8_t* bytes, std::size_t length, SparseHeader* header);

// Encodes the header into 512 bytes; bytes 80 to 511 are zero.
void EncodeSparseHeader(const SparseHeader& header, std::uint8_t out[kSparseHeaderBytes]);

}  // namespace qvt

#endif
