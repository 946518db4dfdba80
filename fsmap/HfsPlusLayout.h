// HFS Plus and HFSX on-disk structures the allocation reader uses. All
// fields are big-endian.
#ifndef QVT_FSMAP_HFSPLUSLAYOUT_H
#define QVT_FSMAP_HFSPLUSLAYOUT_H

#include <cstddef>
#include <cstdint>

namespace qvt {

// Volume header, 512 bytes at volume byte 1024.
namespace hfsvh {
constexpr std::uint64_t kOffset = 1024;
constexpr std::size_t kSize = 512;
constexpr std::size_t kSignature = 0;    // 2: "H+" or "HX"
constexpr std::size_t kBlockSize = 40;   // 4
constexpr std::size_t kTotalBlocks = 44;  // 4
constexpr std::size_t kAllocationFork = 112;  // fork data
constexpr std::size_t kExtentsFork = 192;     // fork data
constexpr std::uint16_t kHfsPlus = 0x482B;
constexpr std::uint16_t kHfsx = 0x4858;
}  // namespace hfsvh

// Fork data, 80 bytes: logical size (8), clump size (4), total blocks (4),
// then eight extent descriptors {first block (4), block count (4)}.
namespace hfsfork {
constexpr std::size_t kTotalBlocks = 12;
constexpr std::size_t kExtents = 16;
constexpr std::size_t kExtentCount = 8;
constexpr std::size_t kExtentSize = 8;
}  // namespace hfsfork

// B-tree node descriptor (14 bytes at the node start) and header record.
namespace hfsnode {
constexpr std::size_t kForwardLink = 0;   // 4
constexpr std::size_t kBackwardLink = 4;  // 4
constexpr std::size_t kKind = 8;          // 1, signed
constexpr std::size_t kRecordCount = 10;  // 2
constexpr std::size_t kDescriptorSize = 14;
constexpr std::int8_t kLeaf = -1;
constexpr std::int8_t kIndex = 0;
constexpr std::int8_t kHeader = 1;
}  // namespace hfsnode

namespace hfsheader {  // offsets within the header node
constexpr std::size_t kDepth = 14;          // 2
constexpr std::size_t kRoot = 16;           // 4
constexpr std::size_t kLeafRecords = 20;    // 4
constexpr std::size_t kFirstLeaf = 24;      // 4
constexpr std::size_t kLastLeaf = 28;       // 4
constexpr std::size_t kNodeSize = 32;       // 2
constexpr std::size_t kMaxKeyLength = 34;   // 2
constexpr std::size_t kTotalNodes = 36;     // 4
constexpr std::size_t kEnd = 14 + 106;
}  // namespace hfsheader

// Extents overflow key: key length (2, value 10), fork type (1), pad (1),
// file identifier (4), first file block (4); a leaf record follows it with
// eight extent descriptors, an index record with a child node number.
namespace hfsextkey {
constexpr std::size_t kLength = 0;
constexpr std::size_t kForkType = 2;
constexpr std::size_t kFileId = 4;
constexpr std::size_t kStartBlock = 8;
constexpr std::uint16_t kKeyLength = 10;
constexpr std::size_t kSize = 12;  // with its length field
}  // namespace hfsextkey

constexpr std::uint32_t kHfsAllocationFileId = 6;
constexpr std::uint8_t kHfsDataFork = 0;

}  // namespace qvt

#endif
