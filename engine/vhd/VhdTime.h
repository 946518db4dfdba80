// The two time stamps of the format, each made the way Virtual PC makes it.
#ifndef QVT_ENGINE_VHD_VHDTIME_H
#define QVT_ENGINE_VHD_VHDTIME_H

#include <cstdint>

namespace qvt {

// A new footer's Time Stamp: now, in seconds since 2000-01-01 00:00:00 of
// the local zone.
std::uint32_t VhdFooterTimeNow();
// A new child's Parent Time Stamp from the parent file's last write (path
// in encoding 0); false when the file cannot be examined.
bool VhdParentTimeStamp(const char* parentPath, std::uint32_t* stamp);

}  // namespace qvt

#endif
