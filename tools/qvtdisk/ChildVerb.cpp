// qvtdisk child: a new delta disk over an existing one, as creating a child
// node does for each of its disks.
#include "ImageOpen.h"
#include "ToolText.h"
#include "Verbs.h"
#include "VhdImage.h"
#include "VmdkCreateChild.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {

namespace {

// A VHD parent gets a differencing child, whose locators always carry both
// path forms; --absolute has no meaning for it.
int VhdChild(Console& console, const ToolPath& parent, const ToolPath& child) {
  const DiskResult r = VhdCreateChild(parent.engine.c_str(), child.engine.c_str());
  if (r != DISK_OK) return EngineFailure(console, "cannot create the child " + child.native, r);
  return kExitOk;
}

}  // namespace

int ChildVerb(Console& console, const ToolPath& parent, const ToolPath& child, bool absolute) {
  ImageHandle probe = NoImage();
  const DiskResult opened =
      ImageOpen(&probe, parent.engine.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr);
  const bool vhd = opened == DISK_OK && probe.kind == IMAGE_VHD;
  ImageClose(&probe);
  if (vhd) return VhdChild(console, parent, child);
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
