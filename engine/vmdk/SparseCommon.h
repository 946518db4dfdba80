// Small helpers the extent sources share (not part of the extent API).
#ifndef QVT_ENGINE_VMDK_SPARSECOMMON_H
#define QVT_ENGINE_VMDK_SPARSECOMMON_H

#include <cstddef>
#include <cstdint>

#include "DiskResult.h"

namespace qvt {

constexpr std::uint64_t kSectorBytes = 512;

inline bool BytesAreZero(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace qvt

// Leaves the enclosing function with the result unless it is DISK_OK.
#define QVT_DISK_TRY(expr)                               \
  do {                                                   \
    const ::qvt::DiskResult tryResult_ = (expr);         \
    if (tryResult_ != ::qvt::DISK_OK) return tryResult_; \
  } while (0)

#endif
