// The allocation file's extents beyond the eight in the volume header, from
// the extents overflow B-tree: a descent from the root to the leaf record
// for {data fork, file 6, blocks found so far}, then a walk along the leaves.
// Every node number, record offset and key length is checked against the
// tree's header before use; the descent is bounded by the tree's depth and
// the walk by its node count, so a looping tree ends in a rejection.
#include "ByteOrder.h"
#include "Heap.h"
#include "HfsPlusFork.h"
#include "HfsPlusLayout.h"

namespace qvt {
namespace {

constexpr std::uint32_t kMaxDepth = 16;

struct ExtentKey {
  std::uint8_t forkType;
  std::uint32_t fileId;
  std::uint32_t startBlock;
};

int Compare(const ExtentKey& a, const ExtentKey& b) {
  if (a.forkType != b.forkType) return a.forkType < b.forkType ? -1 : 1;
  if (a.fileId != b.fileId) return a.fileId < b.fileId ? -1 : 1;
  if (a.startBlock != b.startBlock) return a.startBlock < b.startBlock ? -1 : 1;
  return 0;
}

struct Tree {
  const HfsVolume* volume;
  const HfsExtent* extents;  // of the extents overflow file
  std::uint32_t nodeSize;
  std::uint32_t maxKeyLength;
  std::uint32_t totalNodes;
  std::uint32_t depth;
  std::uint32_t root;
  std::uint8_t* node;  // nodeSize bytes
  std::uint32_t records;
};

DiskResult ReadHeader(const HfsVolume& v, const HfsExtent* extents, Tree* t) {
  std::uint8_t h[512];
  const DiskResult r = ReadForkBytes(v, extents, 8, 0, sizeof h, h);
  if (r == DISK_E_LIMIT) return DISK_E_FORMAT;
  if (r != DISK_OK) return r;
  const std::uint32_t nodeSize = ReadBE16(h + hfsheader::kNodeSize);
  const bool ok = static_cast<std::int8_t>(h[hfsnode::kKind]) == hfsnode::kHeader &&
                  ReadBE32(h + hfsnode::kBackwardLink) == 0 && ReadBE16(h + hfsnode::kRecordCount) == 3 &&
                  ReadBE32(h + hfsheader::kRoot) != 0 && ReadBE32(h + hfsheader::kLeafRecords) != 0 &&
                  ReadBE32(h + hfsheader::kFirstLeaf) != 0 && ReadBE32(h + hfsheader::kLastLeaf) != 0 &&
                  ReadBE32(h + hfsheader::kTotalNodes) != 0 && nodeSize >= 512 && nodeSize <= 32768 &&
                  (nodeSize & (nodeSize - 1)) == 0 && ReadBE16(h + hfsheader::kMaxKeyLength) < 13;
  if (!ok) return DISK_E_FORMAT;
  t->nodeSize = nodeSize;
  t->maxKeyLength = ReadBE16(h + hfsheader::kMaxKeyLength);
  t->totalNodes = ReadBE32(h + hfsheader::kTotalNodes);
  t->depth = ReadBE16(h + hfsheader::kDepth);
  t->root = ReadBE32(h + hfsheader::kRoot);
  return t->depth == 0 || t->depth > kMaxDepth ? DISK_E_FORMAT : DISK_OK;
}

// Reads node `n`; its kind in *kind.
DiskResult ReadNode(Tree* t, std::uint32_t n, std::int8_t* kind) {
  if (n == 0 || n >= t->totalNodes) return DISK_E_FORMAT;
  const DiskResult r =
      ReadForkBytes(*t->volume, t->extents, 8, static_cast<std::uint64_t>(n) * t->nodeSize, t->nodeSize, t->node);
  if (r == DISK_E_LIMIT) return DISK_E_FORMAT;
  if (r != DISK_OK) return r;
  *kind = static_cast<std::int8_t>(t->node[hfsnode::kKind]);
  t->records = ReadBE16(t->node + hfsnode::kRecordCount);
  if (hfsnode::kDescriptorSize + 2ull * (t->records + 1) > t->nodeSize) return DISK_E_FORMAT;
  return *kind == hfsnode::kLeaf || *kind == hfsnode::kIndex ? DISK_OK : DISK_E_FORMAT;
}

// Record `i` of the loaded node: its key, and where its data begins, which
// must leave `dataSize` bytes before the record offsets at the node's end.
DiskResult RecordAt(const Tree& t, std::uint32_t i, std::uint32_t dataSize, ExtentKey* key, const std::uint8_t** data) {
  const std::uint32_t offsets = t.nodeSize - 2 * (t.records + 1);
  const std::uint32_t at = ReadBE16(t.node + t.nodeSize - 2 * (i + 1));
  if (at < hfsnode::kDescriptorSize || at + 2u > offsets) return DISK_E_FORMAT;
  const std::uint8_t* p = t.node + at;
  const std::uint32_t keyLength = ReadBE16(p + hfsextkey::kLength);
  if (keyLength < hfsextkey::kKeyLength || keyLength > t.maxKeyLength || at + 2u + keyLength + dataSize > offsets) {
    return DISK_E_FORMAT;
  }
  *key = ExtentKey{p[hfsextkey::kForkType], ReadBE32(p + hfsextkey::kFileId), ReadBE32(p + hfsextkey::kStartBlock)};
  *data = p + 2 + keyLength;
  return DISK_OK;
}

// From the root down to the leaf holding `wanted`; the record's index.
DiskResult Descend(Tree* t, const ExtentKey& wanted, std::uint32_t* record) {
  std::uint32_t n = t->root;
  for (std::uint32_t level = 0; level < t->depth; ++level) {
    std::int8_t kind = 0;
    DiskResult r = ReadNode(t, n, &kind);
    if (r != DISK_OK) return r;
    bool found = false;
    std::uint32_t child = 0;
    for (std::uint32_t i = 0; i < t->records; ++i) {
      ExtentKey key{};
      const std::uint8_t* data = nullptr;
      r = RecordAt(*t, i, kind == hfsnode::kLeaf ? 64 : 4, &key, &data);
      if (r != DISK_OK) return r;
      const int c = Compare(key, wanted);
      if (kind == hfsnode::kLeaf && c == 0) {
        *record = i;
        return DISK_OK;
      }
      if (kind == hfsnode::kIndex && c <= 0) {
        found = true;
        child = ReadBE32(data);
      }
    }
    if (kind == hfsnode::kLeaf || !found) return DISK_E_FORMAT;
    n = child;
  }
  return DISK_E_FORMAT;  // deeper than the tree says it is
}

}  // namespace

DiskResult WalkAllocationOverflow(const HfsVolume& v, const HfsExtent treeExtents[8], std::uint64_t found,
                                  std::uint64_t total, HfsExtentSink sink, void* context) {
  Tree t{&v, treeExtents, 0, 0, 0, 0, 0, nullptr, 0};
  DiskResult r = ReadHeader(v, treeExtents, &t);
  if (r != DISK_OK) return r;
  HeapBlock node(t.nodeSize);
  if (!node) return DISK_E_NOMEM;
  t.node = static_cast<std::uint8_t*>(node.get());
  std::uint32_t record = 0;
  r = Descend(&t, ExtentKey{kHfsDataFork, kHfsAllocationFileId, static_cast<std::uint32_t>(found)}, &record);
  if (r != DISK_OK) return r;
  for (std::uint32_t visited = 0;; ++visited) {
    for (; record < t.records; ++record) {
      ExtentKey key{};
      const std::uint8_t* data = nullptr;
      r = RecordAt(t, record, 64, &key, &data);
      if (r != DISK_OK) return r;
      if (Compare(key, ExtentKey{kHfsDataFork, kHfsAllocationFileId, static_cast<std::uint32_t>(found)}) != 0) {
        return DISK_E_FORMAT;
      }
      for (std::size_t i = 0; i < hfsfork::kExtentCount; ++i) {
        const HfsExtent e{ReadBE32(data + i * 8), ReadBE32(data + i * 8 + 4)};
        if (e.blockCount == 0) continue;
        if (static_cast<std::uint64_t>(e.firstBlock) + e.blockCount > v.totalBlocks) return DISK_E_FORMAT;
        found += e.blockCount;
        if (found > total) return DISK_E_FORMAT;
        r = sink(context, e);
        if (r != DISK_OK) return r;
        if (found == total) return DISK_OK;
      }
    }
    const std::uint32_t next = ReadBE32(t.node + hfsnode::kForwardLink);
    if (visited >= t.totalNodes) return DISK_E_FORMAT;
    std::int8_t kind = 0;
    r = ReadNode(&t, next, &kind);
    if (r != DISK_OK) return r;
    if (kind != hfsnode::kLeaf) return DISK_E_FORMAT;
    record = 0;
  }
}

}  // namespace qvt
