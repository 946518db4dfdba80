// Opening and closing a VmdkImage: the descriptor, the parent chain, the
// extents at their running first sectors, the geometry.
#include "VmdkImage.h"

#include <cstring>
#include <new>

#include "EnginePath.h"
#include "FileLayer.h"
#include "Heap.h"
#include "ImageOpenChain.h"
#include "SparseCommon.h"
#include "TextCompare.h"
#include "VmdkImagePath.h"

namespace qvt {
namespace {

void ReleaseExtents(VmdkImage* m) {
  for (std::uint32_t i = 0; i < m->extentCount; ++i) {
    if (m->sparse != nullptr) {
      SparseClose(&m->sparse[i]);
      m->sparse[i].~SparseExtent();
    }
    if (m->flatExtents != nullptr) {
      FlatClose(&m->flatExtents[i]);
      m->flatExtents[i].~FlatExtent();
    }
  }
  EngineFree(m->sparse);
  EngineFree(m->flatExtents);
  m->sparse = nullptr;
  m->flatExtents = nullptr;
  m->extentCount = 0;
}

// Everything the image holds goes; the record itself stays, closed.
void Release(VmdkImage* m) {
  ReleaseExtents(m);
  ImageClose(&m->parent);
  m->parentView = NoImage();
  m->view = VmdkParentView{};
  m->reader = nullptr;
  VmdkFreeDescriptorText(&m->text);
  std::memset(&m->descriptor, 0, sizeof m->descriptor);
  m->capacity = 0;
  m->heads = 0;
  m->sectorsPerTrack = 0;
  m->parentMissing = false;
  m->embedded = false;
  m->flat = false;
  m->path = PathBuffer();
  m->normalPath = PathBuffer();
  m->parentPath = PathBuffer();
}

DiskResult ReadDescriptor(VmdkImage* m) {
  FileStream stream{};
  if (!FsOpen(m->path.CString(), true, &stream)) return DISK_E_OPEN;
  StreamGuard guard(&stream);
  return VmdkReadDescriptorFromStream(&stream, &m->descriptor, &m->text, &m->embedded);
}

// The sum of the extent sizes, which is the disk's capacity. Every extent
// holds at least one sector, and the disk is addressed in 32-bit sectors.
DiskResult ExtentSum(const VmdkDescriptor& d, std::uint32_t* sum) {
  std::uint64_t total = 0;
  if (d.extentCount == 0) return DISK_E_FORMAT;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    if (d.extents[i].sectors == 0) return DISK_E_FORMAT;
    total += d.extents[i].sectors;
    if (total > UINT32_MAX) return DISK_E_LIMIT;
  }
  *sum = static_cast<std::uint32_t>(total);
  return DISK_OK;
}

// The parent's path, checked: well formed, not this disk, not a disk the
// chain is already opening, and within the chain's length.
DiskResult ResolveParent(VmdkImage* m, const OpenChain* chain) {
  const DiskResult resolved =
      VmdkResolveName(m->path, m->descriptor.parentFileNameHint,
                      static_cast<TextEncoding>(m->descriptor.textEncoding), &m->parentPath);
  if (resolved != DISK_OK) return resolved;
  if (TextEquals(BufferView(m->parentPath.buffer), BufferView(m->normalPath.buffer),
                 ENC_SHIFT_JIS, true) ||
      OpenChainHolds(chain, m->parentPath)) {
    return DISK_E_FORMAT;
  }
  const std::uint32_t links = chain != nullptr ? chain->links + 1 : 1;
  if (links > kVmdkMaxChainLinks) return DISK_E_FORMAT;
  return DISK_OK;
}

DiskResult OpenParent(VmdkImage* m, std::uint32_t sum, ProgressFn progress, void* context,
                      const OpenChain* chain) {
  const bool tolerate = m->parentMode == VMDK_PARENT_TOLERATE;
  DiskResult r = ResolveParent(m, chain);
  if (r == DISK_OK) {
    const OpenChain link{&m->normalPath, chain, chain != nullptr ? chain->links + 1 : 1};
    r = ImageOpenInChain(&m->parent, m->parentPath.CString(), true, VMDK_PARENT_OPEN, progress,
                         context, &link);
    if (r != DISK_OK && r != DISK_CANCELLED) r = r == DISK_E_OPEN ? DISK_E_OPEN : DISK_E_LIMIT;
  }
  if (r == DISK_CANCELLED) return r;
  if (r != DISK_OK) {
    if (!tolerate) return r;
    // The user can still see the disk and mend its hint.
    m->parentMissing = true;
    return DISK_OK;
  }
  ImageGeometry g{};
  QVT_DISK_TRY(ImageGetSize(&m->parent, &g));
  m->reader = &m->parent;
  if (g.sectors != sum) {
    m->view.inner = &m->parent;
    m->view.sectors = sum;
    m->view.innerSectors = g.sectors;
    m->parentView = ImageHandle{IMAGE_PARENT_VIEW, &m->view};
    m->reader = &m->parentView;
  }
  return DISK_OK;
}

// The file of extent i: the caller's, the descriptor's own file for a
// single-file sparse disk, or the descriptor's name resolved against its
// folder.
DiskResult ExtentFile(const VmdkImage* m, std::uint32_t i, PathBuffer* file) {
  if (m->options.extentPaths != nullptr) {
    return PathAssign(file, m->options.extentPaths[i], ENC_SHIFT_JIS) ? DISK_OK : DISK_E_LIMIT;
  }
  if (m->embedded && !m->flat) {
    *file = m->path;
    return DISK_OK;
  }
  return VmdkResolveName(m->path, m->descriptor.extents[i].fileName,
                         static_cast<TextEncoding>(m->descriptor.textEncoding), file);
}

DiskResult OpenExtents(VmdkImage* m, ProgressFn progress, void* context) {
  const VmdkDescriptor& d = m->descriptor;
  const std::size_t each = m->flat ? sizeof(FlatExtent) : sizeof(SparseExtent);
  void* block = EngineAlloc(each * d.extentCount);
  if (block == nullptr) return DISK_E_NOMEM;
  if (m->flat) {
    m->flatExtents = static_cast<FlatExtent*>(block);
    for (std::uint32_t i = 0; i < d.extentCount; ++i) new (&m->flatExtents[i]) FlatExtent();
  } else {
    m->sparse = static_cast<SparseExtent*>(block);
    for (std::uint32_t i = 0; i < d.extentCount; ++i) new (&m->sparse[i]) SparseExtent();
  }
  m->extentCount = d.extentCount;

  std::uint64_t first = 0;
  for (std::uint32_t i = 0; i < d.extentCount; ++i) {
    const VmdkExtent& x = d.extents[i];
    PathBuffer file;
    QVT_DISK_TRY(ExtentFile(m, i, &file));
    if (m->flat) {
      if (x.offset > UINT64_MAX / kSectorBytes) return DISK_E_FORMAT;
      QVT_DISK_TRY(FlatOpen(&m->flatExtents[i], m->options.open, m->options.openContext,
                            file.CString(), m->readOnly, x.offset * kSectorBytes, first,
                            x.sectors));
    } else {
      SparseExtent* e = &m->sparse[i];
      QVT_DISK_TRY(SparseOpen(e, m->options.open, m->options.openContext, file.CString(),
                              m->readOnly, !m->embedded, m->reader, first, x.sectors, progress,
                              context));
      // A header smaller than the descriptor's extent has a GD that ends
      // before the extent does: its last entries would be whatever follows.
      if (e->header.capacity < x.sectors) return DISK_E_FORMAT;
    }
    first += x.sectors;
  }
  return DISK_OK;
}

DiskResult OpenInto(VmdkImage* m, const char* path, ProgressFn progress, void* context,
                    const OpenChain* chain) {
  if (m->parentMode > VMDK_PARENT_NONE) return DISK_E_LIMIT;
  if (!PathAssign(&m->path, path, ENC_SHIFT_JIS)) return DISK_E_LIMIT;
  if (!PathNormalize(BufferView(m->path.buffer), ENC_SHIFT_JIS, &m->normalPath)) {
    return DISK_E_FORMAT;
  }
  QVT_DISK_TRY(ReadDescriptor(m));
  const VmdkDescriptor& d = m->descriptor;
  m->flat = d.flat != 0;
  if (m->options.extentPaths != nullptr && m->options.extentPathCount != d.extentCount) {
    return DISK_E_LIMIT;
  }
  std::uint32_t sum = 0;
  QVT_DISK_TRY(ExtentSum(d, &sum));

  if (!d.isChild) {
    if (m->parentMode == VMDK_PARENT_CHILD) return DISK_E_FORMAT;
  } else if (m->parentMode == VMDK_PARENT_CHILD || m->parentMode == VMDK_PARENT_NONE) {
    m->parentMissing = true;
  } else {
    QVT_DISK_TRY(OpenParent(m, sum, progress, context, chain));
  }

  QVT_DISK_TRY(OpenExtents(m, progress, context));

  m->capacity = sum;
  if (!d.isChild) {
    m->heads = d.heads;
    m->sectorsPerTrack = d.sectors;
  } else if (m->reader != nullptr) {
    ImageGeometry g{};
    QVT_DISK_TRY(ImageGetSize(m->reader, &g));
    if (g.sectors != sum) return DISK_E_FORMAT;
    m->heads = g.heads;
    m->sectorsPerTrack = g.sectorsPerTrack;
  } else {
    m->parentMissing = true;
  }
  return DISK_OK;
}

}  // namespace

