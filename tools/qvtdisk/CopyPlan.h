// What qvtdisk copy asks of the engine: the layout record for VmdkCopyImage
// from the options and the source, and the files the copy will write (so
// that a failed or stopped copy can remove them, and an existing file is
// never overwritten).
#ifndef QVT_TOOLS_QVTDISK_COPYPLAN_H
#define QVT_TOOLS_QVTDISK_COPYPLAN_H

#include <string>
#include <vector>

#include "DiskResult.h"
#include "ImageHandle.h"
#include "Verbs.h"
#include "VmdkDescriptor.h"

namespace qvt::qvtdisk {

// VMware's twoGbMaxExtentSparse extents: 2047 MiB, the largest whole number
// of MiB below 2 GiB.
constexpr std::uint32_t kSplitExtentSectors = 4192256;

class CopyPlan {
 public:
  CopyPlan() = default;
  CopyPlan(const CopyPlan&) = delete;
  CopyPlan& operator=(const CopyPlan&) = delete;

  // From the options and the open source; DISK_E_LIMIT for a disk that
  // would need more extent files than a descriptor names.
  DiskResult Make(const CopyOptions& options, const ImageHandle* source,
                  const std::string& targetEngine);

  const VmdkLayout& Layout() const { return layout_; }
  // Engine paths: the target first, then the extent files of their own.
  const std::vector<std::string>& Files() const { return files_; }

 private:
  void FixedLayout(CopyLayoutKind kind, std::uint32_t sectors);

  VmdkLayout layout_{};
  std::vector<VmdkLayoutExtent> entries_;
  std::vector<std::string> files_;
};

}  // namespace qvt::qvtdisk

#endif
