// On-disk layout of XFS (the version 4 format, whose free-space B+tree
// blocks carry short headers) as the allocation reader uses it. All fields
// are big-endian.
#ifndef QVT_FSMAP_XFSLAYOUT_H
#define QVT_FSMAP_XFSLAYOUT_H

#include <cstdint>

namespace qvt::xfs {

// Superblock, at the start of the volume and of every allocation group.
constexpr std::uint32_t kSbMagic = 0;        // BE32 "XFSB"
constexpr std::uint32_t kSbBlockSize = 4;    // BE32
constexpr std::uint32_t kSbDataBlocks = 8;   // BE64
constexpr std::uint32_t kSbAgBlocks = 84;    // BE32
constexpr std::uint32_t kSbAgCount = 88;     // BE32
constexpr std::uint32_t kSbVersion = 100;    // BE16, low 4 bits the format version
constexpr std::uint32_t kSbSectorSize = 102; // BE16

constexpr std::uint32_t kSuperMagic = 0x58465342;  // "XFSB"
constexpr std::uint32_t kVersionMask = 0x000F;
constexpr std::uint32_t kLastShortHeaderVersion = 4;  // version 5 has CRC headers

// Free-space header (AGF), in sector 1 of its allocation group.
constexpr std::uint32_t kAgfMagic = 0;      // BE32 "XAGF"
constexpr std::uint32_t kAgfSeqNo = 8;      // BE32, the group's index
constexpr std::uint32_t kAgfLength = 12;    // BE32, blocks in the group
constexpr std::uint32_t kAgfBnoRoot = 16;   // BE32, AG block of the by-block-number tree
constexpr std::uint32_t kAgfCntRoot = 20;   // BE32, AG block of the by-size tree
constexpr std::uint32_t kAgfBnoLevel = 28;  // BE32, levels of the by-block-number tree
constexpr std::uint32_t kAgfCntLevel = 32;  // BE32, levels of the by-size tree
constexpr std::uint32_t kAgfFreeBlocks = 52; // BE32, blocks in the trees' extents

constexpr std::uint32_t kAgfMagicValue = 0x58414746;  // "XAGF"
constexpr std::uint32_t kAgHeaderSectors = 4;         // superblock, AGF, AGI, AGFL

// Short-form B+tree block header.
constexpr std::uint32_t kBtMagic = 0;     // BE32 "ABTB"
constexpr std::uint32_t kBtLevel = 4;     // BE16, 0 = leaf
constexpr std::uint32_t kBtRecords = 6;   // BE16
constexpr std::uint32_t kBtHeaderSize = 16;
constexpr std::uint32_t kBtRecordSize = 8;  // leaf: start block BE32, block count BE32
constexpr std::uint32_t kBtKeySize = 8;     // node key: same shape as a record
constexpr std::uint32_t kBtPtrSize = 4;     // node child: AG block BE32

constexpr std::uint32_t kBnoMagic = 0x41425442;  // "ABTB"
constexpr std::uint32_t kCntMagic = 0x41425443;  // "ABTC"
// XFS never builds a free-space tree this tall (its own limit is 9 levels
// for any tree); a deeper claim is damage.
constexpr std::uint32_t kMaxTreeLevels = 9;

}  // namespace qvt::xfs

#endif
