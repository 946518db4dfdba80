#include "Human68kVolume.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"

namespace qvt::test {
namespace {

constexpr std::uint32_t kEndOfChain16 = 0xFFFF;
constexpr std::uint32_t kBad16 = 0xFFF7;

struct Layout {
  std::uint64_t fatOffset, fatBytes, rootOffset, dataOffset;
  std::uint32_t bytesPerCluster, clusters;
};

Layout LayoutOf(const Human68kGeometry& g) {
  Layout l{};
  l.fatOffset = static_cast<std::uint64_t>(g.reservedSectors) * g.bytesPerSector;
  l.fatBytes = static_cast<std::uint64_t>(g.fatSectors) * g.bytesPerSector;
  l.rootOffset = l.fatOffset + l.fatBytes * g.fatCount;
  const std::uint64_t rootSectors = (g.rootEntries * 32ull + g.bytesPerSector - 1) / g.bytesPerSector;
  l.dataOffset = l.rootOffset + rootSectors * g.bytesPerSector;
  l.bytesPerCluster = g.bytesPerSector * g.sectorsPerCluster;
  l.clusters = static_cast<std::uint32_t>((static_cast<std::uint64_t>(g.totalSectors) * g.bytesPerSector - l.dataOffset) /
                                          l.bytesPerCluster);
  return l;
}

void PutEntry(std::uint8_t* fat, bool fat16, std::uint32_t entry, std::uint32_t value) {
  if (fat16) {
    WriteBE16(fat + entry * 2, static_cast<std::uint16_t>(value));
    return;
  }
  std::uint8_t* p = fat + entry * 3 / 2;
  if ((entry & 1) != 0) {
    p[0] = static_cast<std::uint8_t>((p[0] & 0x0F) | ((value & 0x0F) << 4));
    p[1] = static_cast<std::uint8_t>(value >> 4);
  } else {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>((p[1] & 0xF0) | ((value >> 8) & 0x0F));
  }
}

std::uint32_t GetEntry(const std::uint8_t* fat, bool fat16, std::uint32_t entry) {
  if (fat16) return ReadBE16(fat + entry * 2);
  const std::uint32_t pair = ReadLE16(fat + entry * 3 / 2);
  return (entry & 1) != 0 ? pair >> 4 : pair & 0xFFF;
}

std::uint32_t Scaled(bool fat16, std::uint32_t value16) { return fat16 ? value16 : value16 & 0xFFF; }

void WriteBootRecord(const Human68kGeometry& g, std::uint8_t* b) {
  b[0] = 0x60;  // bra.s over the record, as the X68000's IPL expects
  b[1] = 0x20;
  std::memcpy(b + 2, "SHARP/KG    ", 12);
  WriteBE16(b + 18, static_cast<std::uint16_t>(g.bytesPerSector));
  b[20] = static_cast<std::uint8_t>(g.sectorsPerCluster);
  b[21] = static_cast<std::uint8_t>(g.fatCount);
  WriteBE16(b + 22, static_cast<std::uint16_t>(g.reservedSectors));
  WriteBE16(b + 24, static_cast<std::uint16_t>(g.rootEntries));
  WriteBE16(b + 26, static_cast<std::uint16_t>(g.totalSectors <= 0xFFFF ? g.totalSectors : 0));
  b[28] = 0xFE;
  b[29] = static_cast<std::uint8_t>(g.fatSectors);
  WriteBE32(b + 30, g.totalSectors <= 0xFFFF ? 0 : g.totalSectors);
}

}  // namespace

bool MakeHuman68kVolume(const Human68kGeometry& g, const std::vector<Human68kFile>& files, Human68kVolume* out) {
  const Layout l = LayoutOf(g);
  if (files.size() > g.rootEntries) return false;
  if ((g.fat16 ? 2 * (l.clusters + 2ull) : (3 * (l.clusters + 2ull) + 1) / 2) > l.fatBytes) return false;
  out->bytes.assign(static_cast<std::size_t>(g.totalSectors) * g.bytesPerSector, 0);
  out->clusterUsed.assign(l.clusters, false);
  out->dataOffset = l.dataOffset;
  out->bytesPerCluster = l.bytesPerCluster;
  std::uint8_t* v = out->bytes.data();
  WriteBootRecord(g, v);
  std::uint8_t* fat = v + l.fatOffset;
  PutEntry(fat, g.fat16, 0, Scaled(g.fat16, 0xFFFE));
  PutEntry(fat, g.fat16, 1, Scaled(g.fat16, 0xFFFF));
  if (g.badCluster < l.clusters) {
    PutEntry(fat, g.fat16, g.badCluster + 2, Scaled(g.fat16, kBad16));
    out->clusterUsed[g.badCluster] = true;
  }
  std::uint32_t next = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& f = files[i];
    const std::uint32_t count = static_cast<std::uint32_t>((f.data.size() + l.bytesPerCluster - 1) / l.bytesPerCluster);
    std::uint8_t* entry = v + l.rootOffset + i * 32;
    std::memset(entry, ' ', 11);
    std::memcpy(entry, f.name.data(), std::min<std::size_t>(f.name.size(), 8));
    entry[11] = 0x20;  // archive
    std::uint32_t previous = 0;
    for (std::uint32_t k = 0; k < count; ++k, ++next) {
      while (next < l.clusters && out->clusterUsed[next]) ++next;
      if (next >= l.clusters) return false;
      out->clusterUsed[next] = true;
      const std::size_t from = static_cast<std::size_t>(k) * l.bytesPerCluster;
      std::memcpy(v + l.dataOffset + static_cast<std::uint64_t>(next) * l.bytesPerCluster, f.data.data() + from,
                  std::min<std::size_t>(l.bytesPerCluster, f.data.size() - from));
      if (k == 0) WriteLE16(entry + 26, static_cast<std::uint16_t>(next + 2));
      else PutEntry(fat, g.fat16, previous + 2, next + 2);
      previous = next;
    }
    if (count > 0) PutEntry(fat, g.fat16, previous + 2, Scaled(g.fat16, kEndOfChain16));
    WriteLE32(entry + 28, static_cast<std::uint32_t>(f.data.size()));
    ++next;  // leave a free cluster between files
  }
  for (std::uint32_t c = 1; c < g.fatCount; ++c) std::memcpy(fat + c * l.fatBytes, fat, l.fatBytes);
  return true;
}

