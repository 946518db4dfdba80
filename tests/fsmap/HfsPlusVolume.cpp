#include "HfsPlusVolume.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kRootParent = 1, kRootFolder = 2, kExtentsFile = 3, kCatalogFile = 4, kAllocationFile = 6;
constexpr std::uint32_t kDocsFolder = 16, kFirstFile = 17;
constexpr std::uint32_t kExtentsNode = 4096, kCatalogNode = 8192, kTreeNodes = 4;
constexpr std::uint32_t kDate = 0xE0000000u;  // some day in 2023, Mac epoch
const char kVolumeName[] = "qvttest";

// Allocation blocks, handed out in order.
struct Blocks {
  std::vector<bool>* used;
  std::uint32_t next;
  bool Take(std::uint32_t count, std::uint32_t* first) {
    if (next + static_cast<std::uint64_t>(count) > used->size()) return false;
    *first = next;
    for (std::uint32_t i = 0; i < count; ++i) (*used)[next + i] = true;
    next += count;
    return true;
  }
};

struct Extent {
  std::uint32_t first, count;
};

void PutFork(std::uint8_t* p, std::uint64_t logical, const std::vector<Extent>& extents, std::uint32_t clump) {
  std::uint32_t total = 0;
  for (const Extent& e : extents) total += e.count;
  WriteBE64(p, logical);
  WriteBE32(p + 8, clump);
  WriteBE32(p + 12, total);
  for (std::size_t i = 0; i < extents.size() && i < 8; ++i) {
    WriteBE32(p + 16 + i * 8, extents[i].first);
    WriteBE32(p + 20 + i * 8, extents[i].count);
  }
}

std::vector<std::uint8_t> UniStr(const std::string& name) {
  std::vector<std::uint8_t> s(2 + 2 * name.size());
  WriteBE16(s.data(), static_cast<std::uint16_t>(name.size()));
  for (std::size_t i = 0; i < name.size(); ++i) WriteBE16(&s[2 + 2 * i], static_cast<std::uint8_t>(name[i]));
  return s;
}

struct Record {
  std::uint32_t parent;
  std::string name;
  std::vector<std::uint8_t> bytes;  // key and data
};

Record CatalogRecord(std::uint32_t parent, const std::string& name, const std::vector<std::uint8_t>& data) {
  const std::vector<std::uint8_t> n = UniStr(name);
  std::vector<std::uint8_t> b(2 + 4);
  WriteBE16(b.data(), static_cast<std::uint16_t>(4 + n.size()));
  WriteBE32(&b[2], parent);
  b.insert(b.end(), n.begin(), n.end());
  b.insert(b.end(), data.begin(), data.end());
  if (b.size() % 2 != 0) b.push_back(0);
  return Record{parent, name, b};
}

void PutDatesAndMode(std::uint8_t* r, std::uint16_t mode) {
  for (int i = 0; i < 5; ++i) WriteBE32(r + 12 + 4 * i, kDate);
  WriteBE16(r + 32 + 10, mode);  // HFSPlusBSDInfo.fileMode
}

std::vector<std::uint8_t> FolderData(std::uint32_t id, std::uint32_t valence) {
  std::vector<std::uint8_t> r(88, 0);
  WriteBE16(&r[0], 1);
  WriteBE32(&r[4], valence);
  WriteBE32(&r[8], id);
  PutDatesAndMode(r.data(), 040755);
  return r;
}

std::vector<std::uint8_t> FileData(std::uint32_t id, std::uint64_t size, const std::vector<Extent>& extents,
                                   std::uint32_t blockSize) {
  std::vector<std::uint8_t> r(248, 0);
  WriteBE16(&r[0], 2);
  WriteBE16(&r[2], 0x0002);  // thread exists
  WriteBE32(&r[8], id);
  PutDatesAndMode(r.data(), 0100644);
  PutFork(&r[88], size, extents, blockSize);
  return r;
}

std::vector<std::uint8_t> ThreadData(std::uint16_t type, std::uint32_t parent, const std::string& name) {
  std::vector<std::uint8_t> r(8, 0);
  WriteBE16(&r[0], type);
  WriteBE32(&r[4], parent);
  const std::vector<std::uint8_t> n = UniStr(name);
  r.insert(r.end(), n.begin(), n.end());
  return r;
}

