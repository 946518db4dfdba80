#include "VmdkCreateChild.h"

#include <cstring>
#include <ctime>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "SparseExtent.h"
#include "TextCompare.h"
#include "TextFormat.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

constexpr std::uint32_t kDescriptorBufferBytes = 160 * 1024;

// The work storage of one call, released on every path.
struct ChildWork {
  _VMWARE_VMDK_CHANGE_PARAM* change = nullptr;
  std::uint8_t* text = nullptr;
  ImageHandle zero = NoImage();
  ~ChildWork() {
    VmdkFreeChange(change);
    EngineFree(text);
    ImageClose(&zero);
  }
};

bool Is(TextView value, TextEncoding e, const char* literal, bool ignoreCase) {
  return TextEqualsAscii(value, e, literal, ignoreCase);
}

// The child's createType: flat and stream-optimized parents get sparse
// children; every other type is kept.
void MapCreateType(const VmdkDescriptor& d, TextEncoding e, _VMWARE_VMDK_CHANGE_PARAM* change) {
  const char* type = nullptr;
  if (Is(d.createType, e, "monolithicFlat", false)) {
    type = "monolithicSparse";
  } else if (Is(d.createType, e, "twoGbMaxExtentFlat", false)) {
    type = "twoGbMaxExtentSparse";
  } else if (Is(d.createType, e, "streamOptimized", false)) {
    type = d.extentCount == 1 ? "monolithicSparse" : "twoGbMaxExtentSparse";
  }
  if (type == nullptr) return;
  change->setCreateType = 1;
  change->createType = MakeView(type, static_cast<std::uint32_t>(std::strlen(type)));
}

// File name of child extent `index` (from 1): B-s001.X for split parents, the
// child's own name otherwise. Without an extension the dot is left out, as
// Windows would drop a trailing dot from the name the descriptor names.
bool ChildExtentName(const VmdkDescriptor& parent, TextView fileName, TextView base,
                     TextView extension, std::uint32_t index, PathBuffer* out) {
  ByteBuffer* b = &out->buffer;
  BufferReset(b);
  bool ok = true;
  if (!parent.split) {
    ok = BufferAppendView(b, fileName) && BufferTerminate(b, ENC_SHIFT_JIS);
  } else if (extension.length == 0) {
    ok = TextFormat(b, ENC_SHIFT_JIS, "%t-s%03u", ENC_SHIFT_JIS, base, ENC_SHIFT_JIS, index);
  } else {
    ok = TextFormat(b, ENC_SHIFT_JIS, "%t-s%03u.%t", ENC_SHIFT_JIS, base, ENC_SHIFT_JIS, index,
                    extension, ENC_SHIFT_JIS);
  }
  if (!ok) BufferReset(b);
  return ok;
}

DiskResult FillExtents(const VmdkDescriptor& parent, TextEncoding e, TextView childPath,
                       _VMWARE_VMDK_CHANGE_PARAM* change) {
  TextView directory, base, extension;
  PathSplit(childPath, ENC_SHIFT_JIS, &directory, &base, &extension);
  const TextView fileName{directory.data + directory.length, childPath.length - directory.length};
  const bool streamParent = Is(parent.createType, e, "streamOptimized", false);
  for (std::uint32_t i = 0; i < parent.extentCount; ++i) {
    PathBuffer name;
    if (!ChildExtentName(parent, fileName, base, extension, i + 1, &name)) return DISK_E_FORMAT;
    const VmdkExtent& x = parent.extents[i];
    const bool makeSparse = x.kind == kVmdkExtentFlat || streamParent;
    if (!VmdkChangeSetExtent(change, i, static_cast<std::uint32_t>(x.sectors), name.storage,
                             name.buffer.length, makeSparse)) {
      return DISK_E_FORMAT;
    }
  }
  change->extentCount = parent.extentCount;
  return DISK_OK;
}

// The child's descriptor text in the parent's encoding, checked to parse as
// the child it must be before anything is written.
DiskResult BuildChildText(const VmdkImage& parent, const char* parentPath, const char* childPath,
                          bool absolute, ChildWork* work, ByteBuffer* text, PathBuffer* hint) {
  const VmdkDescriptor& d = parent.descriptor;
  const auto e = static_cast<TextEncoding>(d.textEncoding);
  _VMWARE_VMDK_CHANGE_PARAM* change = work->change;

  const std::time_t now = std::time(nullptr);
  std::uint8_t cidArea[16];
  ByteBuffer cid;
  BufferInit(&cid, cidArea, sizeof(cidArea));
  const auto seconds = now == static_cast<std::time_t>(-1) ? 0u : static_cast<std::uint32_t>(now);
  if (!TextFormat(&cid, e, "%08x", ENC_SHIFT_JIS, seconds)) return DISK_E_LIMIT;
  change->setCid = 1;
  change->cid = BufferView(cid);
  change->setParentCid = 1;
  change->parentCid = d.cid;
  MapCreateType(d, e, change);

  const TextView child = MakeView(childPath, static_cast<std::uint32_t>(std::strlen(childPath)));
  const TextView parentName =
      MakeView(parentPath, static_cast<std::uint32_t>(std::strlen(parentPath)));
  const DiskResult hinted =
      VmdkMakeParentHint(child, parentName, ENC_SHIFT_JIS, absolute, hint, ENC_SHIFT_JIS);
  if (hinted != DISK_OK) return hinted;
  change->setParentFileNameHint = 1;
  change->parentFileNameHint = BufferView(hint->buffer);

  const DiskResult named = FillExtents(d, e, child, change);
  if (named != DISK_OK) return named;
  change->dropDdb = 1;

  BufferInit(text, work->text, kDescriptorBufferBytes);
  if (!VmdkRewriteDescriptor(BufferView(parent.text), e, text, e, *change, ENC_SHIFT_JIS,
                             ENC_SHIFT_JIS)) {
    return DISK_E_FORMAT;
  }
  // The rewrite keeps whatever else the parent carries; a child the parser
  // would refuse (an odd createType, say) must not be written at all.
  HeapBlock checkArea(sizeof(VmdkDescriptor));
  if (!checkArea) return DISK_E_NOMEM;
  auto* check = static_cast<VmdkDescriptor*>(checkArea.get());
  if (!VmdkParseDescriptor(BufferView(*text), check) || !check->isChild) return DISK_E_FORMAT;
  return DISK_OK;
}

