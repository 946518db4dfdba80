#include "MergeChainKit.h"

#include <filesystem>
#include <fstream>

#include "SparseExtent.h"
#include "SparseTestKit.h"
#include "VmdkCreateChild.h"
#include "VmdkImage.h"

namespace qvt::test {

DiskResult CreateChildOf(const std::string& parentPath, const std::string& childPath) {
  VmdkImage* parent = nullptr;
  DiskResult r =
      VmdkImageOpen(&parent, parentPath.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr);
  if (r != DISK_OK) return r;
  r = VmdkCreateChild(parent, parentPath.c_str(), childPath.c_str(), false);
  VmdkImageClose(parent);
  return r;
}

int ChainFolder::Run(const std::string& command, std::string* log) const {
  return test::Run("cd " + Quote(dir_.Native().string()) + " && " + command, log);
}

std::string ChainFolder::Q(const std::wstring& name) const {
  return Quote(dir_.Native(name).string());
}

Files ChainFolder::Snapshot() const {
  Files files;
  for (const auto& f : std::filesystem::recursive_directory_iterator(dir_.Native())) {
    if (!f.is_regular_file()) continue;
    // Read whole: the walks take a snapshot at every step, and a character
    // at a time is slow in the sanitizer build.
    std::string bytes(static_cast<std::size_t>(f.file_size()), '\0');
    std::ifstream in(f.path(), std::ios::binary);
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    files[std::filesystem::relative(f.path(), dir_.Native()).string()] =
        in.gcount() == static_cast<std::streamsize>(bytes.size()) ? bytes : "(unreadable)";
  }
  return files;
}

bool ChainFolder::OwnsNoGrain(const std::wstring& name, std::uint32_t first, std::uint32_t count,
                              std::uint64_t capacity) const {
  SparseExtent extent;
  if (OpenExtent(&extent, dir_.Engine(name), true, capacity) != DISK_OK) return false;
  bool unallocated = false;
  const DiskResult r = SparseIsUnallocated(&extent, first, count, &unallocated);
  SparseClose(&extent);
  return r == DISK_OK && unallocated;
}

}  // namespace qvt::test
