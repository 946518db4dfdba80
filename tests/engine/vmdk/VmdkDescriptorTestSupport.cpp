#include "VmdkDescriptorTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "SparseHeader.h"
#include "TextConvert.h"

namespace qvt::test {

const char kBaseText[] =
    "# Disk DescriptorFile\n"
    "version=1\n"
    "CID=12345678\n"
    "parentCID=ffffffff\n"
    "createType=\"monolithicSparse\"\n"
    "\n"
    "# Extent description\n"
    "RW 2048 SPARSE \"base.vmdk\"\n"
    "\n"
    "# The Disk Data Base \n"
    "#DDB\n"
    "\n"
    "ddb.virtualHWVersion = \"7\"\n"
    "ddb.uuid = \"60 00 C2 97 7d 00 44 2b-53 6d e1 38 f2 fd fc 4b\"\n"
    "ddb.geometry.cylinders = \"2\"\n"
    "ddb.geometry.heads = \"16\"\n"
    "ddb.geometry.sectors = \"63\"\n"
    "ddb.adapterType = \"lsilogic\"\n";

const char kChildText[] =
    "# Disk DescriptorFile\n"
    "version=1\n"
    "CID=abcdef01\n"
    "parentCID=12345678\n"
    "createType=\"monolithicSparse\"\n"
    "parentFileNameHint=\"base.vmdk\"\n"
    "\n"
    "# Extent description\n"
    "RW 2048 SPARSE \"child.vmdk\"\n";

std::string Encoded(const std::string& utf8, TextEncoding e) {
  std::vector<std::uint8_t> storage(utf8.size() * 4 + 4);
  ByteBuffer b;
  BufferInit(&b, storage.data(), static_cast<std::uint32_t>(storage.size()));
  if (!TextConvertAppend(&b, e, ViewOf(utf8), ENC_UTF8)) {
    ADD_FAILURE() << "cannot express the test text " << utf8;
    return std::string();
  }
  return StringOf(BufferView(b));
}

std::string Changed(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos || text.find(from, at + 1) != std::string::npos) {
    ADD_FAILURE() << "the text to change must occur exactly once: " << from;
    return text;
  }
  std::string out = text;
  out.replace(at, from.size(), to);
  return out;
}

std::unique_ptr<VmdkDescriptor> NewRecord() { return std::make_unique<VmdkDescriptor>(); }

bool Parse(const std::string& text, VmdkDescriptor* d) {
  return VmdkParseDescriptor(ViewOf(text), d);
}

std::string SparseHeaderBytes(std::uint64_t descriptorOffset, std::uint64_t descriptorSectors) {
  SparseHeader h{};
  h.magicNumber = kSparseMagic;
  h.version = 1;
  h.flags = kSparseFlagValidNewline | kSparseFlagRedundantGt;
  h.capacity = 2048;
  h.grainSize = 128;
  h.descriptorOffset = descriptorOffset;
  h.descriptorSize = descriptorSectors;
  h.numGTEsPerGT = kGtesPerGt;
  h.rgdOffset = 1 + descriptorSectors;
  h.gdOffset = 2 + descriptorSectors;
  h.overHead = 128;
  h.singleEndLineChar = '\n';
  h.nonEndLineChar = ' ';
  h.doubleEndLineChar1 = '\r';
  h.doubleEndLineChar2 = '\n';
  std::uint8_t bytes[kSparseHeaderBytes];
  EncodeSparseHeader(h, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

std::string EmbeddedDisk(const std::string& descriptor, std::uint32_t descriptorSectors) {
  std::string area = descriptor.substr(0, descriptorSectors * 512u);
  area.resize(descriptorSectors * 512u, '\0');
  // Some grain-directory sectors behind the area, so that the file is a
  // plausible extent and not just a header and a text.
  return SparseHeaderBytes(descriptorSectors == 0 ? 0 : 1, descriptorSectors) + area +
         std::string(4 * 512, '\0');
}

namespace {

bool MemoryRead(void* impl, std::uint64_t offset, std::uint32_t length, void* buffer) {
  auto* f = static_cast<MemoryFile*>(impl);
  ++f->reads;
  if (f->readsLeft == 0) return false;
  if (f->readsLeft > 0) --f->readsLeft;
  if (offset > f->bytes.size() || length > f->bytes.size() - offset) return false;
  std::memcpy(buffer, f->bytes.data() + offset, length);
  return true;
}

bool MemoryWrite(void*, std::uint64_t, std::uint32_t, const void*) { return false; }

void MemoryClose(void*) {}

bool MemorySize(void* impl, std::uint64_t* size) {
  auto* f = static_cast<MemoryFile*>(impl);
  if (f->failSize) return false;
  *size = f->bytes.size();
  return true;
}

const FileStreamOps kMemoryOps = {MemoryRead, MemoryWrite, MemoryClose, MemorySize};

}  // namespace

FileStream MemoryFile::Stream() { return FileStream{this, &kMemoryOps}; }

#ifdef _WIN32
std::string QemuImgMissing() {
  return "qemu-img is a tool of the host; the Windows test program (under Wine) does not run it";
}
int RunQemuImg(const std::vector<std::string>&) { return -1; }
#else
int RunQemuImg(const std::vector<std::string>& args) {
  std::string command = "qemu-img";
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >/dev/null 2>&1";
  return std::system(command.c_str());
}

std::string QemuImgMissing() {
  static const bool available = RunQemuImg({"--version"}) == 0;
  return available ? std::string() : "qemu-img is not installed (the qemu-utils package)";
}
#endif

}  // namespace qvt::test
