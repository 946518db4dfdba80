#include "CopyPlan.h"

#include <cstring>

#include "EnginePath.h"
#include "VmdkCopy.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {
namespace {

// The nearest value the source's chain knows: a child usually names no
// adapter, its base does.
std::uint32_t SourceAdapter(const VmdkImage* image) {
  for (const VmdkImage* at = image; at != nullptr; at = VmdkImageFromHandle(VmdkImageParent(at))) {
    if (VmdkAdapterText(at->descriptor.adapterType) != nullptr) return at->descriptor.adapterType;
  }
  return kVmdkAdapterLsiLogic;
}

std::uint32_t SourceHwVersion(const VmdkImage* image) {
  for (const VmdkImage* at = image; at != nullptr; at = VmdkImageFromHandle(VmdkImageParent(at))) {
    if (VmdkHwVersionText(at->descriptor.hwVersionIndex) != nullptr) {
      return at->descriptor.hwVersionIndex;
    }
  }
  return kVmdkHwVersionDefault;
}

// The key the source's text carries, so that a copy keeps it; none for a
// key the engine does not write.
std::uint32_t SourceEncoding(const VmdkImage* image) {
  if (image == nullptr || image->descriptor.encodingAbsent) return kVmdkEncodingNone;
  const std::uint32_t kind = image->descriptor.encodingKind;
  return kind == kVmdkEncodingShiftJis || kind == kVmdkEncodingUtf8 ? kind : kVmdkEncodingNone;
}

std::uint32_t ChooseMode(const CopyOptions& o, bool vmdk) {
  if (o.mode != kCopyValueUnset) return o.mode;
  if (!vmdk || o.layout != CopyLayoutKind::kFromSource) return kVmdkLayoutAsGiven;
  // Values the user named replace the source's; otherwise the source's are
  // kept and the layout's fill only what it lacks.
  const bool named = o.adapter != kCopyValueUnset || o.hwVersionIndex != kCopyValueUnset;
  return named ? kVmdkLayoutGivenValues : kVmdkLayoutSourceFirst;
}

// The engine's names: B-s001.X and on for split extents, B-flat.X for one
// flat extent (without an extension, no dot).
std::vector<std::string> FilesOf(const std::string& target, bool split, bool flat,
                                 std::uint32_t extents) {
  std::vector<std::string> files = {target};
  if (!split && !flat) return files;
  TextView directory, base, extension;
  PathSplit(MakeView(target.data(), static_cast<std::uint32_t>(target.size())), ENC_SHIFT_JIS,
            &directory, &base, &extension);
  const auto text = [](TextView v) {
    return std::string(reinterpret_cast<const char*>(v.data), v.length);
  };
  const std::string tail = extension.length != 0 ? "." + text(extension) : std::string();
  const std::string stem = text(directory) + text(base);
  if (!split) {
    files.push_back(stem + "-flat" + tail);
    return files;
  }
  for (std::uint32_t i = 1; i <= extents; ++i) {
    std::string number = std::to_string(i);
    if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
    files.push_back(stem + "-s" + number + tail);
  }
  return files;
}

}  // namespace

void CopyPlan::FixedLayout(CopyLayoutKind kind, std::uint32_t sectors) {
  entries_.clear();
  const std::uint32_t piece = kind == CopyLayoutKind::kSplit ? kSplitExtentSectors : sectors;
  for (std::uint32_t done = 0; done < sectors;) {
    VmdkLayoutExtent e{};
    e.sectors = sectors - done < piece ? sectors - done : piece;
    entries_.push_back(e);
    done += e.sectors;
  }
  layout_.split = kind == CopyLayoutKind::kSplit ? 1 : 0;
  layout_.kind = kind == CopyLayoutKind::kFlat ? kVmdkLayoutFlat : kVmdkLayoutSparse;
  layout_.compressed = kind == CopyLayoutKind::kStream ? 1 : 0;
  layout_.streamOptimized = kind == CopyLayoutKind::kStream ? 1 : 0;
  layout_.extentCount = static_cast<std::uint32_t>(entries_.size());
  layout_.entries = entries_.data();
}

DiskResult CopyPlan::Make(const CopyOptions& options, const ImageHandle* source,
                          const std::string& targetEngine) {
  ImageGeometry g{};
  const DiskResult r = ImageGetSize(source, &g);
  if (r != DISK_OK) return r;
  const VmdkImage* vmdk = VmdkImageFromHandle(source);
  layout_ = VmdkLayout{};
  layout_.mode = ChooseMode(options, vmdk != nullptr);
  layout_.adapter = options.adapter != kCopyValueUnset ? options.adapter : SourceAdapter(vmdk);
  layout_.hwVersionIndex =
      options.hwVersionIndex != kCopyValueUnset ? options.hwVersionIndex : SourceHwVersion(vmdk);
  layout_.encoding = SourceEncoding(vmdk);
  const CopyLayoutKind kind =
      options.layout == CopyLayoutKind::kFromSource ? CopyLayoutKind::kSingle : options.layout;
  FixedLayout(kind, g.sectors);
  if (layout_.extentCount > kVmdkMaxExtents) return DISK_E_LIMIT;
  // Past mode 0 a VMDK source gives its own extents, always sparse.
  const bool derived = layout_.mode != kVmdkLayoutAsGiven && vmdk != nullptr;
  const std::uint32_t extents = derived ? vmdk->descriptor.extentCount : layout_.extentCount;
  const bool split = derived ? extents > 1 : layout_.split != 0;
  const bool flat = !derived && layout_.kind != kVmdkLayoutSparse;
  files_ = FilesOf(targetEngine, split, flat, extents);
  return DISK_OK;
}

}  // namespace qvt::qvtdisk
