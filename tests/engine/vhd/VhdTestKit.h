// Helpers of the VHD tests: dynamic images made by hand (for the machines
// without peer tools), big-endian patches that keep the checksums valid,
// whole-disk reads through the engine, and libvhdi as the independent
// reader of differencing chains.
#ifndef QVT_TESTS_ENGINE_VHD_VHDTESTKIT_H
#define QVT_TESTS_ENGINE_VHD_VHDTESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "DiskResult.h"
#include "TempFolder.h"

namespace qvt::test {

struct DynamicShape {
  std::uint16_t cylinders = 20;
  std::uint8_t heads = 4;
  std::uint8_t sectorsPerTrack = 17;  // 1360 sectors: a 512 KiB block and a short one
  std::uint32_t blockSize = 512 * 1024;
  std::uint64_t currentSize = 0;  // 0: from the geometry
  std::uint8_t idSeed = 1;
};

// A dynamic image with no block allocated: footer copy, header at 512, BAT
// at 1536, trailing footer right after the BAT.
std::vector<std::uint8_t> DynamicImage(const DynamicShape& shape);

using Bytes = std::vector<std::uint8_t>;

std::uint32_t PeekBE32(const Bytes& b, std::uint64_t at);
std::uint64_t PeekBE64(const Bytes& b, std::uint64_t at);
void PokeBE32(Bytes* b, std::uint64_t at, std::uint32_t v);
void PokeBE64(Bytes* b, std::uint64_t at, std::uint64_t v);
// Recomputes the checksums of both footer copies and of the header, as a
// tool that writes a bad field but a good checksum would.
void Reseal(Bytes* image);
// Offsets in an image file.
std::uint64_t TrailingFooterAt(const Bytes& image);
std::uint64_t HeaderAt(const Bytes& image);

Bytes ReadBytes(const TempFolder& dir, const std::wstring& name);
void WriteBytes(const TempFolder& dir, const std::wstring& name, const Bytes& bytes);

// The whole disk as the engine reads it through its chain; `result` gets
// the first failure (the bytes are then empty).
std::string EngineRead(const std::string& enginePath, DiskResult* result);
// Writes a pattern (byte i of the range = seed + i * 7 + i / 512) through the engine.
DiskResult EngineWrite(const std::string& enginePath, std::uint64_t offset, std::uint32_t length,
                       std::uint8_t seed);
std::string Pattern(std::uint32_t length, std::uint8_t seed);

// Debian's libvhdi, through the system Python, for reading chains.
bool LibvhdiAvailable();
// The top image of `chain` (top first, each the child of the next) read
// through libvhdi with each parent set; false when libvhdi refuses it.
bool LibvhdiRead(const std::vector<std::string>& nativeChain, std::string* bytes,
                 std::string* log);
// "identifier parent_identifier" of an image as libvhdi reports them.
bool LibvhdiIds(const std::string& nativePath, std::string* identifier, std::string* parent);

}  // namespace qvt::test

#endif