bool OpenChainHolds(const OpenChain* chain, const PathBuffer& path) {
  for (; chain != nullptr; chain = chain->child) {
    if (TextEquals(BufferView(chain->path->buffer), BufferView(path.buffer), ENC_SHIFT_JIS,
                   true)) {
      return true;
    }
  }
  return false;
}

DiskResult VmdkImageReopen(VmdkImage* m, const char* path, bool readOnly,
                           std::uint32_t parentMode, ProgressFn progress, void* context,
                           const OpenChain* chain) {
  Release(m);
  m->readOnly = readOnly;
  m->parentMode = parentMode;
  const DiskResult r = OpenInto(m, path, progress, context, chain);
  if (r != DISK_OK) Release(m);
  return r;
}

DiskResult VmdkImageOpenInChain(VmdkImage** image, const char* path, bool readOnly,
                                std::uint32_t parentMode, ProgressFn progress,
                                void* progressContext, const VmdkOpenOptions* options,
                                const OpenChain* chain) {
  *image = nullptr;
  void* block = EngineAlloc(sizeof(VmdkImage));
  if (block == nullptr) return DISK_E_NOMEM;
  auto* m = new (block) VmdkImage();
  if (options != nullptr) m->options = *options;
  if (m->options.open == nullptr) m->options.open = &ExtentOpenPlain;
  const DiskResult r =
      VmdkImageReopen(m, path, readOnly, parentMode, progress, progressContext, chain);
  if (r != DISK_OK) {
    VmdkImageClose(m);
    return r;
  }
  *image = m;
  return DISK_OK;
}

