// qvtdisk set-parent-hint: what the hard disk image property dialog's OK
// does, from the command line.
#include "FileLayer.h"
#include "ToolText.h"
#include "Verbs.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {

int SetParentHintVerb(Console& console, const ToolPath& disk, const std::string& hint) {
  std::string sjis;
  if (!ShiftJisFromUtf8(hint, &sjis)) {
    console.Err("qvtdisk: the hint has characters Shift_JIS lacks\n");
    return kExitUsage;
  }
  ImageHandle image = NoImage();
  DiskResult r = OpenDisk(console, disk, false, VMDK_PARENT_TOLERATE, &image);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + disk.native, r);
  VmdkImage* vmdk = VmdkImageFromHandle(&image);
  std::string what = "cannot change " + disk.native;
  if (vmdk == nullptr) {
    what = disk.native + " is not a VMDK disk";
    r = DISK_E_UNSUPPORTED;
  } else if (!VmdkImageIsChild(vmdk)) {
    what = disk.native + " is a base disk, which has no parent hint";
    r = DISK_E_FORMAT;
  } else {
    r = VmdkApplyParentHint(vmdk, nullptr,
                            MakeView(sjis.data(), static_cast<std::uint32_t>(sjis.size())));
    if (r == DISK_E_FORMAT) {
      what = "the hint must be a Windows path to another disk (backslashes, no / : * ? \" < > |)";
    }
    if (r == DISK_OK && vmdk->parentMissing) {
      console.Err("qvtdisk: warning: the new parent " +
                  NativeFromEngine(vmdk->parentPath.CString()) + " does not open\n");
    }
  }
  ImageClose(&image);
  if (r != DISK_OK) return EngineFailure(console, what, r);
  return kExitOk;
}

}  // namespace qvt::qvtdisk