bool ReadHuman68kFile(const std::vector<std::uint8_t>& volume, const Human68kGeometry& g, const std::string& name,
                      std::vector<std::uint8_t>* data) {
  const Layout l = LayoutOf(g);
  const std::uint8_t* v = volume.data();
  for (std::uint32_t i = 0; i < g.rootEntries; ++i) {
    const std::uint8_t* entry = v + l.rootOffset + i * 32;
    std::string stored(reinterpret_cast<const char*>(entry), 8);
    stored.erase(stored.find_last_not_of(' ') + 1);
    if (entry[0] == 0 || stored != name) continue;
    const std::uint32_t size = ReadLE32(entry + 28);
    data->clear();
    std::uint32_t cluster = ReadLE16(entry + 26);
    const std::uint32_t end = Scaled(g.fat16, 0xFFF8);
    while (data->size() < size) {
      if (cluster < 2 || cluster - 2 >= l.clusters) return false;
      const std::uint8_t* at = v + l.dataOffset + static_cast<std::uint64_t>(cluster - 2) * l.bytesPerCluster;
      data->insert(data->end(), at, at + std::min<std::size_t>(l.bytesPerCluster, size - data->size()));
      const std::uint32_t link = GetEntry(v + l.fatOffset, g.fat16, cluster);
      if (link >= end) break;
      cluster = link;
    }
    return data->size() == size;
  }
  return false;
}

}  // namespace qvt::test
