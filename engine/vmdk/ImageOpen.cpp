#include "ImageOpen.h"

#include "ByteBuffer.h"
#include "EnginePath.h"
#include "ImageOpenChain.h"
#include "RawImage.h"
#include "TextCompare.h"
#include "VhdImage.h"
#include "VmdkImage.h"

namespace qvt {
namespace {

struct OpenRequest {
  const char* path;
  bool readOnly;
  std::uint32_t parentMode;
  ProgressFn progress;
  void* progressContext;
  const OpenChain* chain;
};

using OpenFn = DiskResult (*)(ImageHandle* image, const OpenRequest& request);

DiskResult OpenVmdk(ImageHandle* image, const OpenRequest& r) {
  VmdkImage* vmdk = nullptr;
  const DiskResult result = VmdkImageOpenInChain(&vmdk, r.path, r.readOnly, r.parentMode,
                                                 r.progress, r.progressContext, nullptr, r.chain);
  if (result != DISK_OK) return result;
  *image = ImageHandle{IMAGE_VMDK, vmdk};
  return DISK_OK;
}

DiskResult OpenRaw(ImageHandle* image, const OpenRequest& r) {
  return RawImageOpen(image, r.path, r.readOnly);
}

DiskResult OpenVhd(ImageHandle* image, const OpenRequest& r) {
  VhdImage* vhd = nullptr;
  const DiskResult result =
      VhdImageOpenInChain(&vhd, r.path, r.readOnly, r.parentMode, nullptr, r.chain);
  if (result != DISK_OK) return result;
  *image = ImageHandle{IMAGE_VHD, vhd};
  return DISK_OK;
}

DiskResult OpenUnsupported(ImageHandle*, const OpenRequest&) { return DISK_E_UNSUPPORTED; }

struct Handler {
  OpenFn open;
  std::int32_t versionKind;  // the kind DISK_E_VERSION gives the handle; 0 for none
};

// H_OTHER stands for every format detection knows but cannot open; it keeps
// the places those formats have in the order.
enum HandlerId : std::uint8_t { H_VMDK, H_VHDX, H_VHD, H_QCOW, H_QCOW2, H_RAW_NDI, H_OTHER, H_COUNT };

constexpr Handler kHandlers[H_COUNT] = {
    {&OpenVmdk, 0},                                // H_VMDK
    {&OpenVhd, 0},                                 // H_VHDX
    {&OpenVhd, 0},                                 // H_VHD
    {&OpenUnsupported, kImageKindQcowVersion},     // H_QCOW
    {&OpenUnsupported, kImageKindQcow2Version},    // H_QCOW2
    {&OpenRaw, 0},                                 // H_RAW_NDI
    {&OpenUnsupported, 0},                         // H_OTHER
};

struct ExtensionRow {
  const char* extension;
  std::uint8_t count;
  HandlerId handlers[3];
};

constexpr ExtensionRow kRows[] = {
    {"vmdk", 3, {H_VMDK, H_OTHER, H_OTHER}},
    {"dsk", 2, {H_OTHER, H_OTHER}},
    {"vhdx", 1, {H_VHDX}},
    {"vhd", 2, {H_VHD, H_OTHER}},
    {"qcow", 1, {H_QCOW}},
    {"qcow2", 1, {H_QCOW2}},
    {"vdi", 1, {H_OTHER}},
    {"hdi", 1, {H_OTHER}},
    {"thd", 1, {H_OTHER}},
    {"nhd", 1, {H_OTHER}},
    {"h0", 1, {H_OTHER}},
    {"h1", 1, {H_OTHER}},
    {"h2", 1, {H_OTHER}},
    {"h3", 1, {H_OTHER}},
    {"h4", 1, {H_OTHER}},
    {"hdd", 3, {H_OTHER, H_OTHER, H_OTHER}},
};

constexpr HandlerId kFullList[] = {
    H_VMDK,    H_VHDX,    H_VHD,     H_OTHER,   H_OTHER, H_OTHER, H_OTHER, H_OTHER, H_QCOW,
    H_QCOW2,   H_OTHER,   H_RAW_NDI, H_OTHER,   H_OTHER, H_OTHER, H_OTHER, H_OTHER, H_OTHER,
    H_OTHER,   H_OTHER,   H_OTHER,   H_OTHER,   H_RAW_NDI, H_OTHER, H_OTHER,
};
static_assert(sizeof kFullList / sizeof kFullList[0] == 25, "the full list's length");

const ExtensionRow* RowFor(const char* path) {
  PathBuffer name;
  if (!PathAssign(&name, path, ENC_SHIFT_JIS)) return nullptr;
  TextView directory{};
  TextView base{};
  TextView extension{};
  PathSplit(BufferView(name.buffer), ENC_SHIFT_JIS, &directory, &base, &extension);
  for (const ExtensionRow& row : kRows) {
    if (TextEqualsAscii(extension, ENC_SHIFT_JIS, row.extension, true)) return &row;
  }
  return nullptr;
}

// Tries one handler unless it was tried already (a handler answers the same
// file the same way twice, and a second VMDK attempt on every disk of a
// broken chain would double the work at each link). True when its answer
// ends the search.
bool Try(HandlerId id, bool* tried, ImageHandle* image, const OpenRequest& request,
         DiskResult* result) {
  if (tried[id] && id != H_OTHER) return false;
  tried[id] = true;
  const Handler& h = kHandlers[id];
  *result = h.open(image, request);
  if (*result == DISK_E_VERSION && h.versionKind != 0) {
    *image = ImageHandle{h.versionKind, nullptr};
    return true;
  }
  if (*result == DISK_OK || *result == DISK_CANCELLED || *result == DISK_E_OPEN) return true;
  *image = NoImage();
  return false;
}

}  // namespace

DiskResult ImageOpenInChain(ImageHandle* image, const char* path, bool readOnly,
                            std::uint32_t parentMode, ProgressFn progress, void* progressContext,
                            const OpenChain* chain) {
  *image = NoImage();
  const OpenRequest request{path, readOnly, parentMode, progress, progressContext, chain};
  bool tried[H_COUNT] = {};
  DiskResult result = DISK_E_LIMIT;
  if (const ExtensionRow* row = RowFor(path)) {
    for (std::uint8_t i = 0; i < row->count; ++i) {
      if (Try(row->handlers[i], tried, image, request, &result)) return result;
    }
  }
  for (HandlerId id : kFullList) {
    if (Try(id, tried, image, request, &result)) return result;
  }
  return DISK_E_LIMIT;
}

DiskResult ImageOpen(ImageHandle* image, const char* path, bool readOnly,
                     std::uint32_t parentMode, ProgressFn progress, void* progressContext) {
  return ImageOpenInChain(image, path, readOnly, parentMode, progress, progressContext, nullptr);
}

}  // namespace qvt