DiskResult VmdkImageOpen(VmdkImage** image, const char* path, bool readOnly,
                         std::uint32_t parentMode, ProgressFn progress, void* progressContext,
                         const VmdkOpenOptions* options) {
  return VmdkImageOpenInChain(image, path, readOnly, parentMode, progress, progressContext,
                              options, nullptr);
}

void VmdkImageClose(VmdkImage* image) {
  if (image == nullptr) return;
  Release(image);
  image->~VmdkImage();
  EngineFree(image);
}

VmdkImage* VmdkImageFromHandle(const ImageHandle* handle) {
  return handle != nullptr && handle->kind == IMAGE_VMDK ? static_cast<VmdkImage*>(handle->impl)
                                                         : nullptr;
}

bool VmdkImageIsChild(const VmdkImage* image) {
  return image->extentCount != 0 && image->descriptor.isChild != 0;
}

const VmdkDescriptor* VmdkImageDescriptor(const VmdkImage* image, TextEncoding* encoding) {
  if (encoding != nullptr) *encoding = static_cast<TextEncoding>(image->descriptor.textEncoding);
  return &image->descriptor;
}

const ImageHandle* VmdkImageParent(const VmdkImage* image) {
  return image->parent.kind != IMAGE_NONE ? &image->parent : nullptr;
}

}  // namespace qvt