DiskResult WriteSingleFile(const VmdkImage& parent, const char* childPath, TextView text,
                           ImageHandle* zero, std::uint32_t sectors) {
  if (text.length > kChildDescriptorSectors * kSectorSize) return DISK_E_LIMIT;
  SparseWriteRequest request;
  request.descriptor = &text;
  request.descriptorSectors = kChildDescriptorSectors;
  request.hwVersionIndex = parent.descriptor.hwVersionIndex;
  request.firstSourceSector = 0;
  request.sectors = sectors;
  return SparseWriteExtent(childPath, zero, request);
}

DiskResult WriteSplit(const VmdkImage& parent, const char* childPath, TextView text,
                      const _VMWARE_VMDK_CHANGE_PARAM& change, ImageHandle* zero) {
  FileStream file{};
  if (!FsCreate(childPath, &file)) return DISK_E_CREATE;
  const bool written = StreamWrite(&file, 0, text.length, text.data);
  StreamClose(&file);
  if (!written) return DISK_E_WRITE;

  TextView directory, base, extension;
  PathSplit(MakeView(childPath, static_cast<std::uint32_t>(std::strlen(childPath))),
            ENC_SHIFT_JIS, &directory, &base, &extension);
  std::uint32_t first = 0;
  for (std::uint32_t i = 0; i < change.extentCount; ++i) {
    PathBuffer path;
    ByteBuffer* b = &path.buffer;
    if (!BufferAppendView(b, directory) || !BufferAppendView(b, change.extents[i].fileName) ||
        !BufferTerminate(b, ENC_SHIFT_JIS)) {
      return DISK_E_LIMIT;
    }
    SparseWriteRequest request;
    request.hwVersionIndex = parent.descriptor.hwVersionIndex;
    request.firstSourceSector = first;
    request.sectors = change.extents[i].sectors;
    const DiskResult result = SparseWriteExtent(path.CString(), zero, request);
    if (result != DISK_OK) return result;
    first += change.extents[i].sectors;
  }
  return DISK_OK;
}

}  // namespace

DiskResult VmdkCreateChild(const VmdkImage* parent, const char* parentPath, const char* childPath,
                           bool absolute) {
  if (parent == nullptr || parent->extentCount == 0 || parentPath == nullptr ||
      childPath == nullptr) {
    return DISK_E_LIMIT;
  }
  const VmdkDescriptor& d = parent->descriptor;
  // A vmfs disk keeps its createType in a rewrite while its extents would
  // become sparse; no valid child of it can be written.
  if (Is(d.createType, static_cast<TextEncoding>(d.textEncoding), "vmfs", true)) {
    return DISK_E_UNSUPPORTED;
  }
  PathBuffer childArea;
  if (!PathAssign(&childArea, childPath, ENC_SHIFT_JIS)) return DISK_E_LIMIT;

  ChildWork work;
  work.change = VmdkAllocChange();
  work.text = static_cast<std::uint8_t*>(EngineAlloc(kDescriptorBufferBytes));
  if (work.change == nullptr || work.text == nullptr) return DISK_E_NOMEM;
  std::memset(work.text, 0, kDescriptorBufferBytes);

  ByteBuffer text{};
  PathBuffer hint;
  const DiskResult built =
      BuildChildText(*parent, parentPath, childArea.CString(), absolute, &work, &text, &hint);
  if (built != DISK_OK) return built;

  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) total += d.extents[i].sectors;
  if (total > UINT32_MAX) return DISK_E_LIMIT;
  const DiskResult opened = ZeroImageOpen(&work.zero, static_cast<std::uint32_t>(total),
                                          parent->heads, parent->sectorsPerTrack);
  if (opened != DISK_OK) return opened;

  if (!d.split) {
    return WriteSingleFile(*parent, childArea.CString(), BufferView(text), &work.zero,
                           static_cast<std::uint32_t>(total));
  }
  return WriteSplit(*parent, childArea.CString(), BufferView(text), *work.change, &work.zero);
}

}  // namespace qvt
