#include "VmdkCopyTestKit.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "ImageOpen.h"
#include "SparseTestKit.h"
#include "VmdkCreateChild.h"
#include "VmdkImage.h"

namespace qvt::test {

void TestLayout::Add(std::uint32_t sectors, const std::string& name) {
  VmdkLayoutExtent e{};
  std::strncpy(e.fileName, name.c_str(), sizeof(e.fileName) - 1);
  e.sectors = sectors;
  entries.push_back(e);
  Fix();
}

TestLayout GivenLayout(std::uint32_t split, std::uint32_t kind, bool streamOptimized,
                       const std::vector<std::uint32_t>& sizes) {
  TestLayout t;
  t.layout.mode = kVmdkLayoutAsGiven;
  t.layout.split = split;
  t.layout.kind = kind;
  t.layout.compressed = streamOptimized ? 1 : 0;
  t.layout.streamOptimized = streamOptimized ? 1 : 0;
  t.layout.adapter = kVmdkAdapterLsiLogic;
  t.layout.hwVersionIndex = 7;
  t.layout.encoding = kVmdkEncodingNone;
  for (std::uint32_t s : sizes) t.Add(s);
  return t;
}

TestLayout DerivedLayout(std::uint32_t mode, std::uint32_t adapter, std::uint32_t hwVersionIndex,
                         bool streamOptimized) {
  TestLayout t;
  t.layout.mode = mode;
  t.layout.streamOptimized = streamOptimized ? 1 : 0;
  t.layout.adapter = adapter;
  t.layout.hwVersionIndex = hwVersionIndex;
  t.layout.encoding = kVmdkEncodingNone;
  t.Fix();
  return t;
}

DiskResult CopyDisk(const std::string& source, const std::string& target, const VmdkLayout& layout,
                    const AllocationMap* map, ProgressFn progress, void* context) {
  ImageHandle image = NoImage();
  DiskResult r = ImageOpen(&image, source.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr);
  if (r != DISK_OK) return r;
  r = VmdkCopyImage(target.c_str(), &image, map, progress, context, layout);
  ImageClose(&image);
  return r;
}

std::uint32_t CapacityOf(const std::string& path) {
  ImageHandle image = NoImage();
  if (ImageOpen(&image, path.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr) != DISK_OK) {
    return 0;
  }
  ImageGeometry g{};
  const DiskResult r = ImageGetSize(&image, &g);
  ImageClose(&image);
  return r == DISK_OK ? g.sectors : 0;
}

DiskResult MakeChild(const std::string& parent, const std::string& child) {
  VmdkImage* image = nullptr;
  DiskResult r = VmdkImageOpen(&image, parent.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr);
  if (r != DISK_OK) return r;
  r = VmdkCreateChild(image, parent.c_str(), child.c_str(), false);
  VmdkImageClose(image);
  return r;
}

std::vector<std::uint8_t> NativeBytes(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::string DescriptorOf(const std::string& native) {
  const std::vector<std::uint8_t> bytes = NativeBytes(native);
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t at = text.find("# Disk DescriptorFile");
  if (at == std::string::npos) return std::string();
  return text.substr(at, text.find('\0', at) - at);
}

long long OwnGrains(const std::string& path) {
  VmdkImage* image = nullptr;
  if (VmdkImageOpen(&image, path.c_str(), true, VMDK_PARENT_NONE, nullptr, nullptr) != DISK_OK) {
    return -1;
  }
  std::uint64_t grains = 0;
  const DiskResult r = VmdkImageCountGrains(image, &grains);
  VmdkImageClose(image);
  return r == DISK_OK ? static_cast<long long>(grains) : -1;
}

std::vector<std::uint32_t> OwnGrainSet(const std::string& path) {
  std::vector<std::uint32_t> grains;
  VmdkImage* image = nullptr;
  if (VmdkImageOpen(&image, path.c_str(), true, VMDK_PARENT_NONE, nullptr, nullptr) != DISK_OK) {
    return grains;
  }
  for (std::uint32_t first = 0; first < image->capacity; first += 128) {
    bool absent = true;
    const std::uint32_t count = std::min<std::uint32_t>(128, image->capacity - first);
    if (VmdkImageIsRangeAbsent(image, first, count, &absent) != DISK_OK) break;
    if (!absent) grains.push_back(first / 128);
  }
  VmdkImageClose(image);
  return grains;
}

std::string FileSha(const std::string& native) {
  std::string out;
  if (Run("sha256sum " + Quote(native), &out) != 0) return std::string();
  return out.substr(0, 64);
}

bool PyvmdkAvailable() {
#ifdef _WIN32
  return false;
#else
  return Run("/usr/bin/python3 -c 'import pyvmdk'") == 0;
#endif
}

std::string PyvmdkSha(const std::string& native, std::string* log) {
  const std::string script =
      "import hashlib, sys, pyvmdk\n"
      "h = pyvmdk.handle()\n"
      "h.open(sys.argv[1])\n"
      // libvmdk finds the extent by the descriptor's extent line, as any
      // reader of the copy would.
      "h.open_extent_data_files()\n"
      "size = h.get_media_size()\n"
      "digest = hashlib.sha256()\n"
      "done = 0\n"
      "while done < size:\n"
      "    n = min(1 << 20, size - done)\n"
      "    data = h.read_buffer_at_offset(n, done)\n"
      "    if len(data) != n:\n"
      "        sys.exit(\"short read at %d\" % done)\n"
      "    digest.update(data)\n"
      "    done += n\n"
      "h.close()\n"
      "print(digest.hexdigest())\n";
  if (Run("/usr/bin/python3 -c " + Quote(script) + " " + Quote(native), log) != 0) {
    return std::string();
  }
  return log->substr(0, 64);
}

namespace {

bool HoldsInUseData(const std::vector<std::uint8_t>& raw, const std::vector<bool>& inUse,
                    std::size_t first, std::size_t end) {
  for (std::size_t s = first; s < end; ++s) {
    if (!inUse.empty() && (s >= inUse.size() || !inUse[s])) continue;
    for (std::size_t b = 0; b < 512; ++b) {
      if (raw[s * 512 + b] != 0) return true;
    }
  }
  return false;
}

}  // namespace

std::vector<GrainPiece> KeptGrains(const std::vector<std::uint8_t>& raw,
                                   const std::vector<bool>& inUse,
                                   const std::vector<std::uint32_t>& extents) {
  const auto sectors = static_cast<std::uint32_t>(raw.size() / 512);
  const std::vector<std::uint32_t> sizes = extents.empty() ? std::vector<std::uint32_t>{sectors}
                                                           : extents;
  std::vector<GrainPiece> kept;
  std::uint32_t start = 0;
  for (std::uint32_t size : sizes) {
    for (std::uint32_t at = 0; at < size; at += 128) {
      const std::uint32_t n = std::min<std::uint32_t>(128, size - at);
      if (HoldsInUseData(raw, inUse, start + at, start + at + n)) kept.push_back({start + at, n});
    }
    start += size;
  }
  return kept;
}

std::vector<std::uint8_t> KeptContent(const std::vector<std::uint8_t>& raw,
                                      const std::vector<GrainPiece>& kept) {
  std::vector<std::uint8_t> out(raw.size(), 0);
  for (const GrainPiece& p : kept) {
    std::copy(raw.begin() + std::size_t{p.first} * 512,
              raw.begin() + (std::size_t{p.first} + p.count) * 512,
              out.begin() + std::size_t{p.first} * 512);
  }
  return out;
}

}  // namespace qvt::test
