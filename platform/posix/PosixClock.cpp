// Time on POSIX: the local time of the TZ rules, FILETIMEs from the realtime
// clock.
#include "Clock.h"

#include <ctime>

namespace qvt::platform {

namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::uint64_t kEpochDelta = 11644473600u;
constexpr std::uint64_t kTicksPerSecond = 10000000u;

}  // namespace

LocalTime CurrentLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::uint64_t CurrentFileTime() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<std::uint64_t>(now.tv_sec) + kEpochDelta) * kTicksPerSecond +
         static_cast<std::uint64_t>(now.tv_nsec) / 100u;
}

// Like Windows, the offset in force now is used for any time, whether or not
// daylight saving time applied then.
std::uint64_t LocalFileTimeToFileTime(std::uint64_t localFileTime) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return localFileTime;
  const std::int64_t offset = static_cast<std::int64_t>(local.tm_gmtoff) *
                              static_cast<std::int64_t>(kTicksPerSecond);
  if (offset > 0 && localFileTime < static_cast<std::uint64_t>(offset)) return 0;
  return localFileTime - static_cast<std::uint64_t>(offset);
}

}  // namespace qvt::platform
