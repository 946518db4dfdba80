// Disks for the verbs that qemu-img judges: a base qemu-img makes, children
// `qvtdisk child` makes (the engine refuses the disk database qemu-img
// writes into children of its own), data qemu-io writes; and what a folder
// holds, to tell that a verb left the live files alone.
#ifndef QVT_TESTS_TOOLS_QVTDISK_PEERCHAINKIT_H
#define QVT_TESTS_TOOLS_QVTDISK_PEERCHAINKIT_H

#include <map>
#include <string>
#include <vector>

#include "TempFolder.h"

namespace qvt::test {

// Each file's name and a digest of its bytes (some disks are large).
using FolderState = std::map<std::string, std::string>;
FolderState Snapshot(const TempFolder& dir);

// The quoted native path of a name in the folder, for shell commands.
std::string Shell(const TempFolder& dir, const std::wstring& name);

// Runs a shell command in the folder (qemu-img looks for a relative backing
// name from the working folder); its exit status, the output in `log`.
int RunIn(const TempFolder& dir, const std::string& command, std::string* log = nullptr);

// One disk of a chain and the qemu-io commands ("-c 'write ...'") written
// into it before its child is made: a write gives a disk a new CID, which a
// child made earlier would no longer match.
struct ChainDisk {
  std::wstring name;
  std::string writes;
};

// The first disk by `qemu-img create -f vmdk -o subformat=...` at `size`,
// each next one a child of the one before by `qvtdisk child`. False (with
// the reason in `log`) when a step fails.
bool MakeChain(const TempFolder& dir, const std::string& subformat, const std::string& size,
               const std::vector<ChainDisk>& disks, std::string* log);

// What `qemu-img info --backing-chain` names as backing files, in order,
// as the disks name them.
std::vector<std::string> BackingFiles(const TempFolder& dir, const std::wstring& name,
                                      std::string* log);

}  // namespace qvt::test

#endif
