#include "VmdkDescriptor.h"

#include "Heap.h"
#include "TextFormat.h"

namespace qvt {

namespace {

// Room for one extent line: a 520-byte name and the rest of the line.
constexpr std::uint32_t kExtentLineBytes = 584;
constexpr std::uint32_t kIdeMaxCylinders = 16383;
// The geometry a base descriptor without geometry keys stands for; used too
// when the source reports none (a child opened without its parent does), so
// that the new disk gets a geometry and nothing divides by zero.
constexpr std::uint32_t kDefaultHeads = 16;
constexpr std::uint32_t kDefaultSectorsPerTrack = 63;

constexpr char kTemplate[] =
    "# Disk DescriptorFile\nversion=1\n%sCID=fffffffe\nparentCID=ffffffff\ncreateType=\"%s\"\n"
    "\n# Extent description\n%t\n# The Disk Data Base \n#DDB\n\n"
    "ddb.virtualHWVersion = \"%s\"\nddb.geometry.cylinders = \"%u\"\n"
    "ddb.geometry.heads = \"%u\"\nddb.geometry.sectors = \"%u\"\nddb.adapterType = \"%s\"\n%s";

const char* CreateTypeOf(const VmdkLayout& layout) {
  if (layout.streamOptimized) return "streamOptimized";
  switch (layout.kind) {
    case kVmdkLayoutSparse:
      return layout.split ? "twoGbMaxExtentSparse" : "monolithicSparse";
    case kVmdkLayoutFlat:
      return layout.split ? "twoGbMaxExtentFlat" : "monolithicFlat";
    case kVmdkLayoutVmfs:
      return "vmfs";
    default:
      return nullptr;
  }
}

const char* EncodingLine(std::uint32_t encoding) {
  switch (encoding) {
    case kVmdkEncodingNone:
      return "";
    case kVmdkEncodingShiftJis:
      return "encoding=\"Shift_JIS\"\n";
    case kVmdkEncodingUtf8:
      return "encoding=\"UTF-8\"\n";
    default:
      return nullptr;
  }
}

// What the template can describe, so that it never writes a descriptor the
// parser would refuse.
bool IsDescribable(const VmdkLayout& layout) {
  if (layout.extentCount == 0 || layout.extentCount > kVmdkMaxExtents) return false;
  if (layout.entries == nullptr) return false;
  if (!layout.split && layout.extentCount != 1) return false;
  if (layout.streamOptimized && (layout.kind != kVmdkLayoutSparse || layout.extentCount != 1)) {
    return false;
  }
  return CreateTypeOf(layout) != nullptr && EncodingLine(layout.encoding) != nullptr &&
         VmdkAdapterText(layout.adapter) != nullptr &&
         VmdkHwVersionText(layout.hwVersionIndex) != nullptr;
}

bool AppendExtentLines(ByteBuffer* lines, const VmdkLayout& layout) {
  static const char* const kTypes[] = {"SPARSE", "FLAT", "VMFS"};
  for (std::uint32_t i = 0; i < layout.extentCount; ++i) {
    const VmdkLayoutExtent& e = layout.entries[i];
    // A stream-optimized file's one extent is the file itself; readers that
    // follow the extent line must find it, so the placeholder name is only
    // for a layout that gives none.
    const char* name =
        layout.streamOptimized && e.fileName[0] == '\0' ? "generated-stream.vmdk" : e.fileName;
    // The name must end inside its 520 bytes; an unterminated one is no name.
    bool terminated = false;
    for (std::uint32_t c = 0; c < kPathBufferSize && !terminated; ++c) {
      terminated = name[c] == '\0';
    }
    if (!terminated) return false;
    if (!TextFormat(lines, ENC_SHIFT_JIS, "%s %u %s \"%s\"%s\n", ENC_SHIFT_JIS,
                    layout.streamOptimized ? "RDONLY" : "RW", ENC_SHIFT_JIS, e.sectors,
                    kTypes[layout.kind], ENC_SHIFT_JIS, name, ENC_SHIFT_JIS,
                    layout.kind == kVmdkLayoutFlat ? " 0" : "", ENC_SHIFT_JIS)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::uint32_t VmdkWriteBaseDescriptor(void* target, std::uint32_t capacity,
                                      const VmdkLayout& layout, const ImageGeometry& geometry,
                                      TextEncoding outEnc) {
  if (target == nullptr || !IsDescribable(layout)) return 0;

  std::uint32_t heads = geometry.heads;
  std::uint32_t sectorsPerTrack = geometry.sectorsPerTrack;
  if (heads == 0 || sectorsPerTrack == 0) {
    heads = kDefaultHeads;
    sectorsPerTrack = kDefaultSectorsPerTrack;
  }
  std::uint32_t cylinders = geometry.sectors / heads / sectorsPerTrack;
  if (layout.adapter == kVmdkAdapterIde && cylinders > kIdeMaxCylinders) {
    cylinders = kIdeMaxCylinders;
  }

  // extentCount is at most 1000, so the product stays far below 2^32.
  const std::uint32_t linesBytes = kExtentLineBytes * layout.extentCount;
  HeapBlock linesStorage(linesBytes);
  if (!linesStorage) return 0;
  ByteBuffer lines;
  BufferInit(&lines, linesStorage.get(), linesBytes);
  if (!AppendExtentLines(&lines, layout)) return 0;

  ByteBuffer out;
  BufferInit(&out, target, capacity);
  if (!TextFormat(&out, outEnc, kTemplate, ENC_SHIFT_JIS, EncodingLine(layout.encoding),
                  ENC_SHIFT_JIS, CreateTypeOf(layout), ENC_SHIFT_JIS, BufferView(lines),
                  ENC_SHIFT_JIS, VmdkHwVersionText(layout.hwVersionIndex), ENC_SHIFT_JIS, cylinders,
                  heads, sectorsPerTrack, VmdkAdapterText(layout.adapter), ENC_SHIFT_JIS,
                  layout.kind == kVmdkLayoutVmfs ? "ddb.thinProvisioned = \"1\"\n" : "",
                  ENC_SHIFT_JIS)) {
    return 0;
  }
  return out.length;
}

}  // namespace qvt
