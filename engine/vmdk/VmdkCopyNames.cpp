// The file names of a copy's extents, made after the target's name: B-s001.X
// and on for a split layout, B-flat.X for one flat or VMFS extent, the
// target's own name for one sparse extent.
#include <cstring>

#include "EnginePath.h"
#include "TextFormat.h"
#include "VmdkCopyWork.h"

namespace qvt {
namespace {

// Without an extension the dot is left out, as Windows would drop a
// trailing dot from the name the descriptor names.
bool MakeName(const VmdkLayout& layout, TextView base, TextView extension, TextView fileName,
              std::uint32_t number, ByteBuffer* out) {
  const bool dot = extension.length != 0;
  if (layout.split) {
    return TextFormat(out, ENC_SHIFT_JIS, dot ? "%t-s%03u.%t" : "%t-s%03u", ENC_SHIFT_JIS, base,
                      ENC_SHIFT_JIS, number, extension, ENC_SHIFT_JIS);
  }
  if (layout.kind != kVmdkLayoutSparse) {
    return TextFormat(out, ENC_SHIFT_JIS, dot ? "%t-flat.%t" : "%t-flat", ENC_SHIFT_JIS, base,
                      ENC_SHIFT_JIS, extension, ENC_SHIFT_JIS);
  }
  return BufferAppendView(out, fileName) && BufferTerminate(out, ENC_SHIFT_JIS);
}

}  // namespace

DiskResult VmdkCopyNameExtents(const char* targetPath, VmdkLayout* layout) {
  const TextView target = MakeView(targetPath, static_cast<std::uint32_t>(std::strlen(targetPath)));
  TextView directory, base, extension;
  PathSplit(target, ENC_SHIFT_JIS, &directory, &base, &extension);
  const TextView fileName{directory.data + directory.length, target.length - directory.length};
  for (std::uint32_t i = 0; i < layout->extentCount; ++i) {
    VmdkLayoutExtent& e = layout->entries[i];
    if (e.fileName[0] != '\0') continue;
    ByteBuffer name;
    // The entry's own storage, with room for the terminator TextFormat adds.
    BufferInit(&name, e.fileName, kPathBufferSize);
    if (!MakeName(*layout, base, extension, fileName, i + 1, &name)) {
      e.fileName[0] = '\0';
      return DISK_E_LIMIT;
    }
  }
  return DISK_OK;
}

}  // namespace qvt
