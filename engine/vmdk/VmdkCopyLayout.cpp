// The layout of a standalone copy: the caller's, or one derived from the
// source VMDK (its extent sizes, its disk database completed from its
// ancestors, the hardware version and adapter the mode asks for).
#include <cstring>

#include "Heap.h"
#include "SparseCommon.h"
#include "VmdkCopy.h"
#include "VmdkCopyWork.h"

namespace qvt {
namespace {

DiskResult TakeEntries(std::uint32_t count, VmdkLayout* layout) {
  // count is at most kVmdkMaxExtents, so the size stays far below 2^32.
  const std::size_t bytes = sizeof(VmdkLayoutExtent) * count;
  layout->entries = static_cast<VmdkLayoutExtent*>(EngineAlloc(bytes));
  if (layout->entries == nullptr) return DISK_E_NOMEM;
  std::memset(layout->entries, 0, bytes);
  layout->extentCount = count;
  return DISK_OK;
}

// The caller's layout, checked for what the template cannot tell: extents
// that do not add up to the source (a copy would lose or invent sectors) and
// a stream-optimized layout with a descriptor file of its own (the template
// would name a "generated-stream.vmdk" that is never written).
DiskResult CopyGiven(ImageHandle* source, const VmdkLayout& given, VmdkLayout* layout) {
  if (given.extentCount == 0 || given.extentCount > kVmdkMaxExtents || given.entries == nullptr) {
    return DISK_E_FORMAT;
  }
  if (given.streamOptimized && given.split) return DISK_E_FORMAT;
  ImageGeometry g{};
  QVT_DISK_TRY(ImageGetSize(source, &g));
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < given.extentCount; ++i) {
    const VmdkLayoutExtent& e = given.entries[i];
    // A name must end inside its 520 bytes; one that does not is too long.
    if (std::memchr(e.fileName, '\0', sizeof e.fileName) == nullptr) return DISK_E_LIMIT;
    if (e.sectors == 0) return DISK_E_FORMAT;
    total += e.sectors;
  }
  if (total != g.sectors) return DISK_E_FORMAT;

