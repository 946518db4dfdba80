// Time from the host system.
#ifndef QVT_PLATFORM_CLOCK_H
#define QVT_PLATFORM_CLOCK_H

#include <cstdint>

namespace qvt::platform {

struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59
};

LocalTime CurrentLocalTime();
// Now as a Windows FILETIME (100 ns units since 1601-01-01 UTC).
std::uint64_t CurrentFileTime();
// Windows' LocalFileTimeToFileTime: takes the FILETIME as local time and
// gives it in UTC, by the current offset from UTC.
std::uint64_t LocalFileTimeToFileTime(std::uint64_t localFileTime);

}  // namespace qvt::platform

#endif