// Header node of a B-tree: descriptor, header record, user data record,
// and the map record with the used nodes' bits.
void PutHeaderNode(std::uint8_t* node, std::uint32_t nodeSize, std::uint16_t depth, std::uint32_t root,
                   std::uint32_t leafRecords, std::uint32_t leaf, std::uint16_t maxKey, std::uint32_t usedNodes,
                   std::uint32_t clump, std::uint8_t compareType, std::uint32_t attributes) {
  node[8] = 1;
  WriteBE16(node + 10, 3);
  std::uint8_t* h = node + 14;
  WriteBE16(h + 0, depth);
  WriteBE32(h + 2, root);
  WriteBE32(h + 6, leafRecords);
  WriteBE32(h + 10, leaf);
  WriteBE32(h + 14, leaf);
  WriteBE16(h + 18, static_cast<std::uint16_t>(nodeSize));
  WriteBE16(h + 20, maxKey);
  WriteBE32(h + 22, kTreeNodes);
  WriteBE32(h + 26, kTreeNodes - usedNodes);
  WriteBE32(h + 32, clump);
  h[37] = compareType;
  WriteBE32(h + 38, attributes);
  for (std::uint32_t n = 0; n < usedNodes; ++n) node[248 + n / 8] |= static_cast<std::uint8_t>(0x80 >> (n % 8));
  WriteBE16(node + nodeSize - 2, 14);
  WriteBE16(node + nodeSize - 4, 14 + 106);
  WriteBE16(node + nodeSize - 6, 14 + 106 + 128);
  WriteBE16(node + nodeSize - 8, static_cast<std::uint16_t>(nodeSize - 8));
}

bool PutLeafNode(std::uint8_t* node, std::uint32_t nodeSize, const std::vector<Record>& records) {
  node[8] = 0xFF;
  node[9] = 1;
  WriteBE16(node + 10, static_cast<std::uint16_t>(records.size()));
  std::uint32_t at = 14;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (at + records[i].bytes.size() + 2 * (records.size() + 1) > nodeSize) return false;
    std::memcpy(node + at, records[i].bytes.data(), records[i].bytes.size());
    WriteBE16(node + nodeSize - 2 * (i + 1), static_cast<std::uint16_t>(at));
    at += static_cast<std::uint32_t>(records[i].bytes.size());
  }
  WriteBE16(node + nodeSize - 2 * (records.size() + 1), static_cast<std::uint16_t>(at));
  return true;
}

struct Builder {
  const HfsPlusRecipe& recipe;
  HfsPlusVolume* out;
  Blocks blocks;
  std::vector<Extent> allocation, extentsFile, catalogFile;

  std::uint8_t* At(std::uint32_t block) { return out->bytes.data() + static_cast<std::uint64_t>(block) * recipe.blockSize; }

  bool PlaceAllocation() {
    const std::uint32_t bytes = (recipe.totalBlocks + 7) / 8;
    std::uint32_t count = (bytes + recipe.blockSize - 1) / recipe.blockSize;
    const std::uint32_t pieces = recipe.fragmentAllocation ? 10 : 1;
    count = std::max(count, pieces);
    for (std::uint32_t i = 0; i < pieces; ++i) {
      const std::uint32_t n = count / pieces + (i < count % pieces ? 1 : 0);
      Extent e{};
      if (!blocks.Take(n, &e.first)) return false;
      e.count = n;
      allocation.push_back(e);
      if (recipe.fragmentAllocation) ++blocks.next;  // a free block between pieces
    }
    return true;
  }

  bool PlaceFile(const HfsPlusFile& f, std::vector<Extent>* extents) {
    const auto count = static_cast<std::uint32_t>((f.data.size() + recipe.blockSize - 1) / recipe.blockSize);
    const std::uint32_t firstPart = f.split && count > 1 ? count / 2 : count;
    for (std::uint32_t part = 0, done = 0; done < count; ++part) {
      const std::uint32_t n = part == 0 ? firstPart : count - done;
      Extent e{0, n};
      if (!blocks.Take(n, &e.first)) return false;
      const std::size_t from = static_cast<std::size_t>(done) * recipe.blockSize;
      std::memcpy(At(e.first), f.data.data() + from, std::min<std::size_t>(f.data.size() - from, n * recipe.blockSize));
      extents->push_back(e);
      done += n;
      if (f.split) blocks.next += 3;  // the gap another file's deletion left
    }
    return true;
  }

