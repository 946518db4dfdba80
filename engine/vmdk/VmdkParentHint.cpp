#include "VmdkDescriptor.h"

#include "EnginePath.h"
#include "TextCompare.h"
#include "TextConvert.h"

namespace qvt {

namespace {

DiskResult HintFrom(TextView text, TextEncoding e, PathBuffer* hint, TextEncoding hintEnc) {
  BufferReset(&hint->buffer);
  if (TextConvertAppend(&hint->buffer, hintEnc, text, e) &&
      BufferTerminate(&hint->buffer, hintEnc)) {
    return DISK_OK;
  }
  BufferReset(&hint->buffer);
  return DISK_E_LIMIT;
}

// The first character of a path, as a view (the drive letter of an
// absolute one).
TextView FirstChar(TextView path, TextEncoding e) {
  const std::uint32_t n = CharLength(e, path.data, path.length);
  return TextView{path.data, n};
}

}  // namespace

DiskResult VmdkMakeParentHint(TextView childPath, TextView parentPath, TextEncoding pathEnc,
                              bool absolute, PathBuffer* hint, TextEncoding hintEnc) {
  if (absolute) return HintFrom(parentPath, pathEnc, hint, hintEnc);

  TextView childDir{};
  TextView parentDir{};
  TextView name{};
  TextView extension{};
  PathSplit(childPath, pathEnc, &childDir, &name, &extension);
  PathSplit(parentPath, pathEnc, &parentDir, &name, &extension);
  if (TextEquals(childDir, parentDir, pathEnc, true)) {
    const TextView fileName{parentPath.data + parentDir.length,
                            parentPath.length - parentDir.length};
    return HintFrom(fileName, pathEnc, hint, hintEnc);
  }
  // Only two drive paths on one drive have a relative path between them; a
  // UNC path's first character is a backslash whatever its server, and the
  // relative path would climb out of one share into another.
  const bool sameDrive =
      PathIsDriveAbsolute(childPath, pathEnc) && PathIsDriveAbsolute(parentPath, pathEnc) &&
      TextEquals(FirstChar(childPath, pathEnc), FirstChar(parentPath, pathEnc), pathEnc, true);
  if (!sameDrive) return HintFrom(parentPath, pathEnc, hint, hintEnc);

  PathBuffer relative;
  if (!PathMakeRelative(childDir, parentPath, pathEnc, &relative)) return DISK_E_LIMIT;
  return HintFrom(BufferView(relative.buffer), pathEnc, hint, hintEnc);
}

}  // namespace qvt
