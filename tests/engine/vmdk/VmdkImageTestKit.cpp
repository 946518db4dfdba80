#include "VmdkImageTestKit.h"

#include <algorithm>
#include <stdexcept>

namespace qvt::test {

std::string Narrow(const std::wstring& name) {
  std::string out;
  for (wchar_t c : name) {
    if (c > 0x7F) throw std::runtime_error("test disk names are ASCII");
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string DescriptorText(const std::string& createType, const std::vector<ExtentLine>& extents,
                           const std::string& hint, const std::string& cid,
                           const std::string& parentCid) {
  std::string text = "# Disk DescriptorFile\nversion=1\nCID=" + cid + "\nparentCID=" + parentCid +
                     "\ncreateType=\"" + createType + "\"\n";
  if (!hint.empty()) text += "parentFileNameHint=\"" + hint + "\"\n";
  text += "\n# Extent description\n";
  std::uint64_t sectors = 0;
  for (const ExtentLine& e : extents) {
    text += "RW " + std::to_string(e.sectors) + " " + e.type + " \"" + e.file + "\"";
    if (e.type != "SPARSE") text += " " + std::to_string(e.offset);
    text += "\n";
    sectors += e.sectors;
  }
  if (hint.empty()) {
    text += "\n# The Disk Data Base \n#DDB\n\nddb.virtualHWVersion = \"4\"\n"
            "ddb.geometry.cylinders = \"" + std::to_string(sectors / 16 / 63) +
            "\"\nddb.geometry.heads = \"16\"\nddb.geometry.sectors = \"63\"\n"
            "ddb.adapterType = \"ide\"\n";
  }
  return text;
}

namespace {

// The name a single file's extent line gives: the engine reads the file
// itself, so only its form matters.
std::string LineName(const std::wstring& name) {
  std::string out;
  for (wchar_t c : name.substr(name.rfind(L'\\') + 1)) out.push_back(c < 0x80 ? static_cast<char>(c) : 'x');
  return out;
}

}  // namespace

void DiskMaker::SingleFile(const std::wstring& name, MemoryDisk& data, const std::string& hint,
                           bool compressed) const {
  const std::string text =
      DescriptorText(compressed ? "streamOptimized" : "monolithicSparse",
                     {{data.Sectors(), "SPARSE", LineName(name)}}, hint);
  const TextView view = MakeView(text.data(), static_cast<std::uint32_t>(text.size()));
  SparseWriteRequest request;
  request.descriptor = &view;
  request.descriptorSectors = 20;
  request.hwVersionIndex = 1;
  request.compressed = compressed;
  request.streamOptimized = compressed;
  if (WriteExtent(dir_.Engine(name), &data, request) != DISK_OK) {
    throw std::runtime_error("cannot write a test disk");
  }
}

void DiskMaker::Split(const std::wstring& name, MemoryDisk& data,
                      const std::vector<std::uint32_t>& sizes, const std::string& hint) const {
  std::vector<ExtentLine> lines;
  std::uint32_t first = 0;
  const std::wstring base = name.substr(0, name.rfind(L'.'));
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::wstring file = base + L"-s00" + std::to_wstring(i + 1) + L".vmdk";
    lines.push_back({sizes[i], "SPARSE", Narrow(file)});
    SparseWriteRequest request;
    request.hwVersionIndex = 4;
    request.firstSourceSector = first;
    request.sectors = sizes[i];
    if (WriteExtent(dir_.Engine(file), &data, request) != DISK_OK) {
      throw std::runtime_error("cannot write a test extent");
    }
    first += sizes[i];
  }
  dir_.WriteFile(name, DescriptorText("twoGbMaxExtentSparse", lines, hint));
}

void DiskMaker::Flat(const std::wstring& name, MemoryDisk& data,
                     const std::vector<std::uint32_t>& sizes, std::uint64_t offset) const {
  std::vector<ExtentLine> lines;
  std::size_t first = 0;
  const std::wstring base = name.substr(0, name.rfind(L'.'));
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::wstring file = base + L"-f00" + std::to_wstring(i + 1) + L".vmdk";
    lines.push_back({sizes[i], "FLAT", Narrow(file), offset});
    std::string bytes(static_cast<std::size_t>(offset) * 512, '\x7e');
    bytes.append(reinterpret_cast<const char*>(data.bytes.data()) + first * 512,
                 static_cast<std::size_t>(sizes[i]) * 512);
    dir_.WriteFile(file, bytes);
    first += sizes[i];
  }
  dir_.WriteFile(name, DescriptorText(sizes.size() == 1 ? "monolithicFlat" : "twoGbMaxExtentFlat",
                                      lines));
}

Bytes ReadImage(ImageHandle* image, DiskResult* result) {
  ImageGeometry g{};
  *result = ImageGetSize(image, &g);
  Bytes out;
  if (*result != DISK_OK) return out;
  out.resize(static_cast<std::size_t>(g.sectors) * 512);
  constexpr std::size_t kPiece = 3 * 65536 + 1000;
  for (std::size_t at = 0; at < out.size() && *result == DISK_OK; at += kPiece) {
    const auto n = static_cast<std::uint32_t>(std::min(kPiece, out.size() - at));
    *result = ImageRead(image, at, n, out.data() + at);
  }
  if (*result != DISK_OK) out.clear();
  return out;
}

}  // namespace qvt::test
