// On-disk layout of ext2/ext3/ext4 as the allocation reader uses it: byte
// offsets into the superblock and the group descriptor, all little-endian.
#ifndef QVT_FSMAP_EXTLAYOUT_H
#define QVT_FSMAP_EXTLAYOUT_H

#include <cstdint>

namespace qvt::ext {

constexpr std::uint64_t kSuperblockOffset = 1024;  // volume byte
constexpr std::uint32_t kSuperblockSize = 1024;

// Superblock fields.
constexpr std::uint32_t kSbInodesPerGroup = 40;     // LE32
constexpr std::uint32_t kSbBlocksCountLo = 4;       // LE32
constexpr std::uint32_t kSbFirstDataBlock = 20;     // LE32
constexpr std::uint32_t kSbLogBlockSize = 24;       // LE32
constexpr std::uint32_t kSbBlocksPerGroup = 32;     // LE32
constexpr std::uint32_t kSbMagic = 56;              // LE16
constexpr std::uint32_t kSbRevLevel = 76;           // LE32
constexpr std::uint32_t kSbInodeSize = 88;          // LE16, revision 1 on
constexpr std::uint32_t kSbFeatureCompat = 92;      // LE32
constexpr std::uint32_t kSbFeatureIncompat = 96;    // LE32
constexpr std::uint32_t kSbFeatureRoCompat = 100;   // LE32
constexpr std::uint32_t kSbReservedGdtBlocks = 206; // LE16
constexpr std::uint32_t kSbDescSize = 254;          // LE16
constexpr std::uint32_t kSbFirstMetaBg = 260;       // LE32
constexpr std::uint32_t kSbBlocksCountHi = 336;     // LE32
constexpr std::uint32_t kSbBackupBgs = 588;         // 2 x LE32 (sparse_super2)

constexpr std::uint16_t kMagic = 0xEF53;

constexpr std::uint32_t kCompatSparseSuper2 = 0x0200;
constexpr std::uint32_t kIncompatRecover = 0x0004;
constexpr std::uint32_t kIncompatJournalDev = 0x0008;
constexpr std::uint32_t kIncompatMetaBg = 0x0010;
constexpr std::uint32_t kIncompat64Bit = 0x0080;
constexpr std::uint32_t kIncompatFlexBg = 0x0200;
constexpr std::uint32_t kRoCompatSparseSuper = 0x0001;
constexpr std::uint32_t kRoCompatGdtCsum = 0x0010;
constexpr std::uint32_t kRoCompatBigalloc = 0x0200;
constexpr std::uint32_t kRoCompatMetadataCsum = 0x0400;

// Group descriptor fields (the first 32 bytes; the high halves only in
// descriptors larger than 32 bytes).
constexpr std::uint32_t kGdBlockBitmapLo = 0;   // LE32
constexpr std::uint32_t kGdInodeBitmapLo = 4;   // LE32
constexpr std::uint32_t kGdInodeTableLo = 8;    // LE32
constexpr std::uint32_t kGdFreeBlocksLo = 12;   // LE16
constexpr std::uint32_t kGdFlags = 18;          // LE16
constexpr std::uint32_t kGdBlockBitmapHi = 32;  // LE32
constexpr std::uint32_t kGdFreeBlocksHi = 44;   // LE16

constexpr std::uint16_t kGdFlagBlockUninit = 0x0002;

constexpr std::uint32_t kSmallDescSize = 32;

}  // namespace qvt::ext

#endif
