// qvtdisk reparent, merge-middle, consolidate and commit: the engine writes
// temporary copies ("_QVT_TEMP") and registers them; this verb then puts
// them in place (the live files leave as "_QVT_DEL", deleted or recycled),
// or keeps them for a look, or, after a failure or a stop, removes them.
#include <string>
#include <vector>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Replacement.h"
#include "TextCompare.h"
#include "ToolText.h"
#include "Verbs.h"
#include "VmdkImage.h"
#include "VmdkImagePath.h"
#include "VmdkMerge.h"

namespace qvt::qvtdisk {
namespace {

DiskResult Perform(ChainVerbKind kind, const ToolPath& child, const ToolPath& other,
                   const ChainVerbOptions& o, Replacement* registered, ProgressBar* bar) {
  const char* c = child.engine.c_str();
  const char* x = other.engine.c_str();
  switch (kind) {
    case ChainVerbKind::kReparent:
      return VmdkReparent(c, x, o.absolute, registered->Set(), &ProgressBar::Report, bar);
    case ChainVerbKind::kMergeMiddle:
      return VmdkMergeMiddleIntoChild(c, x, o.absolute, o.preventFragment, registered->Set(),
                                      &ProgressBar::Report, bar);
    case ChainVerbKind::kConsolidate:
      return VmdkConsolidate(c, x, o.preventFragment, registered->Set(), &ProgressBar::Report,
                             bar);
    case ChainVerbKind::kCommit:
      return VmdkCommitIntoParent(c, x, o.preventFragment, registered->List(),
                                  &ProgressBar::Report, bar);
  }
  return DISK_E_UNSUPPORTED;
}

// What the verb does, for its messages: "merge M into C" and "merged M into C".
std::string Doing(ChainVerbKind kind, const ToolPath& child, const ToolPath& other, bool done) {
  const std::string& c = child.native;
  const std::string& x = other.native;
  switch (kind) {
    case ChainVerbKind::kReparent:
      return (done ? "re-pointed " : "re-point ") + c + " past " + x;
    case ChainVerbKind::kMergeMiddle:
      return (done ? "merged " : "merge ") + x + " into " + c;
    case ChainVerbKind::kConsolidate:
      return (done ? "consolidated " : "consolidate ") + c + " with the chain of " + x;
    case ChainVerbKind::kCommit:
      return (done ? "committed " : "commit ") + c + " into " + x;
  }
  return std::string();
}

std::string Lines(const std::vector<std::string>& enginePaths) {
  std::string text;
  for (const std::string& p : enginePaths) text += "  " + NativeFromEngine(p.c_str()) + "\n";
  return text;
}

// A failed commit puts back the file it failed on. When no live file had
// been replaced yet, the copies go, as after any failure; otherwise they
// stay, as what finishes the change by hand.
void AfterFailedCommit(Console& console, bool changed, const std::vector<std::string>& temps,
                       Replacement* registered) {
  if (changed) {
    registered->Forget();
    const std::vector<std::string> left = StillThere(temps);
    if (left.empty()) {
      console.Err("qvtdisk: the new files are in place; a replaced file (_QVT_DEL) stays\n");
    } else {
      console.Err("qvtdisk: only some files were put in place; to finish, rename each of these\n"
                  "to its name without _QVT_TEMP:\n" + Lines(left));
    }
    return;
  }
  registered->Rollback();
  // The file the commit failed on is no longer registered.
  for (const std::string& t : StillThere(temps)) FsDelete(t.c_str());
  const std::vector<std::string> stuck = StillThere(temps);
  if (!stuck.empty()) console.Err("qvtdisk: cannot remove:\n" + Lines(stuck));
}

// The engine trusts its caller to name the child's own parent; a wrong one
// here would fold the child into a disk other children read through. The
// chain top of a consolidation may be any disk the child should take in.
bool NeedsParentLink(ChainVerbKind kind) { return kind != ChainVerbKind::kConsolidate; }

DiskResult ParentOf(const ToolPath& child, PathBuffer* parent) {
  VmdkImage* image = nullptr;
  const DiskResult r = VmdkImageOpen(&image, child.engine.c_str(), true, VMDK_PARENT_CHILD,
                                     nullptr, nullptr);
  if (r != DISK_OK) return r;
  // The open of a child alone leaves its parent's name unresolved.
  PathBuffer resolved;
  DiskResult named = VmdkResolveName(image->path, image->descriptor.parentFileNameHint,
                                     static_cast<TextEncoding>(image->descriptor.textEncoding),
                                     &resolved);
  VmdkImageClose(image);
  if (named != DISK_OK) return named;
  return PathNormalize(BufferView(resolved.buffer), ENC_SHIFT_JIS, parent) ? DISK_OK
                                                                            : DISK_E_LIMIT;
}

bool SameFile(const PathBuffer& a, const std::string& b) {
  PathBuffer normal;
  const TextView given = MakeView(b.data(), static_cast<std::uint32_t>(b.size()));
  return PathNormalize(given, ENC_SHIFT_JIS, &normal) &&
         TextEquals(BufferView(a.buffer), BufferView(normal.buffer), ENC_SHIFT_JIS, true);
}

int CheckParentLink(Console& console, ChainVerbKind kind, const ToolPath& child,
                    const ToolPath& other) {
  PathBuffer parent;
  const DiskResult r = ParentOf(child, &parent);
  if (r != DISK_OK) return EngineFailure(console, "cannot read the parent of " + child.native, r);
  if (SameFile(parent, other.engine)) return kExitOk;
  return EngineFailure(console,
                       "cannot " + Doing(kind, child, other, false) + ": " + other.native +
                           " is not the parent of " + child.native + " (its parent is " +
                           NativeFromEngine(parent.CString()) + ")",
                       DISK_E_FORMAT);
}

}  // namespace

int ChainVerb(Console& console, ChainVerbKind kind, const ToolPath& child, const ToolPath& other,
              const ChainVerbOptions& options) {
  if (NeedsParentLink(kind)) {
    const int linked = CheckParentLink(console, kind, child, other);
    if (linked != kExitOk) return linked;
  }
  Replacement registered;
  ProgressBar bar(console, console.ErrIsTerminal());
  DiskResult r = Perform(kind, child, other, options, &registered, &bar);
  bar.Finish();
  const std::string doing = Doing(kind, child, other, false);
  const std::vector<std::string> temps = registered.Temps();
  if (r != DISK_OK) {
    const DiskResult undone = registered.Rollback();
    if (undone != DISK_OK) {
      console.Err("qvtdisk: cannot remove the temporary files: " + DiskResultText(undone) + "\n");
      const std::vector<std::string> stuck = StillThere(temps);
      if (!stuck.empty()) console.Err("qvtdisk: left in place:\n" + Lines(stuck));
    }
    return EngineFailure(console, "cannot " + doing, r);
  }
  if (options.keepTemp) {
    registered.Forget();
    console.Out("kept the temporary files; the live files are unchanged:\n" + Lines(temps));
    return kExitOk;
  }
  bool changed = false;
  r = registered.Commit(options.recycle, &changed);
  if (r != DISK_OK) {
    AfterFailedCommit(console, changed, temps, &registered);
    return EngineFailure(console, "cannot put the files in place to " + doing, r);
  }
  console.Out(Doing(kind, child, other, true) + "\n");
  return kExitOk;
}

}  // namespace qvt::qvtdisk
