#include "FsmapTestKit.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ByteOrder.h"
#include "RawImage.h"

namespace qvt::test {

RawDisk::RawDisk(const TempFolder& folder, const std::wstring& name, std::uint32_t sectors)
    : folder_(folder), name_(name), sectors_(sectors) {
  {
    std::ofstream out(folder_.Native(name_ + L".img"), std::ios::binary | std::ios::trunc);
    if (sectors > 0) {
      out.seekp(static_cast<std::streamoff>(sectors) * 512 - 1);
      out.put('\0');
    }
  }
  folder_.WriteFile(name_ + L".ndi", "NDI 0 " + std::to_string(sectors) + " 16 63 512\n");
}

RawDisk::~RawDisk() { Close(); }

std::string RawDisk::NativePath() const { return folder_.Native(name_ + L".img").string(); }
std::string RawDisk::EnginePath() const { return folder_.Engine(name_ + L".img"); }

void RawDisk::Put(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  std::fstream f(folder_.Native(name_ + L".img"), std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void RawDisk::PutLE32(std::uint64_t offset, std::uint32_t value) {
  std::vector<std::uint8_t> b(4);
  WriteLE32(b.data(), value);
  Put(offset, b);
}

void RawDisk::PutLE64(std::uint64_t offset, std::uint64_t value) {
  std::vector<std::uint8_t> b(8);
  WriteLE64(b.data(), value);
  Put(offset, b);
}

void RawDisk::PutByte(std::uint64_t offset, std::uint8_t value) { Put(offset, {value}); }

void RawDisk::PutEntry(std::uint64_t sector, int index, std::uint8_t type, std::uint32_t first,
                       std::uint32_t count) {
  const std::uint64_t entry = sector * 512 + 446 + static_cast<std::uint64_t>(index) * 16;
  PutByte(entry + 4, type);
  PutLE32(entry + 8, first);
  PutLE32(entry + 12, count);
  Put(sector * 512 + 510, {0x55, 0xAA});
}

ImageHandle* RawDisk::Open() {
  Close();
  if (RawImageOpen(&image_, EnginePath().c_str(), true) != DISK_OK) return nullptr;
  return &image_;
}

void RawDisk::Close() { ImageClose(&image_); }

bool HaveTool(const std::string& tool) {
#ifdef _WIN32
  (void)tool;
  return false;
#else
  return Shell("command -v " + tool + " >/dev/null 2>&1") == 0;
#endif
}

int Shell(const std::string& command, std::string* output) {
#ifdef _WIN32
  (void)command;
  (void)output;
  return -1;
#else
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

DiskResult Discover(ImageHandle* image, std::vector<FoundVolume>* found) {
  ImageGeometry g{};
  DiskResult r = ImageGetSize(image, &g);
  if (r != DISK_OK) return r;
  std::vector<VolumeRecord> records(kMaxVolumes);
  VolumeList list{records.data(), kMaxVolumes, 0};
  r = DiscoverVolumes(image, g.sectors, &list);
  found->clear();
  for (std::uint32_t i = 0; i < list.count; ++i) {
    found->push_back({VolumeFirstSector(records[i]), VolumeSectorCount(records[i]),
                      VolumeType(records[i])});
  }
  return r;
}

}  // namespace qvt::test
