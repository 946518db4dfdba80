// qvtdisk fold-parent and fold-chain: a VHD child takes in its parent's
// sectors (and points at the grandparent), or everything it sees through
// its chain (and stands alone). The fold works on a copy beside the child;
// the copy then replaces the child, or is dropped when asked.
#include "ToolText.h"
#include "Verbs.h"
#include "VhdImage.h"

namespace qvt::qvtdisk {
namespace {

using FoldFn = DiskResult (*)(const char* child, const char* parent, ReplaceEntry* entry);

int Fold(Console& console, const ToolPath& child, bool commit, FoldFn fold) {
  PathBuffer parent;
  DiskResult r = VhdParentOf(child.engine.c_str(), &parent);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + child.native, r);
  if (parent.IsEmpty()) {
    return EngineFailure(console, child.native + " has no parent to fold", DISK_E_FORMAT);
  }
  ReplaceEntry entry;
  r = fold(child.engine.c_str(), parent.CString(), &entry);
  if (r != DISK_OK) {
    VhdDiscardFold(&entry);
    return EngineFailure(console, "cannot fold " + child.native, r);
  }
  r = commit ? VhdCommitFold(&entry, false) : VhdDiscardFold(&entry);
  if (r != DISK_OK) {
    return EngineFailure(console, std::string(commit ? "cannot commit" : "cannot discard") +
                                      " the fold of " + child.native,
                         r);
  }
  console.Out(std::string(commit ? "folded " : "folded and discarded ") +
              NativeFromEngine(parent.CString()) + " into " + child.native + "\n");
  return kExitOk;
}

}  // namespace

int FoldParentVerb(Console& console, const ToolPath& child, bool commit) {
  return Fold(console, child, commit, &VhdFoldParent);
}

int FoldChainVerb(Console& console, const ToolPath& child, bool commit) {
  return Fold(console, child, commit, &VhdFoldChain);
}

}  // namespace qvt::qvtdisk
