#include "Progress.h"

namespace qvt {

bool ReportPercent(const PercentProgress& progress, std::uint64_t done, std::uint64_t total) {
  if (progress.fn == nullptr) return true;
  std::uint32_t percent = 100;
  if (done == 0) {
    percent = 0;
  } else if (total != 0 && done < total) {
    // done < total keeps done * 100 far from overflow only for sizes below
    // 2^57 bytes; divide first for anything larger.
    percent = static_cast<std::uint32_t>(total > (UINT64_MAX / 100) ? done / (total / 100)
                                                                     : done * 100 / total);
  }
  return progress.fn(percent, 100, progress.context);
}

}  // namespace qvt
