// qvtdisk copy: any disk the engine opens, through its chain, written out as
// a new VMDK without a parent, optionally trimmed to what its filesystems
// use. The copy writes new files only; after a failure or a stop it removes
// what it wrote.
#include "AllocationMapBuild.h"
#include "CopyPlan.h"
#include "FileLayer.h"
#include "ToolText.h"
#include "Verbs.h"
#include "VmdkCopy.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {
namespace {

// The source and its trim map; both released on every path.
struct OpenSource {
  ImageHandle image = NoImage();
  AllocationMap* map = nullptr;
  ~OpenSource() {
    FreeAllocationMap(map);
    ImageClose(&image);
  }
};

void RemoveAll(const std::vector<std::string>& files) {
  for (const std::string& f : files) {
    if (FsExists(f.c_str())) FsDelete(f.c_str());
  }
}

}  // namespace

int CopyVerb(Console& console, const ToolPath& source, const ToolPath& target,
             const CopyOptions& options) {
  OpenSource src;
  DiskResult r = OpenDisk(console, source, true, VMDK_PARENT_OPEN, &src.image);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + source.native, r);
  CopyPlan plan;
  r = plan.Make(options, &src.image, target.engine);
  if (r != DISK_OK) return EngineFailure(console, "cannot lay out the copy of " + source.native, r);
  // The files a failed copy removes must be its own.
  for (const std::string& f : plan.Files()) {
    if (FsExists(f.c_str())) {
      console.Err("qvtdisk: " + NativeFromEngine(f.c_str()) +
                  " exists; copy writes new files only\n");
      return kExitEngine;
    }
  }
  if (options.trim) {
    r = BuildAllocationMap(&src.image, &src.map);
    if (r != DISK_OK) {
      return EngineFailure(console, "cannot map the volumes of " + source.native, r);
    }
  }
  ProgressBar bar(console, console.ErrIsTerminal());
  r = VmdkCopyImage(target.engine.c_str(), &src.image, src.map, &ProgressBar::Report, &bar,
                    plan.Layout());
  bar.Finish();
  if (r != DISK_OK) {
    RemoveAll(plan.Files());
    return EngineFailure(console, "cannot copy " + source.native + " to " + target.native, r);
  }
  console.Out("copied " + source.native + " to " + target.native + "\n");
  return kExitOk;
}

}  // namespace qvt::qvtdisk