  *layout = given;
  layout->entries = nullptr;  // the copy's own, below
  QVT_DISK_TRY(TakeEntries(given.extentCount, layout));
  std::memcpy(layout->entries, given.entries, sizeof(VmdkLayoutExtent) * given.extentCount);
  return DISK_OK;
}

const VmdkImage* ParentOf(const VmdkImage* image) {
  return VmdkImageFromHandle(VmdkImageParent(image));
}

// Walks up the VMDK parents of the source: the nearest one that has a value
// supplies each value the source's own descriptor lacks.
void CompleteFromAncestors(const VmdkImage& source, VmdkCopyWork* work,
                           std::uint32_t* encodingKind) {
  const VmdkDescriptor& d = source.descriptor;
  _VMWARE_VMDK_CHANGE_PARAM* c = work->change;
  *encodingKind = d.encodingAbsent ? kVmdkEncodingNone : d.encodingKind;
  bool encodingKnown = !d.encodingAbsent;
  bool uuidKnown = !d.uuidAbsent;
  for (const VmdkImage* a = ParentOf(&source); a != nullptr; a = ParentOf(a)) {
    const VmdkDescriptor& p = a->descriptor;
    if (!encodingKnown && !p.encodingAbsent) {
      encodingKnown = true;
      *encodingKind = p.encodingKind;
    }
    if (!uuidKnown && !p.uuidAbsent) {
      uuidKnown = true;
      c->setUuid = 1;
      c->uuid = p.uuid;
      work->uuidEnc = static_cast<TextEncoding>(p.textEncoding);
    }
    if (d.cylinders == 0 && !c->setCylinders && p.cylinders != 0) {
      c->setCylinders = 1;
      c->cylinders = p.cylinders;
    }
    if (d.heads == 0 && !c->setHeads && p.heads != 0) {
      c->setHeads = 1;
      c->heads = p.heads;
    }
    if (d.sectors == 0 && !c->setSectors && p.sectors != 0) {
      c->setSectors = 1;
      c->sectors = p.sectors;
    }
    if (d.adapterType == kVmdkAdapterNone && !c->setAdapterType &&
        p.adapterType != kVmdkAdapterNone) {
      c->setAdapterType = 1;
      c->adapterType = p.adapterType;
    }
  }
}

// The encoding key must name the encoding the new text is written in, or a
// reader would take the text wrongly: layout encodings 1 and 2 write their
// own key; with 0 a Shift_JIS key (the source's or an ancestor's) is kept
// and a UTF-8 one becomes Shift_JIS, as the text is then Shift_JIS. A key
// naming an encoding the engine does not know is left as it is.
void ChooseEncodingKey(const VmdkDescriptor& d, std::uint32_t layoutEncoding,
                       std::uint32_t keyKind, _VMWARE_VMDK_CHANGE_PARAM* c) {
  std::uint32_t want = kVmdkEncodingNone;
  if (layoutEncoding == kVmdkEncodingUtf8) {
    want = kVmdkEncodingUtf8;
  } else if (layoutEncoding == kVmdkEncodingShiftJis || keyKind == kVmdkEncodingShiftJis ||
             keyKind == kVmdkEncodingUtf8) {
    want = kVmdkEncodingShiftJis;
  }
  if (want == kVmdkEncodingNone) return;
  if (!d.encodingAbsent && d.encodingKind == want) return;
  c->setEncoding = 1;
  c->encoding = want;
}

bool Known(std::uint32_t hwVersionIndex) { return VmdkHwVersionText(hwVersionIndex) != nullptr; }
bool KnownAdapter(std::uint32_t adapter) { return VmdkAdapterText(adapter) != nullptr; }

// The hardware version and adapter the mode asks for: 3 the source's, 2 and
// 4 the layout's, 1 the source's with the layout's where the source has
// none. A value that stays unknown has no text to write: DISK_E_LIMIT.
DiskResult ChooseHardware(const VmdkDescriptor& d, const VmdkLayout& given,
                          _VMWARE_VMDK_CHANGE_PARAM* c, VmdkLayout* layout) {
  std::uint32_t hw = d.hwVersionIndex;
  std::uint32_t adapter = c->setAdapterType ? c->adapterType : d.adapterType;
  if (given.mode == kVmdkLayoutGivenValues || given.mode == kVmdkLayoutDerived) {
    hw = given.hwVersionIndex;
    adapter = given.adapter;
  } else if (given.mode == kVmdkLayoutSourceFirst) {
    if (!Known(hw)) hw = given.hwVersionIndex;
    if (!KnownAdapter(adapter)) adapter = given.adapter;
  }
  if (!Known(hw) || !KnownAdapter(adapter)) return DISK_E_LIMIT;
  c->setHwVersion = 1;
  c->hwVersionIndex = hw;
  c->setAdapterType = 1;
  c->adapterType = adapter;
  layout->hwVersionIndex = hw;
  layout->adapter = adapter;
  return DISK_OK;
}

DiskResult Derive(const VmdkImage& source, const VmdkLayout& given, VmdkCopyWork* work) {
  const VmdkDescriptor& d = source.descriptor;
  if (given.encoding > kVmdkEncodingUtf8) return DISK_E_FORMAT;
  VmdkLayout* layout = &work->layout;
  QVT_DISK_TRY(TakeEntries(d.extentCount, layout));
  layout->mode = given.mode;
  layout->split = d.extentCount > 1 ? 1 : 0;
  layout->kind = kVmdkLayoutSparse;
  layout->compressed = 0;
  layout->streamOptimized = given.streamOptimized;
  layout->encoding = given.encoding;
  // An open image's extents add up to its 32-bit capacity.
  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    layout->entries[i].sectors = static_cast<std::uint32_t>(d.extents[i].sectors);
  }
  std::uint32_t keyKind = kVmdkEncodingNone;
  CompleteFromAncestors(source, work, &keyKind);
  ChooseEncodingKey(d, given.encoding, keyKind, work->change);
  QVT_DISK_TRY(ChooseHardware(d, given, work->change, layout));
  work->derivedFrom = &source;
  return DISK_OK;
}

}  // namespace

DiskResult VmdkCopyChooseLayout(ImageHandle* source, const VmdkLayout& given, VmdkCopyWork* work) {
  // No mode past the derived one has a meaning; refused like any other
  // value outside the call's limits.
  if (given.mode > kVmdkLayoutDerived) return DISK_E_LIMIT;
  const VmdkImage* image = VmdkImageFromHandle(source);
  if (image != nullptr && image->extentCount == 0) return DISK_E_LIMIT;
  if (given.mode == kVmdkLayoutAsGiven || image == nullptr) {
    if (given.mode == kVmdkLayoutSourceOnly || given.mode == kVmdkLayoutDerived) {
      return DISK_E_LIMIT;
    }
    return CopyGiven(source, given, &work->layout);
  }
  return Derive(*image, given, work);
}

}  // namespace qvt
