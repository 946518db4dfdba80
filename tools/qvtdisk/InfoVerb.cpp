// qvtdisk info: what a disk is, and each disk of its parent chain.
#include <string>

#include "ToolText.h"
#include "Verbs.h"
#include "VhdImage.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {
namespace {

std::string Field(TextView value, TextEncoding e) {
  return value.length > 0 ? Utf8FromText(value, e) : "(none)";
}

std::string Bytes(std::uint32_t sectors) {
  return std::to_string(static_cast<std::uint64_t>(sectors) * kSectorSize);
}

// One disk of the chain; a failure to count its grains is returned.
DiskResult DescribeVmdk(Console& console, VmdkImage* image, int index) {
  TextEncoding e = ENC_SHIFT_JIS;
  const VmdkDescriptor& d = *VmdkImageDescriptor(image, &e);
  std::string text = "  disk " + std::to_string(index) + ": " +
                     NativeFromEngine(image->path.CString()) + "\n";
  text += "    createType: " + Field(d.createType, e) + "\n";
  text += "    CID: " + Field(d.cid, e) + "\n";
  text += "    parentCID: " + Field(d.parentCid, e) + "\n";
  text += "    parent hint: " + Field(d.isChild ? d.parentFileNameHint : TextView{}, e) + "\n";
  std::uint64_t sectors = 0;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) sectors += d.extents[i].sectors;
  text += "    extents: " + std::to_string(d.extentCount) + (d.flat ? " flat" : " sparse") +
          ", " + std::to_string(sectors) + " sectors\n";
  DiskResult r = DISK_OK;
  if (d.flat) {
    text += "    grains: none (flat extents)\n";
  } else {
    std::uint64_t grains = 0;
    r = VmdkImageCountGrains(image, &grains);
    if (r == DISK_OK) text += "    grains: " + std::to_string(grains) + "\n";
  }
  console.Out(text);
  return r;
}

// One VHD of the chain and, below it, its parents.
void DescribeVhdChain(Console& console, VhdImage* image) {
  console.Out("chain:\n");
  int index = 0;
  for (VhdImage* at = image; at != nullptr; ++index) {
    std::uint32_t held = 0;
    for (std::uint32_t i = 0; i < at->blocks; ++i) held += at->bat[i] != kVhdUnusedBlock ? 1 : 0;
    std::string text = "  disk " + std::to_string(index) + ": " +
                       NativeFromEngine(at->path.CString()) + "\n";
    text += std::string("    type: ") + (at->differencing ? "differencing" : "dynamic") + "\n";
    text += "    block size: " + std::to_string(at->blockSize) + " bytes\n";
    text += "    blocks: " + std::to_string(held) + " of " + std::to_string(at->blocks) +
            " allocated\n";
    console.Out(text);
    if (at->parentMissing) console.Out("  parent: not opened\n");
    const ImageHandle* parent = &at->parent;
    at = VhdImageFromHandle(parent);
    if (parent->kind != IMAGE_NONE && at == nullptr) console.Out("  parent: not a VHD image\n");
  }
}

}  // namespace

int InfoVerb(Console& console, const ToolPath& disk) {
  ImageHandle image = NoImage();
  DiskResult r = OpenDisk(console, disk, true, VMDK_PARENT_TOLERATE, &image);
  if (r != DISK_OK) return EngineFailure(console, "cannot open " + disk.native, r);
  ImageGeometry g{};
  r = ImageGetSize(&image, &g);
  if (r != DISK_OK) {
    ImageClose(&image);
    return EngineFailure(console, "cannot size " + disk.native, r);
  }
  VmdkImage* vmdk = VmdkImageFromHandle(&image);
  std::string text = "kind: ";
  VhdImage* vhd = VhdImageFromHandle(&image);
  text += vmdk != nullptr  ? "VMDK"
          : vhd != nullptr ? "VHD"
          : image.kind == IMAGE_RAW_NDI ? "raw (.ndi)"
                                        : "other";
  text += "\ncapacity: " + std::to_string(g.sectors) + " sectors (" + Bytes(g.sectors) +
          " bytes)\n";
  text += "geometry: " + std::to_string(g.heads) + " heads, " + std::to_string(g.sectorsPerTrack) +
          " sectors per track, " + std::to_string(g.sectorSize) + " bytes per sector\n";
  console.Out(text);
  if (vhd != nullptr) DescribeVhdChain(console, vhd);
  if (vmdk != nullptr) {
    console.Out("chain:\n");
    int index = 0;
    for (VmdkImage* at = vmdk; at != nullptr && r == DISK_OK; ++index) {
      r = DescribeVmdk(console, at, index);
      if (r != DISK_OK) break;
      if (at->parentMissing) {
        std::string missing = "  parent: not opened";
        if (!at->parentPath.IsEmpty()) missing += " (" + NativeFromEngine(at->parentPath.CString()) + ")";
        console.Out(missing + "\n");
      }
      const ImageHandle* parent = VmdkImageParent(at);
      at = VmdkImageFromHandle(parent);
      if (parent != nullptr && at == nullptr) console.Out("  parent: not a VMDK disk\n");
    }
  }
  ImageClose(&image);
  if (r != DISK_OK) return EngineFailure(console, "cannot count the grains of " + disk.native, r);
  return kExitOk;
}

}  // namespace qvt::qvtdisk
