// Time on Windows, straight from the system.
#include "Clock.h"

#include <windows.h>

namespace qvt::platform {

namespace {

std::uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(std::uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

}  // namespace

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::uint64_t CurrentFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

std::uint64_t LocalFileTimeToFileTime(std::uint64_t localFileTime) {
  const FILETIME local = ToFileTime(localFileTime);
  FILETIME utc;
  if (!::LocalFileTimeToFileTime(&local, &utc)) return localFileTime;
  return FromFileTime(utc);
}

}  // namespace qvt::platform
