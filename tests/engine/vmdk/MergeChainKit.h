// Chains for the merge tests: a base qemu-img makes, children the engine
// makes (it refuses the disk database qemu-img writes into children), data
// written by qemu-io, and the folder's files for before-and-after checks.
#ifndef QVT_TESTS_ENGINE_VMDK_MERGECHAINKIT_H
#define QVT_TESTS_ENGINE_VMDK_MERGECHAINKIT_H

#include <cstdint>
#include <map>
#include <string>

#include "DiskResult.h"
#include "TempFolder.h"

namespace qvt::test {

using Files = std::map<std::string, std::string>;

// The engine's child of `parentPath` (engine paths), with a relative hint.
DiskResult CreateChildOf(const std::string& parentPath, const std::string& childPath);

class ChainFolder {
 public:
  // Runs `command` in the folder (qemu-img resolves relative backing names
  // from the working folder); its exit status.
  int Run(const std::string& command, std::string* log = nullptr) const;
  // A file's native path, quoted for the shell.
  std::string Q(const std::wstring& name) const;
  std::string E(const std::wstring& name) const { return dir_.Engine(name); }
  Files Snapshot() const;
  // Whether the disk's own file (single-file sparse) leaves the sectors
  // unallocated.
  bool OwnsNoGrain(const std::wstring& name, std::uint32_t first, std::uint32_t count,
                   std::uint64_t capacity) const;
  const TempFolder& Dir() const { return dir_; }

 private:
  TempFolder dir_;
};

}  // namespace qvt::test

#endif
