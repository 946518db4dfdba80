// Progress and cancellation: an operation given a ProgressFn reports
// (done, total) and stops at the first false, returning DISK_CANCELLED.
#ifndef QVT_ENGINE_PROGRESS_H
#define QVT_ENGINE_PROGRESS_H

#include <cstdint>

namespace qvt {

using ProgressFn = bool (*)(std::uint32_t done, std::uint32_t total, void* context);

// True to go on. No callback never stops.
inline bool ReportProgress(ProgressFn fn, void* context, std::uint32_t done, std::uint32_t total) {
  return fn == nullptr || fn(done, total, context);
}

// The percentage adapter of the file copies: passes (done * 100 / total, 100)
// to the caller's callback.
struct PercentProgress {
  ProgressFn fn;
  void* context;
};

bool ReportPercent(const PercentProgress& progress, std::uint64_t done, std::uint64_t total);

}  // namespace qvt

#endif
