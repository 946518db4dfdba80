// qvtdisk child: a new delta disk over an existing one, as creating a child
// node does for each of its disks.
#include "ToolText.h"
#include "Verbs.h"
#include "VmdkCreateChild.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {

int ChildVerb(Console& console, const ToolPath& parent, const ToolPath& child, bool absolute) {
  VmdkImage* image = nullptr;
  DiskResult r = VmdkImageOpen(&image, parent.engine.c_str(), true, VMDK_PARENT_OPEN, nullptr,
                               nullptr);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + parent.native, r);
  r = VmdkCreateChild(image, parent.engine.c_str(), child.engine.c_str(), absolute);
  VmdkImageClose(image);
  if (r != DISK_OK) {
    return EngineFailure(console, "cannot create the child " + child.native, r);
  }
  return kExitOk;
}

}  // namespace qvt::qvtdisk
