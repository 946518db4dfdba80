// How a differencing image names its parent: the locator entries (tried in
// table order) and, when none leads to an existing file, the Parent Unicode
// Name; and the paths a new or folded image's locators carry.
#ifndef QVT_ENGINE_VHD_VHDLOCATORS_H
#define QVT_ENGINE_VHD_VHDLOCATORS_H

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "FileStream.h"
#include "VhdFormat.h"

namespace qvt {

// The parent of the differencing image at `imagePath` (encoding 0) whose
// header is `header`, its locator data read from `file`. `fileLength`
// bounds the reads. Encoding 0, terminated. DISK_E_NOMEM, DISK_E_READ, or
// DISK_E_FORMAT for a Parent Unicode Name that does not decode or resolve.
DiskResult VhdFindParent(FileStream* file, std::uint64_t fileLength, const VhdHeader& header,
                         const char* imagePath, PathBuffer* parent);

// The Parent Unicode Name field from the file name part of `parentPath`
// (encoding 0): UTF-16BE, zero-padded. False when it does not convert or fit.
bool VhdSetParentName(VhdHeader* header, const char* parentPath);

// `text` (encoding 0) as UTF-16LE into `out` (reset first); false when it
// does not convert or fit.
bool VhdWideLocator(TextView text, ByteBuffer* out);

// The relative path from the folder of `from` to `to` (both encoding 0,
// absolute), or false when they are on different drives (the first
// characters differ, ignoring case) or it does not fit.
bool VhdRelativePath(const char* from, const char* to, PathBuffer* out);

// The relative locator path of a new child at `child` over `parent` (both
// encoding 0, absolute): from the child's folder, ".\"-led unless it climbs
// out with "..\". `has` is false for a parent on another drive.
// DISK_E_LIMIT when the path does not fit.
DiskResult VhdChildRelative(const char* child, const char* parent, PathBuffer* out, bool* has);

}  // namespace qvt

#endif
