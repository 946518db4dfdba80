// The pieces of a standalone copy (VmdkCopyImage), private to its files: the
// work record that owns what one call takes, the choice of the layout, the
// naming of its extent files and the making of its descriptor text.
#ifndef QVT_ENGINE_VMDK_VMDKCOPYWORK_H
#define QVT_ENGINE_VMDK_VMDKCOPYWORK_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "ImageHandle.h"
#include "TextEncoding.h"
#include "VmdkDescriptor.h"
#include "VmdkImage.h"

namespace qvt {

// Everything one copy holds; released on every path when it goes.
struct VmdkCopyWork {
  _VMWARE_VMDK_CHANGE_PARAM* change = nullptr;
  VmdkLayout layout{};  // the layout written; its entries are owned here
  // The source whose descriptor is rewritten; null when the layout is the
  // caller's (the template descriptor is written then).
  const VmdkImage* derivedFrom = nullptr;
  // The encoding of the change's ddb.uuid view (the ancestor's text that
  // supplied it); the other values are ASCII.
  TextEncoding uuidEnc = ENC_SHIFT_JIS;
  std::uint8_t* text = nullptr;  // the descriptor buffer, textBytes long
  std::uint32_t textBytes = 0;

  VmdkCopyWork() = default;
  ~VmdkCopyWork();
  VmdkCopyWork(const VmdkCopyWork&) = delete;
  VmdkCopyWork& operator=(const VmdkCopyWork&) = delete;
};

// The encoding the new descriptor text is written in.
inline TextEncoding VmdkCopyTextEncoding(const VmdkLayout& layout) {
  return layout.encoding == kVmdkEncodingUtf8 ? ENC_UTF8 : ENC_SHIFT_JIS;
}

// True when the copy has a descriptor file of its own (split, flat or VMFS).
inline bool VmdkCopyHasDescriptorFile(const VmdkLayout& layout) {
  return layout.split != 0 || layout.kind != kVmdkLayoutSparse;
}

// Fills work->layout: a copy of `given` (mode 0; modes 1 and 2 over a source
// that is not a VMDK) or one derived from the source VMDK, with the change
// record completed from the source's ancestors and the hardware version and
// adapter chosen by the mode. work->change must be allocated.
DiskResult VmdkCopyChooseLayout(ImageHandle* source, const VmdkLayout& given, VmdkCopyWork* work);

// Names every entry of the layout that has no name, after the target path
// (encoding 0). DISK_E_LIMIT when a name does not fit.
DiskResult VmdkCopyNameExtents(const char* targetPath, VmdkLayout* layout);

// The descriptor text into `out` (over work->text): the source's own text
// rewritten for a derived layout, the template otherwise.
DiskResult VmdkCopyMakeDescriptor(VmdkCopyWork* work, const ImageGeometry& geometry,
                                  ByteBuffer* out);

}  // namespace qvt

#endif
