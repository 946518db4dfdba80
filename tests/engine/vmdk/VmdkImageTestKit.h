// Helpers of the image tests: VMDK disks and chains written into a test
// folder by the engine's own extent writer from disks in memory, with
// descriptors written out here, so that every test runs natively and under
// Wine alike.
#ifndef QVT_TESTS_ENGINE_VMDK_VMDKIMAGETESTKIT_H
#define QVT_TESTS_ENGINE_VMDK_VMDKIMAGETESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "ImageHandle.h"
#include "SparseTestKit.h"
#include "TempFolder.h"

namespace qvt::test {

using Bytes = std::vector<std::uint8_t>;

struct ExtentLine {
  std::uint32_t sectors;
  std::string type;  // SPARSE, FLAT, VMFS
  std::string file;
  std::uint64_t offset = 0;  // written for FLAT and VMFS
};

// A base descriptor (with ddb.adapterType, geometry 16/63) or, with a hint,
// a child descriptor (no ddb lines).
std::string DescriptorText(const std::string& createType, const std::vector<ExtentLine>& extents,
                           const std::string& hint = "", const std::string& cid = "0000abcd",
                           const std::string& parentCid = "ffffffff");

class DiskMaker {
 public:
  explicit DiskMaker(const TempFolder& dir) : dir_(dir) {}

  // A single-file sparse disk (monolithicSparse, or streamOptimized when
  // compressed) holding `data`; a child of `hint` when one is given.
  void SingleFile(const std::wstring& name, MemoryDisk& data, const std::string& hint = "",
                  bool compressed = false) const;
  // A twoGbMaxExtentSparse disk: its descriptor `name` and one extent file
  // per entry of `sizes`, named name-s001.vmdk and on.
  void Split(const std::wstring& name, MemoryDisk& data, const std::vector<std::uint32_t>& sizes,
             const std::string& hint = "") const;
  // A twoGbMaxExtentFlat disk whose extents start `offset` sectors into
  // their files (monolithicFlat for one extent).
  void Flat(const std::wstring& name, MemoryDisk& data, const std::vector<std::uint32_t>& sizes,
            std::uint64_t offset = 0) const;

  std::string Engine(const std::wstring& name) const { return dir_.Engine(name); }

 private:
  const TempFolder& dir_;
};

std::string Narrow(const std::wstring& name);

// The whole image as ImageRead gives it, in uneven pieces (empty on failure,
// with *result set).
Bytes ReadImage(ImageHandle* image, DiskResult* result);

}  // namespace qvt::test

#endif
