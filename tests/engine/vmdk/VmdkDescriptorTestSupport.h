// What the descriptor tests share: texts to start from, the one-change
// damage helper, disks in memory and on disk, and qemu-img.
#ifndef QVT_TESTS_ENGINE_VMDK_VMDKDESCRIPTORTESTSUPPORT_H
#define QVT_TESTS_ENGINE_VMDK_VMDKDESCRIPTORTESTSUPPORT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ByteBuffer.h"
#include "FileStream.h"
#include "TextEncoding.h"
#include "VmdkDescriptor.h"

namespace qvt::test {

// A base disk's descriptor as VMware writes one, and a child of it.
extern const char kBaseText[];
extern const char kChildText[];

inline TextView ViewOf(const std::string& s) {
  return MakeView(s.data(), static_cast<std::uint32_t>(s.size()));
}
inline std::string StringOf(TextView v) {
  return v.data == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char*>(v.data), v.length);
}
// A UTF-8 test text in encoding e (a failed test when it cannot be).
std::string Encoded(const std::string& utf8, TextEncoding e);

// `text` with its only occurrence of `from` replaced by `to`: one fault per
// damaged descriptor. A `from` that is missing or not unique fails the test.
std::string Changed(const std::string& text, const std::string& from, const std::string& to);

// A descriptor record on the heap (it is 32 KiB).
std::unique_ptr<VmdkDescriptor> NewRecord();

// Parses a text; the record is valid while `text` lives.
bool Parse(const std::string& text, VmdkDescriptor* d);

// The bytes of a single-file sparse disk: a valid sparse header announcing
// `descriptorSectors` sectors of embedded descriptor at sector 1, then the
// area holding `descriptor` (zero-padded, or cut to the area).
std::string EmbeddedDisk(const std::string& descriptor, std::uint32_t descriptorSectors);
// The 512-byte sparse header that EmbeddedDisk writes.
std::string SparseHeaderBytes(std::uint64_t descriptorOffset, std::uint64_t descriptorSectors);

// Frees the engine's descriptor text when the scope ends.
struct OwnedText {
  ByteBuffer text{};
  ~OwnedText() { VmdkFreeDescriptorText(&text); }
  std::string String() const { return StringOf(BufferView(text)); }
};

// A FileStream over bytes in memory, whose operations can be made to fail.
struct MemoryFile {
  std::string bytes;
  bool failSize = false;
  long readsLeft = -1;  // reads that succeed before all fail; -1: no fault
  int reads = 0;
  FileStream Stream();
};

// Why qemu-img cannot be used here, or "" when it runs; the tests that need
// it skip with this reason.
std::string QemuImgMissing();
// Runs qemu-img with the arguments (each quoted); its exit status.
int RunQemuImg(const std::vector<std::string>& args);

}  // namespace qvt::test

#endif
