#include "VhdTestKit.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "ImageHandle.h"
#include "ImageOpen.h"
#include "SparseTestKit.h"
#include "VhdFormat.h"

namespace qvt::test {
namespace {

void PutBE16(Bytes* b, std::uint64_t at, std::uint16_t v) {
  (*b)[at] = static_cast<std::uint8_t>(v >> 8);
  (*b)[at + 1] = static_cast<std::uint8_t>(v);
}

Bytes Footer(const DynamicShape& s, std::uint64_t size) {
  Bytes f(512, 0);
  std::memcpy(f.data(), "conectix", 8);
  PokeBE32(&f, 8, 2);
  PokeBE32(&f, 12, 0x00010000);
  PokeBE64(&f, 16, 512);
  std::memcpy(f.data() + 28, "qvtt", 4);
  PokeBE32(&f, 32, 0x00050003);
  std::memcpy(f.data() + 36, "Wi2k", 4);
  PokeBE64(&f, 40, size);
  PokeBE64(&f, 48, size);
  PutBE16(&f, 56, s.cylinders);
  f[58] = s.heads;
  f[59] = s.sectorsPerTrack;
  PokeBE32(&f, 60, 3);
  for (int i = 0; i < 16; ++i) f[68 + i] = static_cast<std::uint8_t>(s.idSeed * 31 + i);
  PokeBE32(&f, 64, VhdChecksum(f.data(), 512, 64));
  return f;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The reader run by the system Python: Debian's pyvhdi loads only there.
const char kReader[] = R"(import sys, pyvhdi
mode, out = sys.argv[1], sys.argv[2]
files = []
for p in sys.argv[3:]:
    f = pyvhdi.file()
    f.open(p)
    files.append(f)
for child, parent in zip(files, files[1:]):
    child.set_parent(parent)
top = files[0]
with open(out, 'wb') as o:
    if mode == 'ids':
        o.write((str(top.identifier) + ' ' + str(top.parent_identifier)).encode())
    else:
        size, at = top.media_size, 0
        while at < size:
            n = min(1 << 20, size - at)
            o.write(top.read_buffer_at_offset(n, at))
            at += n
)";

bool RunReader(const std::string& mode, const std::vector<std::string>& files, std::string* out,
               std::string* log) {
  TempFolder scratch;
  const std::string script = scratch.Native(L"reader.py").string();
  const std::string result = scratch.Native(L"out.bin").string();
  { std::ofstream(script) << kReader; }
  std::string command = "/usr/bin/python3 " + Quote(script) + " " + mode + " " + Quote(result);
  for (const std::string& f : files) command += " " + Quote(f);
  if (Run(command + " 2>&1", log) != 0) return false;
  *out = Slurp(result);
  return true;
}

}  // namespace

std::uint32_t PeekBE32(const Bytes& b, std::uint64_t at) { return ReadBE32(b.data() + at); }
std::uint64_t PeekBE64(const Bytes& b, std::uint64_t at) { return ReadBE64(b.data() + at); }
void PokeBE32(Bytes* b, std::uint64_t at, std::uint32_t v) { WriteBE32(b->data() + at, v); }
void PokeBE64(Bytes* b, std::uint64_t at, std::uint64_t v) { WriteBE64(b->data() + at, v); }

Bytes DynamicImage(const DynamicShape& s) {
  const std::uint64_t geometry = static_cast<std::uint64_t>(s.cylinders) * s.heads * s.sectorsPerTrack;
  const std::uint64_t size = s.currentSize != 0 ? s.currentSize : geometry * 512;
  const std::uint64_t sectors = s.currentSize != 0 ? s.currentSize / 512 : geometry;
  const std::uint64_t spb = s.blockSize / 512;
  const auto blocks = static_cast<std::uint32_t>((sectors + spb - 1) / spb);
  const std::uint64_t tableBytes = (blocks * 4ull + 511) / 512 * 512;
  Bytes image(1536 + tableBytes, 0);
  const Bytes footer = Footer(s, size);
  std::memcpy(image.data(), footer.data(), 512);
  Bytes h(1024, 0);
  std::memcpy(h.data(), "cxsparse", 8);
  PokeBE64(&h, 8, ~0ull);
  PokeBE64(&h, 16, 1536);
  PokeBE32(&h, 24, 0x00010000);
  PokeBE32(&h, 28, blocks);
  PokeBE32(&h, 32, s.blockSize);
  PokeBE32(&h, 36, VhdChecksum(h.data(), 1024, 36));
  std::memcpy(image.data() + 512, h.data(), 1024);
  std::memset(image.data() + 1536, 0xFF, blocks * 4ull);
  image.insert(image.end(), footer.begin(), footer.end());
  return image;
}

std::uint64_t TrailingFooterAt(const Bytes& image) {
  return image.size() % 512 == 0 ? image.size() - 512 : image.size() - 511;
}

std::uint64_t HeaderAt(const Bytes& image) { return PeekBE64(image, TrailingFooterAt(image) + 16); }

void Reseal(Bytes* image) {
  const std::uint64_t tail = TrailingFooterAt(*image);
  const auto length = static_cast<std::uint32_t>(image->size() - tail);
  PokeBE32(image, tail + 64, VhdChecksum(image->data() + tail, length, 64));
  std::memcpy(image->data(), image->data() + tail, length);
  const std::uint64_t h = HeaderAt(*image);
  if (h <= image->size() && image->size() - h >= 1024) PokeBE32(image, h + 36, VhdChecksum(image->data() + h, 1024, 36));
}

Bytes ReadBytes(const TempFolder& dir, const std::wstring& name) {
  const std::string s = dir.ReadFile(name);
  return Bytes(s.begin(), s.end());
}

void WriteBytes(const TempFolder& dir, const std::wstring& name, const Bytes& bytes) {
  dir.WriteFile(name, std::string(bytes.begin(), bytes.end()));
}

std::string Pattern(std::uint32_t length, std::uint8_t seed) {
  std::string s(length, '\0');
  for (std::uint32_t i = 0; i < length; ++i) {
    s[i] = static_cast<char>(seed + i * 7 + i / 512);
  }
  return s;
}

std::string EngineRead(const std::string& enginePath, DiskResult* result) {
  ImageHandle image = NoImage();
  *result = ImageOpen(&image, enginePath.c_str(), true, 0, nullptr, nullptr);
  if (*result != DISK_OK) return std::string();
  ImageGeometry g{};
  *result = ImageGetSize(&image, &g);
  std::string bytes(static_cast<std::size_t>(g.sectors) * 512, '\0');
  constexpr std::uint32_t kChunk = 1 << 20;
  for (std::uint64_t at = 0; *result == DISK_OK && at < bytes.size(); at += kChunk) {
    const auto n = static_cast<std::uint32_t>(bytes.size() - at < kChunk ? bytes.size() - at : kChunk);
    *result = ImageRead(&image, at, n, &bytes[at]);
  }
  ImageClose(&image);
  if (*result != DISK_OK) bytes.clear();
  return bytes;
}

DiskResult EngineWrite(const std::string& enginePath, std::uint64_t offset, std::uint32_t length,
                       std::uint8_t seed) {
  ImageHandle image = NoImage();
  DiskResult r = ImageOpen(&image, enginePath.c_str(), false, 0, nullptr, nullptr);
  if (r != DISK_OK) return r;
  const std::string data = Pattern(length, seed);
  r = ImageWrite(&image, offset, length, data.data());
  ImageClose(&image);
  return r;
}

bool LibvhdiAvailable() {
#ifdef _WIN32
  return false;
#else
  return PeerToolsAvailable() && Run("/usr/bin/python3 -c 'import pyvhdi' >/dev/null 2>&1") == 0 &&
         Run("command -v vhdiinfo >/dev/null 2>&1") == 0;
#endif
}

bool LibvhdiRead(const std::vector<std::string>& chain, std::string* bytes, std::string* log) {
  return RunReader("read", chain, bytes, log);
}

bool LibvhdiIds(const std::string& path, std::string* identifier, std::string* parent) {
  std::string out;
  std::string log;
  if (!RunReader("ids", {path}, &out, &log)) return false;
  const std::size_t space = out.find(' ');
  if (space == std::string::npos) return false;
  *identifier = out.substr(0, space);
  *parent = out.substr(space + 1);
  return true;
}

}  // namespace qvt::test
