// The descriptor text of a standalone copy: the template for a caller's
// layout; for a derived one the source's own text rewritten, so that its
// disk database survives, as the descriptor of a base disk of the sparse
// files the copy writes.
#include <cstring>

#include "Heap.h"
#include "SparseCommon.h"
#include "TextConvert.h"
#include "VmdkCopyWork.h"

namespace qvt {
namespace {

constexpr std::uint32_t kIdeMaxCylinders = 16383;
// A source without a geometry (a child opened without its parent) gets the
// one a base descriptor without geometry keys stands for, as the template
// does; nothing divides by zero.
constexpr std::uint32_t kDefaultHeads = 16;
constexpr std::uint32_t kDefaultSectorsPerTrack = 63;

TextView Ascii(const char* text) {
  return MakeView(text, static_cast<std::uint32_t>(std::strlen(text)));
}

// A derived layout is always sparse, so the copy names a sparse createType
// whatever the source was (flat, VMFS, stream-optimized): a descriptor that
// named the source's type would not describe its files.
const char* SparseCreateType(const VmdkLayout& layout) {
  if (layout.split) return "twoGbMaxExtentSparse";
  return layout.streamOptimized ? "streamOptimized" : "monolithicSparse";
}

// The geometry keys: the source's (or an ancestor's) where it has them,
// else the source image's geometry, cylinders from the capacity.
void SetGeometry(const VmdkDescriptor& d, const ImageGeometry& g, std::uint32_t adapter,
                 _VMWARE_VMDK_CHANGE_PARAM* c) {
  std::uint32_t heads = g.heads;
  std::uint32_t perTrack = g.sectorsPerTrack;
  if (heads == 0 || perTrack == 0) {
    heads = kDefaultHeads;
    perTrack = kDefaultSectorsPerTrack;
  }
  if (!c->setHeads) c->heads = d.heads != 0 ? d.heads : heads;
  if (!c->setSectors) c->sectors = d.sectors != 0 ? d.sectors : perTrack;
  if (!c->setCylinders) {
    std::uint32_t cylinders = d.cylinders;
    if (cylinders == 0) {
      // Both are 1 or more here: the descriptor's own or the defaults.
      cylinders = g.sectors / c->heads / c->sectors;
      if (adapter == kVmdkAdapterIde && cylinders > kIdeMaxCylinders) cylinders = kIdeMaxCylinders;
    }
    c->cylinders = cylinders;
  }
  c->setHeads = c->setSectors = c->setCylinders = 1;
}

DiskResult SetExtents(const VmdkLayout& layout, _VMWARE_VMDK_CHANGE_PARAM* c) {
  for (std::uint32_t i = 0; i < layout.extentCount; ++i) {
    const VmdkLayoutExtent& e = layout.entries[i];
    const auto length = static_cast<std::uint32_t>(std::strlen(e.fileName));
    if (!VmdkChangeSetExtent(c, i, e.sectors, e.fileName, length, true)) return DISK_E_LIMIT;
  }
  c->extentCount = layout.extentCount;
  return DISK_OK;
}

// What the rewrite must produce: a base disk with the copy's extents.
DiskResult CheckParses(TextView text, const VmdkLayout& layout) {
  HeapBlock area(sizeof(VmdkDescriptor));
  if (!area) return DISK_E_NOMEM;
  auto* check = static_cast<VmdkDescriptor*>(area.get());
  if (!VmdkParseDescriptor(text, check) || check->isChild || check->flat ||
      check->extentCount != layout.extentCount) {
    return DISK_E_FORMAT;
  }
  return DISK_OK;
}

// A new base disk: the template's CID and parentCID, no parent hint, the
// copy's sparse extents and a complete geometry, besides what the layout's
// choice already put in.
DiskResult FillChange(VmdkCopyWork* work, const ImageGeometry& geometry) {
  const VmdkLayout& layout = work->layout;
  _VMWARE_VMDK_CHANGE_PARAM* c = work->change;
  c->setCid = 1;
  c->cid = Ascii("fffffffe");
  c->setParentCid = 1;
  c->parentCid = Ascii("ffffffff");
  c->setParentFileNameHint = c->removeParentFileNameHint = 1;
  c->setCreateType = 1;
  c->createType = Ascii(SparseCreateType(layout));
  QVT_DISK_TRY(SetExtents(layout, c));
  SetGeometry(work->derivedFrom->descriptor, geometry, c->adapterType, c);
  return DISK_OK;
}

DiskResult RewriteSource(VmdkCopyWork* work, const ImageGeometry& geometry, ByteBuffer* out) {
  QVT_DISK_TRY(FillChange(work, geometry));
  const VmdkImage& source = *work->derivedFrom;
  const VmdkDescriptor& d = source.descriptor;
  const VmdkLayout& layout = work->layout;
  const TextEncoding outEnc = VmdkCopyTextEncoding(layout);
  const auto sourceEnc = static_cast<TextEncoding>(d.textEncoding);
  TextView text = BufferView(source.text);
  // Converted first when the encodings differ, into a buffer the size of
  // the descriptor's: a text that does not fit is too long for the copy.
  HeapBlock converted(sourceEnc != outEnc ? work->textBytes : 0);
  if (sourceEnc != outEnc) {
    if (!converted) return DISK_E_NOMEM;
    ByteBuffer b;
    BufferInit(&b, converted.get(), work->textBytes);
    if (!TextConvertAppend(&b, outEnc, text, sourceEnc)) return DISK_E_LIMIT;
    text = BufferView(b);
  }
  // The CID, parentCID and createType are ASCII, the same in every
  // encoding the descriptor uses; only a borrowed ddb.uuid has its own.
  if (!VmdkRewriteDescriptor(text, outEnc, out, outEnc, *work->change, work->uuidEnc,
                             ENC_SHIFT_JIS)) {
    return DISK_E_FORMAT;
  }
  return CheckParses(BufferView(*out), layout);
}

}  // namespace

DiskResult VmdkCopyMakeDescriptor(VmdkCopyWork* work, const ImageGeometry& geometry,
                                  ByteBuffer* out) {
  BufferInit(out, work->text, work->textBytes);
  if (work->derivedFrom != nullptr) return RewriteSource(work, geometry, out);
  const std::uint32_t length = VmdkWriteBaseDescriptor(
      work->text, work->textBytes, work->layout, geometry, VmdkCopyTextEncoding(work->layout));
  if (length == 0) return DISK_E_FORMAT;
  out->length = length;
  return DISK_OK;
}

}  // namespace qvt