  bool Catalog(std::uint32_t* fileCount) {
    std::vector<Record> records;
    std::uint32_t rootValence = 1, docsValence = 0, id = kFirstFile;
    for (const HfsPlusFile& f : recipe.files) {
      std::vector<Extent> extents;
      if (!PlaceFile(f, &extents) || extents.size() > 8) return false;
      const std::uint32_t parent = f.inDocs ? kDocsFolder : kRootFolder;
      (f.inDocs ? docsValence : rootValence) += 1;
      records.push_back(CatalogRecord(parent, f.name, FileData(id, f.data.size(), extents, recipe.blockSize)));
      records.push_back(CatalogRecord(id, "", ThreadData(4, parent, f.name)));
      ++id;
    }
    records.push_back(CatalogRecord(kRootParent, kVolumeName, FolderData(kRootFolder, rootValence)));
    records.push_back(CatalogRecord(kRootFolder, "", ThreadData(3, kRootParent, kVolumeName)));
    records.push_back(CatalogRecord(kRootFolder, "docs", FolderData(kDocsFolder, docsValence)));
    records.push_back(CatalogRecord(kDocsFolder, "", ThreadData(3, kRootFolder, "docs")));
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
      return a.parent != b.parent ? a.parent < b.parent : a.name < b.name;
    });
    std::uint8_t* tree = At(catalogFile[0].first);
    PutHeaderNode(tree, kCatalogNode, 1, 1, static_cast<std::uint32_t>(records.size()), 1, 516, 2,
                  kCatalogNode * kTreeNodes, recipe.hfsx ? 0xBC : 0xCF, 6);
    *fileCount = id - kFirstFile;
    return PutLeafNode(tree + kCatalogNode, kCatalogNode, records);
  }

  void ExtentsTree() {
    std::uint8_t* tree = At(extentsFile[0].first);
    if (allocation.size() <= 8) {
      PutHeaderNode(tree, kExtentsNode, 0, 0, 0, 0, 10, 1, kExtentsNode * kTreeNodes, 0, 2);
      return;
    }
    PutHeaderNode(tree, kExtentsNode, 1, 1, 1, 1, 10, 2, kExtentsNode * kTreeNodes, 0, 2);
    std::uint32_t firstEight = 0;
    for (std::size_t i = 0; i < 8; ++i) firstEight += allocation[i].count;
    std::vector<std::uint8_t> r(12 + 64, 0);
    WriteBE16(&r[0], 10);
    r[2] = 0;  // data fork
    WriteBE32(&r[4], kAllocationFile);
    WriteBE32(&r[8], firstEight);
    for (std::size_t i = 8; i < allocation.size(); ++i) {
      WriteBE32(&r[12 + (i - 8) * 8], allocation[i].first);
      WriteBE32(&r[16 + (i - 8) * 8], allocation[i].count);
    }
    PutLeafNode(tree + kExtentsNode, kExtentsNode, {Record{0, "", r}});
  }

  void VolumeHeader(std::uint32_t fileCount) {
    std::uint8_t vh[512] = {};
    WriteBE16(vh, recipe.hfsx ? 0x4858 : 0x482B);
    WriteBE16(vh + 2, recipe.hfsx ? 5 : 4);
    WriteBE32(vh + 4, 1u << 8);          // cleanly unmounted
    WriteBE32(vh + 8, 0x31302E30);       // "10.0"
    for (int i = 0; i < 4; ++i) WriteBE32(vh + 16 + 4 * i, kDate);
    WriteBE32(vh + 32, fileCount);
    WriteBE32(vh + 36, 1);               // "docs"
    WriteBE32(vh + 40, recipe.blockSize);
    WriteBE32(vh + 44, recipe.totalBlocks);
    const auto used = static_cast<std::uint32_t>(std::count(out->blockUsed.begin(), out->blockUsed.end(), true));
    WriteBE32(vh + 48, recipe.totalBlocks - used);
    WriteBE32(vh + 52, blocks.next);
    WriteBE32(vh + 56, recipe.blockSize);
    WriteBE32(vh + 60, recipe.blockSize);
    WriteBE32(vh + 64, kFirstFile + fileCount);
    WriteBE32(vh + 68, 1);
    WriteBE64(vh + 72, 1);               // MacRoman
    const std::uint32_t allocationBlocks = [&] {
      std::uint32_t n = 0;
      for (const Extent& e : allocation) n += e.count;
      return n;
    }();
    PutFork(vh + 112, static_cast<std::uint64_t>(allocationBlocks) * recipe.blockSize,
            std::vector<Extent>(allocation.begin(), allocation.begin() + std::min<std::size_t>(8, allocation.size())),
            recipe.blockSize);
    WriteBE32(vh + 112 + 12, allocationBlocks);
    PutFork(vh + 192, kExtentsNode * kTreeNodes, extentsFile, kExtentsNode * kTreeNodes);
    PutFork(vh + 272, kCatalogNode * kTreeNodes, catalogFile, kCatalogNode * kTreeNodes);
    std::memcpy(out->bytes.data() + 1024, vh, 512);
    std::memcpy(out->bytes.data() + out->bytes.size() - 1024, vh, 512);
  }

  void AllocationBits() {
    std::vector<std::uint8_t> bits((recipe.totalBlocks + 7) / 8, 0);
    for (std::uint32_t b = 0; b < recipe.totalBlocks; ++b) {
      if (out->blockUsed[b]) bits[b / 8] = static_cast<std::uint8_t>(bits[b / 8] | (0x80 >> (b % 8)));
    }
    std::size_t done = 0;
    for (const Extent& e : allocation) {
      const std::size_t n = std::min<std::size_t>(bits.size() - done, static_cast<std::size_t>(e.count) * recipe.blockSize);
      std::memcpy(At(e.first), bits.data() + done, n);
      done += n;
    }
  }
};

}  // namespace

bool MakeHfsPlusVolume(const HfsPlusRecipe& recipe, HfsPlusVolume* out) {
  out->bytes.assign(static_cast<std::size_t>(recipe.totalBlocks) * recipe.blockSize, 0);
  out->blockUsed.assign(recipe.totalBlocks, false);
  Builder b{recipe, out, Blocks{&out->blockUsed, 0}, {}, {}, {}};
  std::uint32_t first = 0;
  const std::uint32_t headerBlocks = (1536 + recipe.blockSize - 1) / recipe.blockSize;
  const std::uint32_t tailBlocks = (1024 + recipe.blockSize - 1) / recipe.blockSize;
  if (!b.blocks.Take(headerBlocks, &first)) return false;
  for (std::uint32_t i = 0; i < tailBlocks; ++i) out->blockUsed[recipe.totalBlocks - 1 - i] = true;
  if (!b.PlaceAllocation()) return false;
  Extent e{0, kExtentsNode * kTreeNodes / recipe.blockSize};
  if (e.count == 0 || !b.blocks.Take(e.count, &e.first)) return false;
  b.extentsFile.push_back(e);
  e = Extent{0, kCatalogNode * kTreeNodes / recipe.blockSize};
  if (e.count == 0 || !b.blocks.Take(e.count, &e.first)) return false;
  b.catalogFile.push_back(e);
  std::uint32_t files = 0;
  if (!b.Catalog(&files)) return false;
  b.ExtentsTree();
  // Bytes a deleted file left behind: free blocks with data in them.
  for (std::uint32_t k = 0; k < 8 && b.blocks.next + k < recipe.totalBlocks - tailBlocks; ++k) {
    std::memset(b.At(b.blocks.next + k), 0xD0 + static_cast<int>(k), recipe.blockSize);
  }
  b.VolumeHeader(files);
  b.AllocationBits();
  out->allocationFirstBlock = b.allocation[0].first;
  out->extentsFirstBlock = b.extentsFile[0].first;
  return true;
}

std::vector<HfsPlusFile> SomeHfsPlusFiles(std::uint32_t blockSize, int count) {
  std::vector<HfsPlusFile> files;
  for (int i = 0; i < count; ++i) {
    const std::size_t sizes[] = {1, 700, blockSize * 3u + 11, 0, 40000, blockSize * 9u, 123457};
    HfsPlusFile f{"file" + std::to_string(10 + i) + ".bin", i % 3 == 1, i % 4 == 2, std::vector<std::uint8_t>(sizes[i % 7])};
    for (std::size_t k = 0; k < f.data.size(); ++k) {
      f.data[k] = static_cast<std::uint8_t>((k * 131 + static_cast<std::size_t>(i) * 17) ^ (k >> 9));
    }
    files.push_back(f);
  }
  return files;
}

}  // namespace qvt::test
